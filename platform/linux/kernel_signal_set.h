// A signal set as the kernel reads it: signals 1 to 64, one bit each. glibc's own calls will not
// name, block or reset its signals 32 and 33, so the tool reads and writes the bits itself.
#pragma once

#include <signal.h>

constexpr int kKernelSignals = 64;

inline bool InKernelSet(const sigset_t& set, int signal_number) {
  constexpr int bits_per_word = static_cast<int>(sizeof(unsigned long) * 8);
  const auto* words = reinterpret_cast<const unsigned long*>(&set);
  const int bit = signal_number - 1;
  return (words[bit / bits_per_word] >> (bit % bits_per_word) & 1) != 0;
}

inline void AddToKernelSet(sigset_t& set, int signal_number) {
  constexpr int bits_per_word = static_cast<int>(sizeof(unsigned long) * 8);
  auto* words = reinterpret_cast<unsigned long*>(&set);
  const int bit = signal_number - 1;
  words[bit / bits_per_word] |= 1UL << (bit % bits_per_word);
}
