#include "platform/linux/node_topology.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/linux/kernel_lists.h"
#include "text/lossless_utf8.h"

namespace {

bool Holds(const std::vector<unsigned long>& nodes, unsigned long node) {
  return std::find(nodes.begin(), nodes.end(), node) != nodes.end();
}

WideText Number(unsigned long value) { return std::to_wstring(value); }

// The node with memory nearest to `node` by its row of distances, which the kernel gives to each
// online node in turn; the lowest-numbered of equals. False if the row says nothing.
bool NearestWithMemory(unsigned long node, const std::vector<unsigned long>& distances,
                       const std::vector<unsigned long>& online,
                       const std::vector<unsigned long>& with_memory, unsigned long& nearest) {
  unsigned long best = 0;
  bool found = false;
  for (std::size_t i = 0; i < online.size() && i < distances.size(); ++i) {
    const unsigned long other = online[i];
    if (other != node && Holds(with_memory, other) && (!found || distances[i] < best)) {
      best = distances[i];
      nearest = other;
      found = true;
    }
  }
  return found;
}

}  // namespace

WideText RefusedNodeText(std::uint16_t node, const std::string& nodes, const std::string& allowed) {
  const WideText name = L"NUMA node " + Number(node);
  const NodeFacts facts{nodes};
  std::string online_list;
  std::string memory_list;
  if (facts.Online(online_list) && facts.WithMemory(memory_list)) {
    const std::vector<unsigned long> online = NodeNumbers(online_list);
    const std::vector<unsigned long> with_memory = NodeNumbers(memory_list);
    if (!Holds(online, node)) {
      return L"this machine has no NUMA node " + Number(node) + L" (its nodes: " +
             DecodeLossless(online_list) + L")";
    }
    if (!Holds(with_memory, node)) {
      unsigned long nearest = 0;
      if (!NearestWithMemory(node, facts.Distances(node), online, with_memory, nearest)) {
        return name + L" has no memory of its own";
      }
      return name + L" has no memory of its own (nearest node with memory: " + Number(nearest) +
             L")";
    }
  }
  // The kernel's own word where the node is one the process may use: no text of ours may
  // contradict itself.
  if (Holds(NodeNumbers(allowed), node)) return DecodeLossless(std::strerror(EINVAL));
  WideText text = name + L" is not available to this process";
  if (allowed.empty()) return text;
  const bool one = allowed.find_first_of(",-") == std::string::npos;
  return text + (one ? L" (it may use node " : L" (it may use nodes ") + DecodeLossless(allowed) +
         L")";
}
