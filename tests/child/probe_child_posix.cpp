// A child for the end-to-end tests: prints its arguments (and its memory policy, if asked), then
// exits with the code, or dies by the signal, it is told. For the signal tests it can also show
// the signal state it started with, count the signals it catches and run for a while.
//   --exit=N --signal=N --policy   as above
//   --status          prints its signal mask, ignored signals, process group, session and files
//   --catch=N         counts signal N (may repeat); "caught N xCOUNT" is printed at the end
//   --ready           prints its pid and "probe ready" once set up
//   --own-group       makes a process group of its own, as timeout and job runners do
//   --signal-parent=N sends signal N to its parent once ready
//   --run-ms=N        runs N ms, or until 300 ms after the first caught signal with --until-caught
//   --mark=PATH       writes what it caught and "ended" to PATH as it ends, before it prints
//   --orphan          leaves, before it is ready, a process of its own that ends 100 ms later
//   --read            reads a line from standard input once ready and prints "read:LINE"
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/memory_policy_posix.h"

namespace {

volatile std::sig_atomic_t caught[NSIG];
volatile std::sig_atomic_t values[NSIG];  // the last value a signal was queued with

int Number(const char* value) { return static_cast<int>(std::strtol(value, nullptr, 10)); }

void Count(int signal_number, siginfo_t* info, void*) {
  caught[signal_number] = caught[signal_number] + 1;
  if (info->si_code == SI_QUEUE) values[signal_number] = info->si_value.sival_int;
}

std::string SignalStatus() {
  std::string out;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0 ||
        line.rfind("Cpus_allowed_list:", 0) == 0) {
      out += line + "\n";
    }
  }
  out += "pgrp:" + std::to_string(getpgrp()) + "\nsid:" + std::to_string(getsid(0)) + "\nfds:";
  if (DIR* fds = opendir("/proc/self/fd")) {
    std::vector<int> open;
    while (const dirent* entry = readdir(fds)) {
      if (entry->d_name[0] != '.' && Number(entry->d_name) != dirfd(fds)) {
        open.push_back(Number(entry->d_name));
      }
    }
    closedir(fds);
    std::sort(open.begin(), open.end());
    for (const int fd : open) out += " " + std::to_string(fd);
  }
  return out + "\n";
}

bool Option(const char* argument, const char* name, const char** value) {
  const std::size_t length = std::strlen(name);
  if (std::strncmp(argument, name, length) != 0) return false;
  *value = argument + length;
  return true;
}

void Print(const std::string& out) {
  for (std::size_t done = 0; done < out.size();) {
    const ssize_t written = write(STDOUT_FILENO, out.data() + done, out.size() - done);
    if (written <= 0) std::_Exit(99);
    done += static_cast<std::size_t>(written);
  }
}

bool AnyCaught() {
  for (const auto count : caught) {
    if (count != 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::string out = std::string("arg0:") + argv[0] + "\n";
  int exit_code = 0;
  int signal_number = 0;
  int parent_signal = 0;
  int run_ms = 0;
  bool ready = false;
  bool status = false;
  bool until_caught = false;
  bool orphan = false;
  bool own_group = false;
  bool read = false;
  std::vector<int> catches;
  const char* mark = nullptr;
  for (int i = 1; i < argc; ++i) {
    out += std::string("arg:") + argv[i] + "\n";
    const char* value = nullptr;
    if (Option(argv[i], "--exit=", &value)) exit_code = Number(value);
    if (Option(argv[i], "--signal=", &value)) signal_number = Number(value);
    if (Option(argv[i], "--signal-parent=", &value)) parent_signal = Number(value);
    if (Option(argv[i], "--catch=", &value)) catches.push_back(Number(value));
    if (Option(argv[i], "--run-ms=", &value)) run_ms = Number(value);
    if (Option(argv[i], "--mark=", &value)) mark = value;
    if (std::strcmp(argv[i], "--policy") == 0) out += "policy:" + MemoryPolicyText(" ", " ") + "\n";
    ready = ready || std::strcmp(argv[i], "--ready") == 0;
    status = status || std::strcmp(argv[i], "--status") == 0;
    until_caught = until_caught || std::strcmp(argv[i], "--until-caught") == 0;
    orphan = orphan || std::strcmp(argv[i], "--orphan") == 0;
    own_group = own_group || std::strcmp(argv[i], "--own-group") == 0;
    read = read || std::strcmp(argv[i], "--read") == 0;
  }
  if (own_group) setpgid(0, 0);
  if (orphan) {
    const pid_t middle = fork();
    if (middle == 0) {
      if (fork() == 0) usleep(100000);
      _exit(0);  // its own child is left to whoever takes orphans in
    }
    waitpid(middle, nullptr, 0);
  }
  if (status) out += SignalStatus();
  struct sigaction counting = {};
  counting.sa_sigaction = Count;
  counting.sa_flags = SA_SIGINFO | SA_RESTART;
  for (const int catch_number : catches) sigaction(catch_number, &counting, nullptr);
  if (ready) out += "pid:" + std::to_string(getpid()) + "\nprobe ready\n";
  Print(out);
  if (parent_signal != 0) kill(getppid(), parent_signal);
  if (read) {
    std::string line;
    for (char c = 0; ::read(STDIN_FILENO, &c, 1) == 1 && c != '\n';) line += c;
    Print("read:" + line + "\n");
  }

  using Clock = std::chrono::steady_clock;
  // Polling keeps it simple; the 300 ms after a first signal leave time for a second one.
  Clock::time_point end = Clock::now() + std::chrono::milliseconds(run_ms);
  for (bool seen = false; Clock::now() < end;) {
    if (until_caught && !seen && AnyCaught()) {
      seen = true;
      end = std::min(end, Clock::now() + std::chrono::milliseconds(300));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::string summary;
  for (const int catch_number : catches) {
    summary +=
        "caught " + std::to_string(catch_number) + " x" + std::to_string(caught[catch_number]) +
        (values[catch_number] != 0 ? " value " + std::to_string(values[catch_number]) : "") + "\n";
  }
  // A hung-up terminal fails the print: the mark comes first.
  if (mark != nullptr) std::ofstream(mark) << summary << "ended\n";
  if (!summary.empty()) Print(summary);
  if (signal_number != 0) {
    static_cast<void>(std::signal(signal_number, SIG_DFL));
    static_cast<void>(std::raise(signal_number));
  }
  return exit_code;
}
