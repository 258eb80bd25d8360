// A signal set as the kernel reads it: signals 1 to 64, one bit each. glibc's own calls will not
// name, block or reset its signals 32 and 33, so the tool reads and writes the bits itself and
// hands the sets to the kernel directly.
#pragma once

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

constexpr int kKernelSignals = 64;
constexpr int kBitsPerSetWord = static_cast<int>(sizeof(unsigned long) * 8);

inline bool InKernelSet(const sigset_t& set, int signal_number) {
  const auto* words = reinterpret_cast<const unsigned long*>(&set);
  const int bit = signal_number - 1;
  return (words[bit / kBitsPerSetWord] >> (bit % kBitsPerSetWord) & 1) != 0;
}

inline void AddToKernelSet(sigset_t& set, int signal_number) {
  auto* words = reinterpret_cast<unsigned long*>(&set);
  const int bit = signal_number - 1;
  words[bit / kBitsPerSetWord] |= 1UL << (bit % kBitsPerSetWord);
}

// sigprocmask, signals 32 and 33 included.
inline void SetKernelMask(int how, const sigset_t& set, sigset_t* previous) {
  syscall(SYS_rt_sigprocmask, how, &set, previous, sizeof(std::uint64_t));
}

// A signal's action as the kernel records it: the handler first, then flags, restorer and mask.
// An `action` of nullptr only reads it.
inline unsigned long KernelSignalAction(int signal_number, const void* action) {
  unsigned long previous[4] = {};
  syscall(SYS_rt_sigaction, signal_number, action, previous, sizeof(std::uint64_t));
  return previous[0];
}
