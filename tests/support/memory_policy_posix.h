// The memory policy a probe was started with, as text, for the probes that report it.
#pragma once

#include <linux/mempolicy.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <vector>

// The mode ("default", "preferred", "preferred-many", "bind", "other N" or "unknown", with
// "+balancing" for NUMA balancing), then its nodes, the first
// after `before_nodes`, the others after `between_nodes`.
inline std::string MemoryPolicyText(const char* before_nodes, const char* between_nodes) {
  constexpr unsigned long kBits = 32768;  // the kernel's largest node mask
  constexpr unsigned long kWordBits = 8 * sizeof(unsigned long);
  std::vector<unsigned long> nodes(kBits / kWordBits);
  int mode = 0;
  if (syscall(SYS_get_mempolicy, &mode, nodes.data(), kBits + 1, nullptr, 0UL) != 0) {
    return "unknown";
  }
  const bool balancing = (mode & MPOL_F_NUMA_BALANCING) != 0;
  mode &= ~MPOL_F_NUMA_BALANCING;
  std::string text = mode == MPOL_DEFAULT          ? "default"
                     : mode == MPOL_PREFERRED      ? "preferred"
                     : mode == MPOL_PREFERRED_MANY ? "preferred-many"
                     : mode == MPOL_BIND           ? "bind"
                                                   : "other " + std::to_string(mode);
  if (balancing) text += "+balancing";
  const char* separator = before_nodes;
  for (unsigned long node = 0; node < kBits; ++node) {
    if ((nodes[node / kWordBits] >> (node % kWordBits) & 1) != 0) {
      text += separator + std::to_string(node);
      separator = between_nodes;
    }
  }
  return text;
}
