// A signal set as the kernel reads it: signals 1 to 64, one bit each. glibc's own calls will not
// name, block or reset its signals 32 and 33, so the tool reads and writes the bits itself.
#pragma once

#include <signal.h>

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
