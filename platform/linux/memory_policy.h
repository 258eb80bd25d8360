// The Linux memory policy that stands for Windows' preferred NUMA node: the node preferred, other
// nodes when it is full, with NUMA balancing where the kernel has it for such a policy. And the
// kernel's calls that get and set a policy, for the launch, the probe and the tests alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Nodes as the policy calls take them: a mask of bits.
class NodeMask {
 public:
  static constexpr unsigned long kMostNodes = 32768;  // the kernel's largest mask: a page of bits

  // Room for the nodes below `end`.
  explicit NodeMask(unsigned long end = kMostNodes) : words_((end + kWordBits - 1) / kWordBits) {}

  unsigned long End() const { return words_.size() * kWordBits; }
  bool Has(unsigned long node) const {
    return (words_[node / kWordBits] >> (node % kWordBits) & 1) != 0;
  }
  void Add(unsigned long node) { words_[node / kWordBits] |= 1UL << (node % kWordBits); }
  unsigned long* Words() { return words_.data(); }
  const unsigned long* Words() const { return words_.data(); }

 private:
  static constexpr unsigned long kWordBits = 8 * sizeof(unsigned long);
  std::vector<unsigned long> words_;
};

// The calling thread's policy: its mode, with its flags, and its nodes; with MPOL_F_MEMS_ALLOWED
// in `flags`, the nodes it may use. False, errno set, where the kernel refuses.
bool GetMemoryPolicy(int& mode, NodeMask& nodes, unsigned long flags = 0);
bool SetMemoryPolicy(int mode, const NodeMask& nodes);

// The name of `mode` without its flags: "default", "preferred", "preferred-many", "bind",
// "interleave", "local", else "mode N".
std::string PolicyModeName(int mode);

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
  NodeMask saved_nodes_;
};

// The nodes this process may use, as the kernel lists them ("0-1,3"); empty if it will not say.
std::string AllowedNodes();
