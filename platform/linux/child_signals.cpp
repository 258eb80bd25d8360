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
  if (!ReadFirstLine("/proc/" + std::to_string(pid) + "/stat", stat)) return 0;
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

// Whether a signal is the child's to hear from the tool. One from the terminal (SI_KERNEL) went
// to the whole foreground process group, the child with it; one from the child's own tree was
// sent by the child's side, which does not signal itself through its parent. Everything else,
// the tool's own process group included (a harness that leads it and stops the tool alone),
// goes on. A sender in another PID namespace (a container runtime) shows as pid 0: an outsider.
bool ForTheChild(const siginfo_t& info, pid_t child) {
  if (info.si_code != SI_USER && info.si_code != SI_QUEUE && info.si_code != SI_TKILL) {
    return false;
  }
  return info.si_pid == 0 || !InChildsTree(info.si_pid, child);
}

// Collects the end of `child`, and, as the first process of a PID namespace, of any orphan that
// has ended under the tool, which nobody else would: the kernel hands them all to that process.
// Gives `child` once it has ended, 0 while it runs, or -1 with errno.
pid_t Reap(pid_t child, int* status, bool reaps_orphans) {
  if (!reaps_orphans) return waitpid(child, status, WNOHANG);
  for (;;) {
    int any_status = 0;
    const pid_t ended = waitpid(-1, &any_status, WNOHANG);
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
  sigprocmask(SIG_BLOCK, &blocked, &signals.original_mask_);
  // With SIGCHLD ignored the kernel would discard the child's exit status. The child then starts
  // with SIGCHLD at its default, which POSIX allows exec to do as well.
  signals.sigchld_was_ignored_ = sigismember(&not_ignored, SIGCHLD) != 1;
  if (signals.sigchld_was_ignored_) static_cast<void>(signal(SIGCHLD, SIG_DFL));
  signals.reaps_orphans_ = getpid() == 1;
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
    const pid_t ended = Reap(child, status, reaps_orphans_);
    if (ended == child) return 0;
    if (ended < 0 && errno != EINTR) return errno;
    siginfo_t info;
    const int signal_number = sigwaitinfo(&waited_, &info);
    if (signal_number < 0 && errno != EINTR) return errno;
    if (signal_number > 0 && sigismember(&relayed_, signal_number) == 1 &&
        ForTheChild(info, child)) {
      kill(child, signal_number);
    }
  }
}
