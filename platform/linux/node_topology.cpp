#include "platform/linux/node_topology.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/kernel_lists.h"
#include "text/lossless_utf8.h"

namespace {

// A node list as the kernel writes it ("0-2,8"). Node numbers are 16 bits wide here.
std::vector<unsigned long> Nodes(const std::string& list) { return NumberList(list, 0xFFFF); }

bool Holds(const std::vector<unsigned long>& nodes, unsigned long node) {
  for (const unsigned long listed : nodes) {
    if (listed == node) return true;
  }
  return false;
}

WideText Number(unsigned long value) { return std::to_wstring(value); }

// The node with memory nearest to `node` by its row of distances, which the kernel gives to each
// online node in turn; the lowest-numbered of equals. False if the row says nothing.
bool NearestWithMemory(unsigned long node, const std::string& folder,
                       const std::vector<unsigned long>& online,
                       const std::vector<unsigned long>& with_memory, unsigned long& nearest) {
  std::string row;
  if (!ReadFirstLine(folder + "/node" + std::to_string(node) + "/distance", row)) return false;
  const char* at = row.c_str();
  unsigned long best = 0;
  bool found = false;
  for (const unsigned long other : online) {
    char* end = nullptr;
    const unsigned long distance = std::strtoul(at, &end, 10);
    if (end == at) break;
    at = end;
    if (other != node && Holds(with_memory, other) && (!found || distance < best)) {
      best = distance;
      nearest = other;
      found = true;
    }
  }
  return found;
}

}  // namespace

WideText RefusedNodeText(std::uint16_t node, const std::string& nodes, const std::string& allowed) {
  const WideText name = L"NUMA node " + Number(node);
  std::string online_list;
  std::string memory_list;
  if (ReadFirstLine(nodes + "/online", online_list) &&
      ReadFirstLine(nodes + "/has_memory", memory_list)) {
    const std::vector<unsigned long> online = Nodes(online_list);
    const std::vector<unsigned long> with_memory = Nodes(memory_list);
    if (!Holds(online, node)) {
      return L"this machine has no NUMA node " + Number(node) + L" (its nodes: " +
             DecodeLossless(online_list) + L")";
    }
    if (!Holds(with_memory, node)) {
      unsigned long nearest = 0;
      if (!NearestWithMemory(node, nodes, online, with_memory, nearest)) {
        return name + L" has no memory of its own";
      }
      return name + L" has no memory of its own (nearest node with memory: " + Number(nearest) +
             L")";
    }
  }
  // The kernel's own word where the node is one the process may use: no text of ours may
  // contradict itself.
  if (Holds(Nodes(allowed), node)) return DecodeLossless(std::strerror(EINVAL));
  WideText text = name + L" is not available to this process";
  if (allowed.empty()) return text;
  const bool one = allowed.find_first_of(",-") == std::string::npos;
  return text + (one ? L" (it may use node " : L" (it may use nodes ") + DecodeLossless(allowed) +
         L")";
}
