#include "platform/linux/memory_policy.h"

#include <linux/mempolicy.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/kernel_lists.h"

// The kernel counts one more than the bits it is to read.
bool GetMemoryPolicy(int& mode, NodeMask& nodes, unsigned long flags) {
  return syscall(SYS_get_mempolicy, &mode, nodes.Words(), nodes.End() + 1, nullptr, flags) == 0;
}

bool SetMemoryPolicy(int mode, const NodeMask& nodes) {
  return syscall(SYS_set_mempolicy, mode, nodes.Words(), nodes.End() + 1) == 0;
}

std::string PolicyModeName(int mode) {
  mode &= ~(MPOL_F_STATIC_NODES | MPOL_F_RELATIVE_NODES | MPOL_F_NUMA_BALANCING);
  return mode == MPOL_DEFAULT          ? "default"
         : mode == MPOL_PREFERRED      ? "preferred"
         : mode == MPOL_PREFERRED_MANY ? "preferred-many"
         : mode == MPOL_BIND           ? "bind"
         : mode == MPOL_INTERLEAVE     ? "interleave"
         : mode == MPOL_LOCAL          ? "local"
                                       : "mode " + std::to_string(mode);
}

int ScopedPreferredNode::Prefer(std::uint16_t node) {
  if (!GetMemoryPolicy(saved_mode_, saved_nodes_)) return errno;
  NodeMask nodes(node + 1UL);
  nodes.Add(node);
  // With NUMA balancing in the policy, the kernel brings a program that runs elsewhere back to
  // its memory's node; a policy without it turns balancing off for the program. The pair needs
  // Linux 6.10; an older kernel calls it invalid, and gets what numactl --preferred sets.
  if (!SetMemoryPolicy(MPOL_PREFERRED_MANY | MPOL_F_NUMA_BALANCING, nodes) &&
      (errno != EINVAL || !SetMemoryPolicy(MPOL_PREFERRED, nodes))) {
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
  NodeMask nodes;
  int mode = 0;
  if (!GetMemoryPolicy(mode, nodes, MPOL_F_MEMS_ALLOWED)) return "";
  return ListText(nodes.End(), [&nodes](unsigned long node) { return nodes.Has(node); });
}
