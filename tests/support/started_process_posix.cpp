#include "support/started_process_posix.h"

#include "support/read_before_posix.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <stdexcept>

namespace {

// Through the kernel directly, so that glibc's own signals 32 and 33 are set as well.
void SetDisposition(int signal_number, void (*handler)(int)) {
  // The kernel's record: the handler, then flags, restorer and mask, all zero.
  const unsigned long action[4] = {reinterpret_cast<unsigned long>(handler)};
  syscall(SYS_rt_sigaction, signal_number, action, nullptr, sizeof(std::uint64_t));
}

// A seccomp filter of the kind containers have: the calls given fail with EPERM, all others pass.
void Refuse(const std::vector<long>& calls) {
  std::vector<sock_filter> program = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  for (const long call : calls) {
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(call), 0, 1));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM));
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  const sock_fprog filter = {static_cast<unsigned short>(program.size()), program.data()};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
    _exit(126);
  }
}

[[noreturn]] void ExecAsTold(const std::string& program, const std::vector<std::string>& arguments,
                             const StartOptions& options, int output) {
  if (options.own_process_group) setpgid(0, 0);
  // A session leader's first terminal becomes its controlling one, its group the foreground.
  if (!options.terminal.empty() && (setsid() < 0 || open(options.terminal.c_str(), O_RDWR) < 0)) {
    _exit(126);
  }
  for (int signal_number = 1; signal_number <= 64; ++signal_number) {
    SetDisposition(signal_number, SIG_DFL);
  }
  for (const int signal_number : options.ignored) SetDisposition(signal_number, SIG_IGN);
  // The kernel's set, glibc's signals 32 and 33 too.
  std::uint64_t mask = 0;
  for (const int signal_number : options.blocked) mask |= std::uint64_t{1} << (signal_number - 1);
  syscall(SYS_rt_sigprocmask, SIG_SETMASK, &mask, nullptr, sizeof mask);
  dup2(output, STDOUT_FILENO);
  close(output);
  if (options.stack_kib != 0) {
    const rlimit stack = {options.stack_kib * 1024, options.stack_kib * 1024};
    setrlimit(RLIMIT_STACK, &stack);
  }
  if (!options.refused_calls.empty()) Refuse(options.refused_calls);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

}  // namespace

StartedProcess::StartedProcess(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const StartOptions& options) {
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (options.no_reader) close(pipe_ends[0]);
  if (options.slow_non_blocking) {
    fcntl(pipe_ends[1], F_SETPIPE_SZ, 4096);
    fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK);
  }
  pid_ = fork();
  if (pid_ == 0) ExecAsTold(program, arguments, options, dup(pipe_ends[1]));
  close(pipe_ends[1]);
  output_ = options.no_reader ? -1 : pipe_ends[0];
  if (pid_ < 0) throw std::runtime_error("fork failed");
  // Set here too, so that the group exists before the test signals it.
  if (options.own_process_group) setpgid(pid_, pid_);
}

StartedProcess::~StartedProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (output_ >= 0) close(output_);
}

bool StartedProcess::ReadUntil(const std::string& text, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (read_.find(text) == std::string::npos) {
    if (!ReadMoreBefore(output_, end, read_)) return false;
  }
  return true;
}

void StartedProcess::CloseOutput() {
  close(output_);
  output_ = -1;
}

ProcessResult StartedProcess::Finish() {
  ProcessResult result;
  char buffer[4096];
  while (output_ >= 0) {
    const ssize_t got = read(output_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    read_.append(buffer, static_cast<std::size_t>(got));
  }
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  result.output = read_;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}
