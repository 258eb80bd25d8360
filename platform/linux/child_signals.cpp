#include "platform/linux/child_signals.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>

#include "platform/console.h"
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

using Clock = std::chrono::steady_clock;
// How long a child has to stop on a stop that reached it too (one in uninterruptible sleep may
// take longer: its stop is then followed at the next Ctrl+Z); and how soon a signal the queue had
// no room for is tried again.
constexpr std::chrono::milliseconds kStopTakes(500);
constexpr std::chrono::milliseconds kRetryRoom(1);

// A signal to pass on to the child.
struct Relayed {
  int signal_number;
  bool queued;  // sent with sigqueue, with its value
  sigval value;
};

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

volatile std::sig_atomic_t continues = 0;  // counted while the tool is about to stop

void CountContinue(int /*signal_number*/) { continues = continues + 1; }

// As the kernel stops a process: not at all in an orphaned process group, where it discards the
// terminal's stops (the tool leads the session, as in a tmux window), nor once a continue has
// come. The kernel discards a continue still pending when a stop is sent, and a stop still
// pending when a continue is: from before the stop is sent until the tool has gone on, a continue
// is let in, to a handler that counts it, so that none is lost whatever the order. Whether a
// continue came.
bool StopUnlessContinued(int signal_number) {
  struct sigaction count = {};
  count.sa_handler = CountContinue;
  sigaction(SIGCONT, &count, nullptr);
  sigset_t continue_signal;
  sigset_t stop_signal;
  sigemptyset(&continue_signal);
  sigaddset(&continue_signal, SIGCONT);
  sigemptyset(&stop_signal);
  sigaddset(&stop_signal, signal_number);
  const std::sig_atomic_t before = continues;
  sigprocmask(SIG_UNBLOCK, &continue_signal, nullptr);  // one already pending is counted here
  kill(getpid(), signal_number);                        // held until let in below
  if (continues == before) {
    sigprocmask(SIG_UNBLOCK, &stop_signal, nullptr);  // here the tool stops, until it is continued
    sigprocmask(SIG_BLOCK, &stop_signal, nullptr);
  } else {
    const timespec now = {0, 0};
    sigtimedwait(&stop_signal, nullptr, &now);  // the continue came first: no stop
  }
  sigprocmask(SIG_BLOCK, &continue_signal, nullptr);
  return continues != before;
}

// What the wait has learnt between two signals.
struct WaitState {
  bool child_stopped = false;
  int stop_heard = 0;             // a stop the tool heard, to follow once the child has stopped
  Clock::time_point forget_stop;  // a stop the child has not stopped on by then, it ignored
  bool stop_passed_on = false;    // the child was passed a stop since the last continue
  bool continued = false;         // the tool was continued, by a continue its handler took
  std::deque<Relayed> backlog;    // signals to pass on, in order, once the queue has room
};

// Passes on what the queue has room for, in order; what the kernel refuses for want of room (the
// user's RLIMIT_SIGPENDING, which the tool's own held signals count against too) waits for the
// next turn.
void PassOnInOrder(pid_t child, WaitState& state) {
  while (!state.backlog.empty()) {
    const Relayed& next = state.backlog.front();
    const int result = next.queued ? sigqueue(child, next.signal_number, next.value)
                                   : kill(child, next.signal_number);
    if (result != 0 && errno == EAGAIN) return;
    if (result != 0 && errno != ESRCH) {
      char note[160];
      static_cast<void>(std::snprintf(
          note, sizeof note,
          "nodestart: signal %d could not be passed on to the program (%s); send it to the "
          "program's own process id",
          next.signal_number, std::strerror(errno)));
      WriteNoteToStderr(note);
    }
    state.backlog.pop_front();
  }
}

void PassOn(pid_t child, int signal_number, const siginfo_t& info, WaitState& state) {
  // Whoever sent it, a continue that finds the child stopped, or about to, is one it missed. The
  // child's stop, if any, is known: its SIGCHLD comes out of the wait before the continue does.
  if (signal_number == SIGCONT) {
    if (state.stop_passed_on || state.child_stopped) SignalChildsGroup(child, SIGCONT);
    state.stop_heard = 0;
    state.stop_passed_on = false;
    return;
  }
  const Reach reach = MissedBy(child, signal_number, info);
  if (signal_number == SIGTSTP || signal_number == SIGTTIN || signal_number == SIGTTOU) {
    state.stop_heard = signal_number;
    state.forget_stop = Clock::now() + kStopTakes;
    state.stop_passed_on = state.stop_passed_on || reach != Reach::kNobody;
  }
  switch (reach) {
    case Reach::kChild:
      // A real-time signal keeps its value.
      state.backlog.push_back({signal_number, info.si_code == SI_QUEUE, info.si_value});
      PassOnInOrder(child, state);
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
// A child that catches the stop and goes on keeps the tool going, and the stop is forgotten; one
// stopped alone (a monitor's SIGSTOP) leaves it waiting, as nothing would continue the tool.
// Where the kernel discards the tool's stop, the program would not have stopped either.
void FollowTheStop(pid_t child, WaitState& state) {
  const int signal_number = state.stop_heard;
  state.stop_heard = 0;
  if (StopUnlessContinued(signal_number)) {
    state.continued = true;  // passed on once the child's own continue, if any, is collected
  } else if (state.stop_passed_on) {
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
    if (state.continued) {
      state.continued = false;
      PassOn(child, SIGCONT, siginfo_t{}, state);
      continue;
    }
    if (state.stop_heard != 0 && state.child_stopped) {
      FollowTheStop(child, state);
      continue;
    }
    PassOnInOrder(child, state);
    // Woken, too, to forget a stop the child did not stop on, and to pass on what waits for room.
    const Clock::time_point now = Clock::now();
    if (state.stop_heard != 0 && now >= state.forget_stop) state.stop_heard = 0;
    Clock::duration wait = Clock::duration::max();
    if (!state.backlog.empty()) wait = kRetryRoom;
    if (state.stop_heard != 0) wait = std::min(wait, state.forget_stop - now);
    const auto wait_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    const timespec timeout = {wait_ns / 1000000000, wait_ns % 1000000000};
    siginfo_t info;
    const long signal_number =
        syscall(SYS_rt_sigtimedwait, &held_, &info,
                wait == Clock::duration::max() ? nullptr : &timeout, sizeof(std::uint64_t));
    if (signal_number < 0 && errno != EINTR && errno != EAGAIN) return errno;
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
