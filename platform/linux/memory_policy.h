// The Linux memory policy that stands for Windows' preferred NUMA node: the node preferred, other
// nodes when it is full, with NUMA balancing where the kernel has it for such a policy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
