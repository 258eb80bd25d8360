#include "platform/linux/child_spawn.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>  // environ

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/kernel_signal_set.h"

namespace {

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
int BecomeTheProgram(const ChildStart& start, const Handover& handover, pid_t tool,
                     const char* const* files, std::size_t count) {
  // Killed with the tool, however the tool ends (a harness's SIGKILL, the OOM killer), as a
  // program started directly would have been; and not started at all if the tool is gone already.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != tool) kill(getpid(), SIGKILL);
  if (InterruptedBeforeTheChild(handover.tool_status, *start.mask)) return EINTR;
  // The kernel's records: SIG_DFL or SIG_IGN, no flags, no mask.
  const unsigned long at_default[4] = {};
  const unsigned long ignored[4] = {reinterpret_cast<unsigned long>(SIG_IGN)};
  for (int signal_number = 1; signal_number <= kKernelSignals; ++signal_number) {
    if (InKernelSet(*start.defaults, signal_number)) KernelSignalAction(signal_number, at_default);
  }
  if (start.ignore_sigchld) KernelSignalAction(SIGCHLD, ignored);
  // Started on the node's CPUs, then free again: the program stays there while the node has
  // room, and none of its threads is restricted. Should either call fail, it starts as it is.
  if (start.cpus != nullptr && start.cpus->narrowed &&
      sched_setaffinity(0, sizeof start.cpus->start, &start.cpus->start) == 0) {
    sched_setaffinity(0, sizeof start.cpus->own, &start.cpus->own);
  }
  for (int i = 0; i < 2; ++i) {
    if (timerisset(&handover.cpu_timers[i].it_value)) {
      setitimer(kCpuTimers[i], &handover.cpu_timers[i], nullptr);
    }
  }
  SetKernelMask(SIG_SETMASK, *start.mask, nullptr);
  int error = 0;  // one that no other directory would change
  bool denied = false;
  for (std::size_t i = 0; i < count && error == 0; ++i) {
    execve(files[i], start.argv, environ);
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

}  // namespace

int SpawnChild(const ChildStart& start, pid_t* pid) {
  int error = 0;
  const std::vector<std::string> candidates = Candidates(start.program, &error);
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
    child_error = BecomeTheProgram(start, handover, tool, files.data(), files.size());
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
  *pid = child;
  return 0;
}
