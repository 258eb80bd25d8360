#include "platform/linux/memory_policy.h"

#include <linux/mempolicy.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/linux/kernel_lists.h"

namespace {

constexpr unsigned long kWordBits = sizeof(unsigned long) * 8;
constexpr unsigned long kMostNodes = 32768;  // the largest node mask the kernel takes: a page
constexpr int kWeightedInterleave = 6;       // MPOL_WEIGHTED_INTERLEAVE: Linux 6.9, newer headers

}  // namespace

// The kernel counts one more than the bits of the mask it is to fill or read.
bool GetMemoryPolicy(int& mode, std::vector<unsigned long>& nodes, unsigned long flags) {
  std::vector<unsigned long> mask(kMostNodes / kWordBits);
  if (syscall(SYS_get_mempolicy, &mode, mask.data(), kMostNodes + 1, nullptr, flags) != 0) {
    return false;
  }
  nodes.clear();
  for (unsigned long node = 0; node < kMostNodes; ++node) {
    if ((mask[node / kWordBits] >> (node % kWordBits) & 1) != 0) nodes.push_back(node);
  }
  return true;
}

bool SetMemoryPolicy(int mode, const std::vector<unsigned long>& nodes) {
  std::vector<unsigned long> mask(nodes.empty() ? 0 : nodes.back() / kWordBits + 1);
  for (const unsigned long node : nodes) mask[node / kWordBits] |= 1UL << (node % kWordBits);
  return syscall(SYS_set_mempolicy, mode, mask.data(), mask.size() * kWordBits + 1) == 0;
}

std::string PolicyModeName(int mode) {
  mode &= ~(MPOL_F_STATIC_NODES | MPOL_F_RELATIVE_NODES | MPOL_F_NUMA_BALANCING);
  return mode == MPOL_DEFAULT          ? "default"
         : mode == MPOL_PREFERRED      ? "preferred"
         : mode == MPOL_PREFERRED_MANY ? "preferred-many"
         : mode == MPOL_BIND           ? "bind"
         : mode == MPOL_INTERLEAVE     ? "interleave"
         : mode == MPOL_LOCAL          ? "local"
         : mode == kWeightedInterleave ? "weighted-interleave"
                                       : "mode " + std::to_string(mode);
}

std::string PolicyText(std::string mode, const std::vector<unsigned long>& nodes, int flags) {
  const char* separator = " ";
  for (const unsigned long node : nodes) {
    mode += separator + std::to_string(node);
    separator = ",";
  }
  // Static nodes stay as given when the cpuset changes; relative ones are renumbered within it.
  const char* const nodes_flag = (flags & MPOL_F_STATIC_NODES) != 0     ? "static nodes"
                                 : (flags & MPOL_F_RELATIVE_NODES) != 0 ? "relative nodes"
                                                                        : nullptr;
  const bool balancing = (flags & MPOL_F_NUMA_BALANCING) != 0;
  if (nodes_flag != nullptr) mode += std::string(" with ") + nodes_flag;
  if (balancing) mode += nodes_flag != nullptr ? " and NUMA balancing" : " with NUMA balancing";
  return mode;
}

int ScopedPreferredNode::Prefer(std::uint16_t node) {
  if (!GetMemoryPolicy(saved_mode_, saved_nodes_)) return errno;
  // With NUMA balancing in the policy, the kernel brings a program that runs elsewhere back to
  // its memory's node; a policy without it turns balancing off for the program. The pair needs
  // Linux 6.10; an older kernel calls it invalid, and gets what numactl --preferred sets.
  if (!SetMemoryPolicy(MPOL_PREFERRED_MANY | MPOL_F_NUMA_BALANCING, {node}) &&
      (errno != EINVAL || !SetMemoryPolicy(MPOL_PREFERRED, {node}))) {
    return errno;
  }
  applied_ = true;
  return 0;
}

ScopedPreferredNode::~ScopedPreferredNode() {
  // Should putting the old policy back fail, the tool, which only waits, keeps preferring the node.
  if (applied_) SetMemoryPolicy(saved_mode_, saved_nodes_);
}

std::string AllowedNodes() {
  std::vector<unsigned long> nodes;
  int mode = 0;
  if (!GetMemoryPolicy(mode, nodes, MPOL_F_MEMS_ALLOWED)) return "";
  return ListText(nodes.empty() ? 0 : nodes.back() + 1, [&nodes](unsigned long node) {
    return std::binary_search(nodes.begin(), nodes.end(), node);
  });
}
