#include "platform/linux/memory_policy.h"

#include <linux/mempolicy.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/kernel_lists.h"

namespace {

constexpr unsigned long kBitsPerWord = sizeof(unsigned long) * 8;
// The largest node mask the kernel accepts: one page of bits.
constexpr unsigned long kSavedMaskBits = 32768;

long GetMemoryPolicy(int* mode, unsigned long* nodes, unsigned long max_node,
                     unsigned long flags = 0) {
  return syscall(SYS_get_mempolicy, mode, nodes, max_node, nullptr, flags);
}

long SetMemoryPolicy(int mode, const unsigned long* nodes, unsigned long max_node) {
  return syscall(SYS_set_mempolicy, mode, nodes, max_node);
}

}  // namespace

int ScopedPreferredNode::Prefer(std::uint16_t node) {
  saved_nodes_.assign(kSavedMaskBits / kBitsPerWord, 0);
  if (GetMemoryPolicy(&saved_mode_, saved_nodes_.data(), kSavedMaskBits + 1) != 0) return errno;

  std::vector<unsigned long> nodes(node / kBitsPerWord + 1, 0);
  nodes[node / kBitsPerWord] = 1UL << (node % kBitsPerWord);
  // The kernel counts one more than the bits it is to read.
  const unsigned long max_node = nodes.size() * kBitsPerWord + 1;
  // With NUMA balancing in the policy, the kernel brings a program that runs elsewhere back to
  // its memory's node; a policy without it turns balancing off for the program. The pair needs
  // Linux 6.10; an older kernel calls it invalid, and gets what numactl --preferred sets.
  if (SetMemoryPolicy(MPOL_PREFERRED_MANY | MPOL_F_NUMA_BALANCING, nodes.data(), max_node) != 0 &&
      (errno != EINVAL || SetMemoryPolicy(MPOL_PREFERRED, nodes.data(), max_node) != 0)) {
    return errno;
  }
  applied_ = true;
  return 0;
}

ScopedPreferredNode::~ScopedPreferredNode() {
  // Should putting the old policy back fail, the tool, which only waits, keeps preferring the node.
  if (applied_) SetMemoryPolicy(saved_mode_, saved_nodes_.data(), kSavedMaskBits + 1);
}

std::string AllowedNodes() {
  std::vector<unsigned long> nodes(kSavedMaskBits / kBitsPerWord, 0);
  int mode = 0;
  if (GetMemoryPolicy(&mode, nodes.data(), kSavedMaskBits + 1, MPOL_F_MEMS_ALLOWED) != 0) return "";
  return ListText(kSavedMaskBits, [&nodes](unsigned long node) {
    return (nodes[node / kBitsPerWord] >> (node % kBitsPerWord) & 1) != 0;
  });
}
