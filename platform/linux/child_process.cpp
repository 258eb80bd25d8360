// The launch on Linux, top to bottom: the command line split as the program would see it on
// Windows, the preferred node as the child's memory policy, the CPUs it starts on, its start with
// the signals held around it, the wait that passes on what it missed, and the tool's end as the
// child's. The child stays in the tool's process group, the job's, so the kernel itself delivers
// the terminal's keys, stops and continues to both, as to any job; the tool passes on only what
// the child did not get, and none of it ends the tool before it has reported the child's end.
#include "platform/child_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>  // environ

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/linux/command_line_split.h"
#include "platform/linux/kernel_lists.h"
#include "platform/linux/kernel_signal_set.h"
#include "platform/linux/memory_policy.h"
#include "platform/linux/node_topology.h"
#include "platform/linux/start_cpus.h"
#include "text/lossless_utf8.h"

namespace {

// The run's one child, from its start to its end.
struct Run {
  pid_t pid = 0;
  bool ended = false;
  int status = 0;          // its wait status, once ended
  sigset_t original_mask;  // the tool's mask as it was started: the child's
  sigset_t handled;        // signals with a handler in the tool: at their default in the child
  sigset_t held;           // every signal the tool holds and takes in turn
  bool sigchld_was_ignored = false;
  bool reaps_orphans = false;  // the tool is the first process of its PID namespace
} run;

// The report names the step as Windows does; the reason is the kernel's, in the C library's own
// plain English (the tool never calls setlocale).
ChildStartFailure Failed(int error_number) {
  return {L"CreateProcess", DecodeLossless(std::strerror(error_number)) + L"\n"};
}

// The kernel's refusal to set the memory policy, in terms the user can act on. Its word for a
// node it will not prefer is EINVAL, as for every bad mask: the report then says which node and
// which ones the process may use. EPERM comes from a seccomp filter: the kernel itself asks no
// privilege, but a container runtime's default profile allows memory policies only with
// CAP_SYS_NICE, and a systemd unit's SystemCallFilter= may leave them out.
ChildStartFailure PreferenceRefused(int error_number, std::uint16_t node) {
  if (error_number == EINVAL) {
    return {L"CreateProcess", RefusedNodeText(node, kSystemNodes, AllowedNodes()) + L"\n"};
  }
  if (error_number == EPERM) {
    return {L"CreateProcess",
            L"a seccomp filter refuses NUMA memory policies here (allow set_mempolicy, or give a "
            L"container CAP_SYS_NICE)\n"};
  }
  return Failed(error_number);
}

// Reads the tool's signal state, then holds (blocks) every signal the tool does not ignore and
// can hold, so that from the moment the child exists none of them can end the tool; each is
// taken in turn by the wait. A signal the tool ignores stays ignored, for it and the child. The
// child's state, as exec gives it: the mask the tool was started with; the signals the tool had a
// handler for (glibc's own) back at their default; SIGCHLD ignored again where the tool was
// started ignoring it, which the tool itself cannot, as it waits.
void HoldSignals() {
  sigemptyset(&run.original_mask);
  sigemptyset(&run.handled);
  sigemptyset(&run.held);
  for (int signal_number = 1; signal_number <= kKernelSignals; ++signal_number) {
    if (signal_number == SIGKILL || signal_number == SIGSTOP) continue;
    const unsigned long handler = KernelSignalAction(signal_number, nullptr);
    if (handler == reinterpret_cast<unsigned long>(SIG_IGN)) {
      if (signal_number != SIGCHLD) continue;
      run.sigchld_was_ignored = true;
    } else if (handler != reinterpret_cast<unsigned long>(SIG_DFL)) {
      AddToKernelSet(run.handled, signal_number);
    }
    AddToKernelSet(run.held, signal_number);
  }
  SetKernelMask(SIG_BLOCK, run.held, &run.original_mask);
  // Ignored, SIGCHLD would have the kernel discard the child's exit status.
  if (run.sigchld_was_ignored) static_cast<void>(signal(SIGCHLD, SIG_DFL));
  run.reaps_orphans = getpid() == 1;
}

// Puts back the tool's own state: after a failed start, a signal held meanwhile acts now.
void ReleaseSignals() {
  if (run.sigchld_was_ignored) static_cast<void>(signal(SIGCHLD, SIG_IGN));
  SetKernelMask(SIG_SETMASK, run.original_mask, nullptr);
}

// The files to try for `program`, in turn, as posix_spawnp tries them: the name itself when it
// has a slash, else each directory of PATH (an empty one is the current directory). None, with
// `error` set, for a name no file can have.
std::vector<std::string> Candidates(const std::string& program, int* error) {
  if (program.find('/') != std::string::npos) return {program};
  if (program.empty() || program.size() > NAME_MAX) {
    *error = program.empty() ? ENOENT : ENAMETOOLONG;
    return {};
  }
  const char* path = std::getenv("PATH");
  const std::string directories = path != nullptr ? path : "/bin:/usr/bin";
  std::vector<std::string> files;
  for (std::size_t at = 0;;) {
    const std::size_t end = std::min(directories.find(':', at), directories.size());
    std::string file = directories.substr(at, end - at);
    if (file.size() < PATH_MAX)
      files.push_back(file.empty() ? program : file.append("/" + program));
    if (end == directories.size()) return files;
    at = end + 1;
  }
}

// The CPU-time timers: they count the CPU time of the process that armed them, which exec keeps
// and fork does not.
constexpr int kCpuTimers[] = {ITIMER_PROF, ITIMER_VIRTUAL};

// What the child is handed besides its start.
struct Handover {
  itimerval cpu_timers[2];  // as they were in the tool, disarmed there meanwhile
  const char* tool_status;  // /proc/TOOL/status
};

// Whether the tool holds a Ctrl+C or Ctrl+\ the child does not block: one that came before the
// child existed, which the kernel gave the tool alone. Read by the child once it exists, so that
// one that comes later reaches the child itself. Only calls the kernel serves, into the stack.
bool InterruptedBeforeTheChild(const char* tool_status, const sigset_t& child_mask) {
  char text[4096];
  const int file = open(tool_status, O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  const ssize_t size = read(file, text, sizeof text - 1);
  close(file);
  if (size <= 0) return false;
  text[size] = '\0';
  const char* shared = std::strstr(text, "ShdPnd:");
  if (shared == nullptr) return false;
  const unsigned long long pending = std::strtoull(shared + 7, nullptr, 16);
  for (const int signal_number : {SIGINT, SIGQUIT}) {
    if ((pending >> (signal_number - 1) & 1) != 0 && !InKernelSet(child_mask, signal_number)) {
      return true;
    }
  }
  return false;
}

// The child's part, in the tool's memory until the exec: nothing but calls the kernel serves.
// Returns only if no file could be run, with the errno value to report.
int BecomeTheProgram(char* const* argv, const StartCpus& cpus, const Handover& handover, pid_t tool,
                     const char* const* files, std::size_t count) {
  // Killed with the tool, however the tool ends (a harness's SIGKILL, the OOM killer), as a
  // program started directly would have been; and not started at all if the tool is gone already.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != tool) kill(getpid(), SIGKILL);
  if (InterruptedBeforeTheChild(handover.tool_status, run.original_mask)) return EINTR;
  // The kernel's records: SIG_DFL or SIG_IGN, no flags, no mask.
  const unsigned long at_default[4] = {};
  const unsigned long ignored[4] = {reinterpret_cast<unsigned long>(SIG_IGN)};
  for (int signal_number = 1; signal_number <= kKernelSignals; ++signal_number) {
    if (InKernelSet(run.handled, signal_number)) KernelSignalAction(signal_number, at_default);
  }
  if (run.sigchld_was_ignored) KernelSignalAction(SIGCHLD, ignored);
  // Started on the node's CPUs, then free again: the program stays there while the node has
  // room, and none of its threads is restricted. Should either call fail, it starts as it is.
  if (cpus.narrowed && sched_setaffinity(0, sizeof cpus.start, &cpus.start) == 0) {
    sched_setaffinity(0, sizeof cpus.own, &cpus.own);
  }
  for (int i = 0; i < 2; ++i) {
    if (timerisset(&handover.cpu_timers[i].it_value)) {
      setitimer(kCpuTimers[i], &handover.cpu_timers[i], nullptr);
    }
  }
  SetKernelMask(SIG_SETMASK, run.original_mask, nullptr);
  int error = 0;  // one that no other directory would change
  bool denied = false;
  for (std::size_t i = 0; i < count && error == 0; ++i) {
    execve(files[i], argv, environ);
    switch (errno) {
      case EACCES:
        denied = true;
        break;
      case ENOENT:
      case ESTALE:
      case ENOTDIR:
      case ENODEV:
      case ETIMEDOUT:
        break;  // not here: the next directory
      default:
        error = errno;
    }
  }
  if (error == 0) error = denied ? EACCES : errno;
  return error;
}

// Starts the child as posix_spawnp would: a name without a slash is looked up in PATH, and a
// file that is no program is not handed to a shell. Before its program runs, the child is bound
// to end with the tool, takes the signal state exec would give it and, narrowed, moves onto the
// CPUs of its start, then is widened back to its own: race-free, as nothing of the program runs
// until the exec. It stays in the tool's process group and session, as exec would leave it, and
// takes over the CPU-time timers the tool was started with, as exec would have kept them for it.
// Returns 0, or the errno value of the failure; EINTR where the terminal's Ctrl+C or Ctrl+\ came
// before the child existed (the program would never hear it): it is not started, and the
// signal, held, is the tool's to end by.
int Spawn(const std::string& program, char* const* argv, const StartCpus& cpus) {
  int error = 0;
  const std::vector<std::string> candidates = Candidates(program, &error);
  if (candidates.empty()) return error;
  std::vector<const char*> files;
  files.reserve(candidates.size());
  for (const std::string& file : candidates) files.push_back(file.c_str());

  // The child shares the tool's memory until its exec, so no handler may run in it: every
  // signal is held meanwhile, as posix_spawn holds them.
  sigset_t every_signal;
  sigset_t mask;
  sigfillset(&every_signal);
  for (const int signal_number : {32, 33}) AddToKernelSet(every_signal, signal_number);
  SetKernelMask(SIG_SETMASK, every_signal, &mask);
  const pid_t tool = getpid();
  const std::string tool_status = "/proc/" + std::to_string(tool) + "/status";
  Handover handover = {{}, tool_status.c_str()};
  const itimerval disarmed = {};
  for (int i = 0; i < 2; ++i) setitimer(kCpuTimers[i], &disarmed, &handover.cpu_timers[i]);
  volatile int child_error = 0;  // written by the child before it ends, if it cannot exec
  // vfork, as posix_spawn does it, so that starting costs no copy of the tool's memory.
  const pid_t child = vfork();  // NOLINT(clang-analyzer-security.insecureAPI.vfork)
  if (child == 0) {
    // Only calls the kernel serves, then the exec or _exit.
    // NOLINTNEXTLINE(clang-analyzer-unix.Vfork)
    child_error = BecomeTheProgram(argv, cpus, handover, tool, files.data(), files.size());
    _exit(127);
  }
  const int vfork_error = errno;
  SetKernelMask(SIG_SETMASK, mask, nullptr);
  if (child < 0 || child_error != 0) {
    // Nothing started: the tool's timers go on counting for it.
    for (int i = 0; i < 2; ++i) setitimer(kCpuTimers[i], &handover.cpu_timers[i], nullptr);
  }
  if (child < 0) return vfork_error;
  if (child_error != 0) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return child_error;
  }
  run.pid = child;
  return 0;
}

// The parent of `pid`, from /proc; 0 where it is gone.
pid_t ParentOf(pid_t pid) {
  std::vector<std::string> fields;  // the state, then the parent
  if (!ReadStatFields(AT_FDCWD, "/proc/" + std::to_string(pid) + "/stat", fields) ||
      fields.size() < 2) {
    return 0;
  }
  return static_cast<pid_t>(std::strtol(fields[1].c_str(), nullptr, 10));
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

// Waits until the child ends and records its wait status. Meanwhile a signal the child did not
// get goes on to it (one sent to the tool alone from outside the child's tree, one the kernel sent
// to the tool alone, the terminal's when the child has left the tool's group), a stop that the
// child stopped on too stops the tool as the kernel would, a continue reaches a stopped child,
// and, as PID 1 of its namespace, the tool reaps every process that ends under it. Returns 0,
// or the errno value of the failure.
int WaitForEnd() {
  const pid_t child = run.pid;
  int* const status = &run.status;
  // Every signal has been held since before the child existed, so no end can pass unnoticed
  // between the look and the wait for the next signal.
  WaitState state;
  for (;;) {
    const pid_t changed = Reap(child, status, run.reaps_orphans);
    if (changed == child && !WIFSTOPPED(*status) && !WIFCONTINUED(*status)) {
      run.ended = true;
      return 0;
    }
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
        syscall(SYS_rt_sigtimedwait, &run.held, &info,
                wait == Clock::duration::max() ? nullptr : &timeout, sizeof(std::uint64_t));
    if (signal_number < 0 && errno != EINTR && errno != EAGAIN) return errno;
    if (signal_number > 0) PassOn(child, static_cast<int>(signal_number), info, state);
  }
}

}  // namespace

// The command line is writable for Windows, which may write into it; here it is only read.
// cppcheck-suppress constParameter
void StartChild(const WideText& application_name, WideText& command_line, std::uint16_t node) {
  try {
    const std::string program = EncodeLossless(application_name);
    std::vector<std::string> arguments;
    for (const WideText& argument : SplitCommandLine(command_line)) {
      arguments.push_back(EncodeLossless(argument));
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    // The kernel copies the policy into the child, which keeps it for good; the tool's own is
    // put back once the child exists.
    ScopedPreferredNode preference;
    if (const int error = preference.Prefer(node)) throw PreferenceRefused(error, node);
    // Windows' ideal node has the child's threads prefer the node's processors: here it starts
    // on one of them, free to go elsewhere.
    const StartCpus cpus = StartCpusFor(node);
    HoldSignals();
    if (const int error = Spawn(program, argv.data(), cpus)) {
      ReleaseSignals();
      throw Failed(error);
    }
  } catch (const std::bad_alloc&) {
    throw Failed(ENOMEM);
  }
}

std::int32_t WaitForChild() {
  if (WaitForEnd() != 0) return 0;  // never seen to end: no code to give
  if (WIFSIGNALED(run.status)) return 128 + WTERMSIG(run.status);
  return WEXITSTATUS(run.status);
}

void EndAsTheChildEnded() {
  // A child that died of Ctrl+C or Ctrl+\ ends the tool by the same signal, without a core file
  // of its own, so that a shell loop, a script or make stops as it would have with the program
  // started directly.
  const int status = run.status;
  if (!run.ended) return;
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
