#include "platform/linux/child_signals.h"

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/kernel_signal_set.h"

namespace {

// Asks the kernel directly: glibc's sigaction refuses to speak of its own signals, 32 and 33.
bool IgnoredNow(int signal_number) {
  // The kernel's record holds the handler first, then flags, restorer and mask, as the
  // architecture has them.
  unsigned long action[4] = {};
  return syscall(SYS_rt_sigaction, signal_number, nullptr, action, sizeof(std::uint64_t)) == 0 &&
         action[0] == reinterpret_cast<unsigned long>(SIG_IGN);
}

// Every signal the tool does not ignore, for the child to start at its default action, as exec
// would have it, glibc's own signals 32 and 33 among them.
sigset_t NotIgnoredSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number = 1; signal_number <= kKernelSignals; ++signal_number) {
    if (!IgnoredNow(signal_number)) AddToKernelSet(set, signal_number);
  }
  return set;
}

// The parent of `pid`, from /proc; 0 where it cannot be read (the process is gone).
pid_t ParentOf(pid_t pid) {
  std::string stat;
  if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", stat)) return 0;
  // "1234 (name) S 1: the parent follows the name, which may hold any byte, and the state.
  const std::size_t after_name = stat.rfind(')');
  return after_name == std::string::npos || stat.size() < after_name + 4
             ? 0
             : static_cast<pid_t>(std::strtol(stat.c_str() + after_name + 4, nullptr, 10));
}

// Whether `sender` belongs to the child's tree: a process under the tool (the child, what it
// started, or, as PID 1, an orphan of them), or one in a process group the child leads.
bool InChildsTree(pid_t sender, pid_t child) {
  if (getpgid(sender) == child) return true;
  const pid_t tool = getpid();
  pid_t up = ParentOf(sender);
  for (int depth = 0; up > 1 && up != tool && depth < 4096; ++depth) up = ParentOf(up);
  return up == tool;  // PID 1 too, when the tool is the first process of its namespace
}

// Whether a signal is the child's to hear from the tool: all but those the child's own tree
// sent, which does not signal itself through its parent. A sender in another PID namespace (a
// container runtime) shows as pid 0: an outsider. What the kernel sends (the terminal's keys and
// hangup, an alarm) went to the tool's group or to the tool alone, never to the child's group.
bool ForTheChild(const siginfo_t& info, pid_t child) {
  if (info.si_code != SI_USER && info.si_code != SI_QUEUE && info.si_code != SI_TKILL) return true;
  return info.si_pid == 0 || !InChildsTree(info.si_pid, child);
}

// Whether a relayed signal stands for one to a terminal's foreground group (the terminal's keys),
// so that it goes to the child's group; else the child alone gets it, as the tool alone got it (a
// sender's kill, an alarm, the hangup of a session's leader).
bool ForTheChildsGroup(int signal_number, const siginfo_t& info) {
  if (info.si_code != SI_KERNEL || signal_number == SIGALRM) return false;
  return signal_number != SIGHUP || getsid(0) != getpid();
}

// To the child's group; a child that has left its group is still reached itself.
void SignalChildsGroup(pid_t child, int signal_number) {
  if (kill(-child, signal_number) != 0) kill(child, signal_number);
}

// Whether SIGCONT is waiting for the tool: it has been continued.
bool ContinuePending() {
  sigset_t pending;
  return sigpending(&pending) == 0 && sigismember(&pending, SIGCONT) == 1;
}

// Collects the end or stop of `child`, and, as the first process of a PID namespace, of any orphan
// that has ended under the tool, which nobody else would: the kernel hands them all to that
// process. Gives `child` once it has ended or stopped, 0 while it runs, or -1 with errno.
pid_t Reap(pid_t child, int* status, bool reaps_orphans) {
  if (!reaps_orphans) return waitpid(child, status, WNOHANG | WUNTRACED);
  for (;;) {
    int any_status = 0;
    const pid_t ended = waitpid(-1, &any_status, WNOHANG | WUNTRACED);
    if (ended <= 0) return ended;
    if (ended == child) {
      *status = any_status;
      return child;
    }
  }
}

}  // namespace

