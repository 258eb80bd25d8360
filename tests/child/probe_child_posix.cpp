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
//   --spin            runs them on the CPU, as a computation does
//   --ignore=N        ignores signal N (may repeat)
//   --mark=PATH       writes what it caught and "ended" to PATH as it ends, before it prints
//   --orphan          leaves, before it is ready, a process of its own that ends 100 ms later
//   --read            reads a line from standard input once ready and prints "read:LINE"
// For the probe's look at a running program:
//   --leader-leaves   its first thread leaves (pthread_exit) before it is ready; another runs on
//   --pin-thread=CPU  runs a second thread that may run on CPU alone and prefers node 0
//   --non-dumpable    makes itself not dumpable, as ssh-agent does
//   --huge=KIND:MIB:NODE  writes MIB of transparent huge pages (thp) or hugetlbfs pages
//                     (hugetlb) bound to NODE; may repeat
//   --mappings=N      makes N mappings of a page each, one in four written
//   --threads=N       runs N more threads, idle
//   --on-look=WHAT    once a look begins to read the memory of its first thread (of its first
//                     thread after, for leave), starts sleep in its place (exec), ends (exit) or
//                     ends that thread (leave)
#include <dirent.h>
#include <linux/mempolicy.h>
#include <pthread.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/memory_policy.h"

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

// The memory policy it was started with: its mode, "+balancing" for NUMA balancing, its nodes.
std::string PolicyText() {
  int mode = 0;
  std::vector<unsigned long> nodes;
  if (!GetMemoryPolicy(mode, nodes)) return "unknown";
  std::string text =
      PolicyModeName(mode) + ((mode & MPOL_F_NUMA_BALANCING) != 0 ? "+balancing" : "");
  for (const unsigned long node : nodes) text += " " + std::to_string(node);
  return text;
}

// Memory of `kind` bound to `node`, written: "thp:64:0" or "hugetlb:64:1".
void HugeMemory(const char* kind) {
  const bool thp = std::strncmp(kind, "thp:", 4) == 0;
  char* end = nullptr;
  const std::size_t size = std::strtoul(std::strchr(kind, ':') + 1, &end, 10) << 20;
  const unsigned long mask = 1UL << std::strtoul(end + 1, nullptr, 10);
  constexpr std::size_t kHuge = 2 << 20;
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (thp ? 0 : MAP_HUGETLB);
  auto* mapped = static_cast<char*>(
      mmap(nullptr, size + (thp ? kHuge : 0), PROT_READ | PROT_WRITE, flags, -1, 0));
  if (mapped == MAP_FAILED) std::_Exit(98);
  char* memory = thp ? mapped + (kHuge - reinterpret_cast<std::uintptr_t>(mapped) % kHuge) : mapped;
  if (syscall(SYS_mbind, memory, size, MPOL_BIND, &mask, 64, 0) != 0) std::_Exit(98);
  if (thp) madvise(memory, size, MADV_HUGEPAGE);
  for (std::size_t i = 0; i < size; i += 4096) memory[i] = 1;
}

// `count` mappings of a page each, which the kernel cannot merge: their protections alternate.
// One in four is written.
void Mappings(int count) {
  for (int i = 0; i < count; ++i) {
    const int protection = i % 2 == 0 ? PROT_READ | PROT_WRITE : PROT_READ;
    auto* page =
        static_cast<char*>(mmap(nullptr, 4096, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (page == MAP_FAILED) std::_Exit(98);
    if (i % 4 == 0) *page = 1;
  }
}

// A thread that may run on `cpu` alone and prefers node 0, ready once both are set.
void PinnedThread(int cpu) {
  std::atomic<bool> set(false);
  std::thread([cpu, &set] {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(static_cast<std::size_t>(cpu), &cpus);
    if (sched_setaffinity(0, sizeof cpus, &cpus) != 0 || !SetMemoryPolicy(MPOL_PREFERRED, {0})) {
      std::_Exit(98);
    }
    set = true;
    for (;;) pause();
  }).detach();
  while (!set) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void IdleThreads(int count) {
  for (int i = 0; i < count; ++i) std::thread([] { pause(); }).detach();
}

// Does `what` on the first read of a numa_maps, as the probe's look begins: the file of the
// thread the look reads through, the first thread's or, to leave, the waiting one's.
void OnLook(const std::string& what) {
  std::atomic<bool> set(false);
  std::thread([what, &set] {
    const long thread = what == "leave" ? syscall(SYS_gettid) : getpid();
    const std::string maps =
        "/proc/" + std::to_string(getpid()) + "/task/" + std::to_string(thread) + "/numa_maps";
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, maps.c_str(), IN_ACCESS) < 0) std::_Exit(98);
    set = true;
    char event[256];
    if (read(watch, event, sizeof event) <= 0) std::_Exit(98);
    if (what == "exec") execl("/bin/sleep", "sleep", "10", static_cast<char*>(nullptr));
    if (what != "leave") std::_Exit(0);
  }).detach();
  while (!set) std::this_thread::yield();
}

// Prints `out` once the first thread has left, from a thread that then runs `run_ms` and ends
// the program.
[[noreturn]] void LeaveFirstThread(const std::string& out, int run_ms) {
  std::thread([out, run_ms, first = pthread_self()] {
    pthread_join(first, nullptr);
    Print(out);
    std::this_thread::sleep_for(std::chrono::milliseconds(run_ms));
    std::_Exit(0);
  }).detach();
  pthread_exit(nullptr);
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
  bool leader_leaves = false;
  bool spin = false;
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
    if (Option(argv[i], "--ignore=", &value))
      static_cast<void>(std::signal(Number(value), SIG_IGN));
    spin = spin || std::strcmp(argv[i], "--spin") == 0;
    if (std::strcmp(argv[i], "--policy") == 0) out += "policy:" + PolicyText() + "\n";
    ready = ready || std::strcmp(argv[i], "--ready") == 0;
    status = status || std::strcmp(argv[i], "--status") == 0;
    until_caught = until_caught || std::strcmp(argv[i], "--until-caught") == 0;
    orphan = orphan || std::strcmp(argv[i], "--orphan") == 0;
    own_group = own_group || std::strcmp(argv[i], "--own-group") == 0;
    read = read || std::strcmp(argv[i], "--read") == 0;
    leader_leaves = leader_leaves || std::strcmp(argv[i], "--leader-leaves") == 0;
    if (std::strcmp(argv[i], "--non-dumpable") == 0) prctl(PR_SET_DUMPABLE, 0);
    if (Option(argv[i], "--huge=", &value)) HugeMemory(value);
    if (Option(argv[i], "--mappings=", &value)) Mappings(Number(value));
    if (Option(argv[i], "--pin-thread=", &value)) PinnedThread(Number(value));
    if (Option(argv[i], "--threads=", &value)) IdleThreads(Number(value));
    if (Option(argv[i], "--on-look=", &value)) OnLook(value);
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
  if (leader_leaves) LeaveFirstThread(out, run_ms);
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
    if (!spin) std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
