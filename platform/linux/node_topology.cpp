#include "platform/linux/node_topology.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "text/lossless_utf8.h"

namespace {

// The first line of a file, or nothing if it cannot be read.
bool ReadLine(const std::string& path, std::string& line) {
  std::ifstream file(path);
  return static_cast<bool>(std::getline(file, line));
}

// A node list as the kernel writes it ("0-2,8"), in its order.
std::vector<unsigned long> Nodes(const std::string& list) {
  std::vector<unsigned long> nodes;
  std::istringstream ranges(list);
  for (std::string range; std::getline(ranges, range, ',');) {
    char* end = nullptr;
    const unsigned long first = std::strtoul(range.c_str(), &end, 10);
    const unsigned long last = *end == '-' ? std::strtoul(end + 1, nullptr, 10) : first;
    // Node numbers are 16 bits wide here; a range beyond is cut short.
    for (unsigned long node = first; node <= last && node <= 0xFFFF && end != range.c_str();
         ++node) {
      nodes.push_back(node);
    }
  }
  return nodes;
}

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
  if (!ReadLine(folder + "/node" + std::to_string(node) + "/distance", row)) return false;
  std::istringstream distances(row);
  unsigned long best = 0;
  bool found = false;
  for (const unsigned long other : online) {
    unsigned long distance = 0;
    if (!(distances >> distance)) break;
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
  if (ReadLine(nodes + "/online", online_list) && ReadLine(nodes + "/has_memory", memory_list)) {
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
  const WideText text = name + L" is not available to this process";
  if (allowed.empty()) return text;
  const bool one = allowed.find_first_of(",-") == std::string::npos;
  return text + (one ? L" (it may use node " : L" (it may use nodes ") + DecodeLossless(allowed) +
         L")";
}