ChildSignals ChildSignals::Hold() {
  ChildSignals signals;
  signals.child_defaults_ = NotIgnoredSignals();
  const sigset_t& not_ignored = signals.child_defaults_;
  sigemptyset(&signals.relayed_);
  for (const int signal_number : kRelayedSignals) {
    if (sigismember(&not_ignored, signal_number) == 1) sigaddset(&signals.relayed_, signal_number);
  }
  signals.waited_ = signals.relayed_;
  sigaddset(&signals.waited_, SIGCHLD);
  // SIGPIPE too, so that one sent to the tool cannot end it while the child runs.
  sigset_t blocked = signals.waited_;
  if (sigismember(&not_ignored, SIGPIPE) == 1) sigaddset(&blocked, SIGPIPE);
  sigaddset(&blocked, SIGTTOU);
  sigprocmask(SIG_BLOCK, &blocked, &signals.original_mask_);
  // With SIGCHLD ignored the kernel would discard the child's exit status. The child then starts
  // with SIGCHLD at its default, which POSIX allows exec to do as well.
  signals.sigchld_was_ignored_ = sigismember(&not_ignored, SIGCHLD) != 1;
  if (signals.sigchld_was_ignored_) static_cast<void>(signal(SIGCHLD, SIG_DFL));
  signals.reaps_orphans_ = getpid() == 1;
  signals.terminal_ = ChildTerminal::OfTheTool();
  return signals;
}

void ChildSignals::Release() const {
  if (sigchld_was_ignored_) static_cast<void>(signal(SIGCHLD, SIG_IGN));
  sigprocmask(SIG_SETMASK, &original_mask_, nullptr);
}

int ChildSignals::Wait(pid_t child, int* status) const {
  // SIGCHLD has been held since before the child existed, so no end can pass unnoticed between
  // the look and the wait for the next signal.
  for (;;) {
    const pid_t changed = Reap(child, status, reaps_orphans_);
    if (changed == child && !WIFSTOPPED(*status)) {
      terminal_.TakeBackFrom(child);
      return 0;
    }
    if (changed == child) FollowStop(child, WSTOPSIG(*status));
    if (changed < 0 && errno != EINTR) return errno;
    if (changed != 0) continue;
    siginfo_t info;
    const int signal_number = sigwaitinfo(&waited_, &info);
    if (signal_number < 0 && errno != EINTR) return errno;
    if (signal_number > 0 && sigismember(&relayed_, signal_number) == 1 &&
        ForTheChild(info, child)) {
      Relay(child, signal_number, info);
    }
  }
}

void ChildSignals::Relay(pid_t child, int signal_number, const siginfo_t& info) const {
  if (signal_number == SIGCONT) {
    Resume(child);
    return;
  }
  if (ForTheChildsGroup(signal_number, info)) {
    SignalChildsGroup(child, signal_number);
  } else {
    kill(child, signal_number);
  }
}

// Started directly, the program would have stopped in the tool's place: so the tool stops too,
// by the same signal, and the shell sees its job stop. When the child held the terminal, the
// stop was the terminal's, which reaches the whole foreground job: the tool's group.
void ChildSignals::FollowStop(pid_t child, int signal_number) const {
  // The child would read or write the terminal that the tool's job holds (a job brought back
  // with fg, a pipeline's program that asks the user): it takes the terminal and goes on, as it
  // would started directly.
  if (signal_number == SIGTTIN || signal_number == SIGTTOU) {
    terminal_.GiveOnRequest(child);
    if (terminal_.HeldBy(child)) {
      Resume(child);
      return;
    }
  }
  const bool job_stop = terminal_.HeldBy(child);
  terminal_.TakeBackFrom(child);
  if (signal_number != SIGSTOP && !InKernelSet(child_defaults_, signal_number)) {
    signal_number = SIGSTOP;  // the tool ignores that one
  }
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  sigset_t mask;
  kill(job_stop ? 0 : getpid(), signal_number);
  // Held, it acts once the mask lets it through: the tool stops here until it is continued.
  sigprocmask(SIG_UNBLOCK, &only, &mask);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  // Nothing to wait for if the kernel discarded the stop, as it does in an orphaned process
  // group (a session's leader under setsid): the child then goes on, as it would have there.
  if (!ContinuePending()) Resume(child);
}

void ChildSignals::Resume(pid_t child) const {
  terminal_.GiveTo(child);
  SignalChildsGroup(child, SIGCONT);  // a stopped job resumes as a whole
}
