// The Linux memory policy that stands for Windows' preferred NUMA node: the node preferred, other
// nodes when it is full, with NUMA balancing where the kernel has it for such a policy. And the
// kernel's calls that get and set a policy, for the launch, the probe and the tests alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The calling thread's policy: its mode, with its flags, and its nodes in order; with
// MPOL_F_MEMS_ALLOWED in `flags`, the nodes it may use. False, errno set, where the kernel refuses.
bool GetMemoryPolicy(int& mode, std::vector<unsigned long>& nodes, unsigned long flags = 0);
bool SetMemoryPolicy(int mode, const std::vector<unsigned long>& nodes);

// The name of `mode` without its flags: "default", "preferred", "preferred-many", "bind",
// "interleave", "local", "weighted-interleave", else "mode N".
std::string PolicyModeName(int mode);

// A policy as the probe says it, from the name of its mode and the kernel's flags of it
// (MPOL_F_STATIC_NODES, MPOL_F_RELATIVE_NODES, MPOL_F_NUMA_BALANCING): "preferred-many 0,1 with
// NUMA balancing", "bind 0 with static nodes".
std::string PolicyText(std::string mode, const std::vector<unsigned long>& nodes, int flags);

// Makes the calling thread prefer `node` for its memory while it lives, then puts back the policy
// it had. A child created meanwhile keeps the preference for good: the kernel copies the policy
// into every new process, and it survives exec.
class ScopedPreferredNode {
 public:
  ScopedPreferredNode() = default;
  ScopedPreferredNode(const ScopedPreferredNode&) = delete;
  ScopedPreferredNode& operator=(const ScopedPreferredNode&) = delete;
  ~ScopedPreferredNode();

  // Returns 0, or the errno value with which the kernel refused: it alone judges the node.
  int Prefer(std::uint16_t node);

 private:
  bool applied_ = false;
  int saved_mode_ = 0;
  std::vector<unsigned long> saved_nodes_;
};

// The nodes this process may use, as the kernel lists them ("0-1,3"); empty if it will not say.
std::string AllowedNodes();
