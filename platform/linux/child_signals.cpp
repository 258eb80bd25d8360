#include "platform/linux/child_signals.h"

#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>  // environ

#include <cerrno>
#include <cstdint>

namespace {

// The kernel's signals are numbered 1 to 64, one bit each in its masks.
constexpr int kKernelSignals = 64;
constexpr int kBitsPerWord = static_cast<int>(sizeof(unsigned long) * 8);

// Asks the kernel directly: glibc's sigaction refuses to speak of its own signals, 32 and 33.
bool IgnoredNow(int signal_number) {
  // The kernel's record holds the handler first, then flags, restorer and mask, as the
  // architecture has them.
  unsigned long action[4] = {};
  return syscall(SYS_rt_sigaction, signal_number, nullptr, action, sizeof(std::uint64_t)) == 0 &&
         action[0] == reinterpret_cast<unsigned long>(SIG_IGN);
}

// Every signal the tool does not ignore, for the child to start at its default action, as exec
// would have it. Without this glibc's posix_spawn leaves its own signals 32 and 33 ignored in the
// child. glibc's sigaddset will not name those two, so the set is written as the kernel reads it.
sigset_t NotIgnoredSignals() {
  sigset_t set;
  sigemptyset(&set);
  auto* words = reinterpret_cast<unsigned long*>(&set);
  for (int signal_number = 1; signal_number <= kKernelSignals; ++signal_number) {
    if (!IgnoredNow(signal_number)) {
      const int bit = signal_number - 1;
      words[bit / kBitsPerWord] |= 1UL << (bit % kBitsPerWord);
    }
  }
  return set;
}

// A signal some process sent to the tool alone is meant for the child too. One from the terminal
// (SI_KERNEL) went to the whole foreground process group, and one from the child or from a member
// of the tool's own group was almost surely sent to the group: the child has those already. A
// sender in another PID namespace (a container runtime stopping its container) shows as pid 0:
// an outsider, though getpgid(0) would name the tool's own group.
bool SentToToolAlone(const siginfo_t& info, pid_t child) {
  if (info.si_code != SI_USER && info.si_code != SI_QUEUE && info.si_code != SI_TKILL) {
    return false;
  }
  if (info.si_pid == 0) return true;
  if (info.si_pid == child) return false;
  const pid_t sender_group = getpgid(info.si_pid);
  return sender_group < 0 || sender_group != getpgrp();  // a sender gone is taken as an outsider
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
  // SIGPIPE too, so that a write to a vanished reader fails instead of ending the tool.
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

int ChildSignals::Spawn(pid_t* pid, const char* program, char* const argv[]) const {
  posix_spawnattr_t attributes;
  int error = posix_spawnattr_init(&attributes);
  if (error == 0) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setsigmask(&attributes, &original_mask_);
    posix_spawnattr_setsigdefault(&attributes, &child_defaults_);
    error = posix_spawnp(pid, program, nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
  }
  return error;
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
        SentToToolAlone(info, child)) {
      kill(child, signal_number);
    }
  }
}
