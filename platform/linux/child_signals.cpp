#include "platform/linux/child_signals.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/kernel_signal_set.h"

namespace {

// The parent of `pid`, from /proc; 0 where it is gone.
pid_t ParentOf(pid_t pid) {
  std::string stat;
  if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", stat)) return 0;
  // "1234 (name) S 1": the parent follows the name, which may hold any byte, and the state.
  const std::size_t after_name = stat.rfind(')');
  return after_name == std::string::npos || stat.size() < after_name + 4
             ? 0
             : static_cast<pid_t>(std::strtol(stat.c_str() + after_name + 4, nullptr, 10));
}

// Whether `sender` is a process under the tool: the child, what it started, or, as PID 1, an
// orphan of them. Judged when the tool looks: a sender gone by then counts as an outsider.
bool InChildsTree(pid_t sender) {
  const pid_t tool = getpid();
  pid_t up = sender;
  for (int depth = 0; up > 1 && up != tool && depth < 4096; ++depth) up = ParentOf(up);
  return up == tool;  // PID 1 too, when the tool is the first process of its namespace
}

// What the kernel sends to a process group: the terminal's keys, its stops for a background job's
// reads and writes, its size, and, unless the tool leads the session, its hangup.
bool SentToTheGroup(int signal_number) {
  switch (signal_number) {
    case SIGINT:
    case SIGQUIT:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGWINCH:
      return true;
    case SIGHUP:
      return getsid(0) != getpid();
    default:
      return false;
  }
}

enum class Reach { kNobody, kChild, kChildsGroup };

// Whom a signal the tool took must still reach, as the child did not get it.
Reach MissedBy(pid_t child, int signal_number, const siginfo_t& info) {
  if (info.si_code == SI_USER || info.si_code == SI_QUEUE || info.si_code == SI_TKILL) {
    // The tool's own (a write to a reader that is gone), or the child's tree's, which does not
    // signal itself through its parent; a sender in another PID namespace shows as pid 0.
    if (info.si_pid == getpid()) return Reach::kNobody;
    return info.si_pid != 0 && InChildsTree(info.si_pid) ? Reach::kNobody : Reach::kChild;
  }
  if (signal_number == SIGCHLD) return Reach::kNobody;  // a child changed its state
  if (SentToTheGroup(signal_number)) {
    return getpgid(child) == getpgrp() ? Reach::kNobody : Reach::kChildsGroup;
  }
  return Reach::kChild;  // to the tool alone: an alarm armed before its exec, a CPU-time limit
}

// A child that has left the tool's group gets what its new group would get from a terminal.
void SignalChildsGroup(pid_t child, int signal_number) {
  kill(getpgid(child) == child ? -child : child, signal_number);
}

// Whether a continue waits for the tool, held.
bool ContinuePending() {
  sigset_t pending;
  return sigpending(&pending) == 0 && sigismember(&pending, SIGCONT) == 1;
}

// As the kernel stops a process: not at all in an orphaned process group, where it discards the
// terminal's stops (the tool leads the session, as in a tmux window), nor once a continue has come.
// Whether it stopped, or a continue came: held, that continue is still pending.
bool StopAsTheKernelWould(int signal_number) {
  sigset_t only;
  sigset_t mask;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  kill(getpid(), signal_number);
  if (ContinuePending()) {
    const timespec now = {0, 0};
    sigtimedwait(&only, nullptr, &now);  // a continue after it would have discarded it too
    return true;
  }
  sigprocmask(SIG_UNBLOCK, &only, &mask);  // here the tool stops, until it is continued
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  return ContinuePending();
}

// What the wait has learnt between two signals.
struct WaitState {
  bool child_stopped = false;
  int stop_heard = 0;           // a stop the tool heard, to follow once the child has stopped
  bool stop_passed_on = false;  // the child was passed a stop since the last continue
};

void PassOn(pid_t child, int signal_number, const siginfo_t& info, WaitState& state) {
  // Whoever sent it, a continue that finds the child stopped, or about to, is one it missed. The
  // child's stop, if any, is known: its SIGCHLD comes out of the wait before the continue does.
  if (signal_number == SIGCONT) {
    if (state.stop_passed_on || state.child_stopped) SignalChildsGroup(child, SIGCONT);
    state = {state.child_stopped, 0, false};
    return;
  }
  const Reach reach = MissedBy(child, signal_number, info);
  if (signal_number == SIGTSTP || signal_number == SIGTTIN || signal_number == SIGTTOU) {
    state.stop_heard = signal_number;
    state.stop_passed_on = state.stop_passed_on || reach != Reach::kNobody;
  }
  switch (reach) {
    case Reach::kChild:
      if (info.si_code == SI_QUEUE) {
        sigqueue(child, signal_number, info.si_value);  // a real-time signal keeps its value
      } else {
        kill(child, signal_number);
      }
      break;
    case Reach::kChildsGroup:
      SignalChildsGroup(child, signal_number);
      break;
    case Reach::kNobody:
      break;
  }
}

// Started directly, the program would have stopped in the tool's place: once the child has
// stopped on a stop that reached them both, the tool stops too, and the shell sees its job stop.
// A child that catches the stop and goes on keeps the tool going; one stopped alone (a monitor's
// SIGSTOP) leaves it waiting, as nothing would continue the tool. Where the kernel discards the
// tool's stop, the program would not have stopped either.
void FollowTheStop(pid_t child, WaitState& state) {
  const int signal_number = state.stop_heard;
  state.stop_heard = 0;
  if (!StopAsTheKernelWould(signal_number) && state.stop_passed_on) {
    SignalChildsGroup(child, SIGCONT);
    state.stop_passed_on = false;
  }
}

// Collects the end, stop or continue of `child`, and, as the first process of a PID namespace, the
// end of any orphan under the tool, which nobody else would: the kernel hands them all to that
// process. Gives `child` once it has changed, 0 while it runs on, or -1 with errno.
pid_t Reap(pid_t child, int* status, bool reaps_orphans) {
  constexpr int kChanges = WNOHANG | WUNTRACED | WCONTINUED;
  if (!reaps_orphans) return waitpid(child, status, kChanges);
  for (;;) {
    int any_status = 0;
    const pid_t ended = waitpid(-1, &any_status, kChanges);
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
  sigemptyset(&signals.original_mask_);
  sigemptyset(&signals.handled_);
  sigemptyset(&signals.held_);
  for (int signal_number = 1; signal_number <= kKernelSignals; ++signal_number) {
    if (signal_number == SIGKILL || signal_number == SIGSTOP) continue;
    const unsigned long handler = KernelSignalAction(signal_number, nullptr);
    if (handler == reinterpret_cast<unsigned long>(SIG_IGN)) {
      if (signal_number != SIGCHLD) continue;
      signals.sigchld_was_ignored_ = true;
    } else if (handler != reinterpret_cast<unsigned long>(SIG_DFL)) {
      AddToKernelSet(signals.handled_, signal_number);
    }
    AddToKernelSet(signals.held_, signal_number);
  }
  SetKernelMask(SIG_BLOCK, signals.held_, &signals.original_mask_);
  // Ignored, SIGCHLD would have the kernel discard the child's exit status.
  if (signals.sigchld_was_ignored_) static_cast<void>(signal(SIGCHLD, SIG_DFL));
  signals.reaps_orphans_ = getpid() == 1;
  return signals;
}

void ChildSignals::Release() const {
  if (sigchld_was_ignored_) static_cast<void>(signal(SIGCHLD, SIG_IGN));
  SetKernelMask(SIG_SETMASK, original_mask_, nullptr);
}

int ChildSignals::Wait(pid_t child, int* status) const {
  // Every signal has been held since before the child existed, so no end can pass unnoticed
  // between the look and the wait for the next signal.
  WaitState state;
  for (;;) {
    const pid_t changed = Reap(child, status, reaps_orphans_);
    if (changed == child && !WIFSTOPPED(*status) && !WIFCONTINUED(*status)) return 0;
    if (changed == child) state.child_stopped = WIFSTOPPED(*status);
    if (changed < 0 && errno != EINTR) return errno;
    if (changed != 0) continue;
    if (state.stop_heard != 0 && state.child_stopped) {
      FollowTheStop(child, state);
      continue;
    }
    siginfo_t info;
    const long signal_number =
        syscall(SYS_rt_sigtimedwait, &held_, &info, nullptr, sizeof(std::uint64_t));
    if (signal_number < 0 && errno != EINTR) return errno;
    if (signal_number > 0) PassOn(child, static_cast<int>(signal_number), info, state);
  }
}

void ChildSignals::EndAsTheChildEnded(int status) {
  if (!WIFSIGNALED(status) || (WTERMSIG(status) != SIGINT && WTERMSIG(status) != SIGQUIT)) return;
  const int signal_number = WTERMSIG(status);
  prctl(PR_SET_DUMPABLE, 0);  // a core file, if any, is the program's
  static_cast<void>(signal(signal_number, SIG_DFL));
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  kill(getpid(), signal_number);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  // Still here: the first process of a PID namespace, which its own signals do not end.
}
