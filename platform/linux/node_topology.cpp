#include "platform/linux/node_topology.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "text/lossless_utf8.h"

namespace {

// The first line of a file; false if it cannot be read. Plain reads: streams would double the
// size of the static tool and of what it keeps resident while it waits.
bool ReadLine(const std::string& path, std::string& line) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  line.clear();
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(file, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno != EINTR) break;
    if (got > 0) line.append(buffer, static_cast<std::size_t>(got));
  }
  close(file);
  line.resize(std::min(line.find('\n'), line.size()));
  return got == 0;
}

// A node list as the kernel writes it ("0-2,8"), in its order.
std::vector<unsigned long> Nodes(const std::string& list) {
  std::vector<unsigned long> nodes;
  for (const char* at = list.c_str();;) {
    char* end = nullptr;
    const unsigned long first = std::strtoul(at, &end, 10);
    if (end == at) break;
    unsigned long last = first;
    if (*end == '-') last = std::strtoul(end + 1, &end, 10);
    // Node numbers are 16 bits wide here; a range beyond is cut short.
    for (unsigned long node = first; node <= last && node <= 0xFFFF; ++node) nodes.push_back(node);
    if (*end != ',') break;
    at = end + 1;
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
  WideText text = name + L" is not available to this process";
  if (allowed.empty()) return text;
  const bool one = allowed.find_first_of(",-") == std::string::npos;
  return text + (one ? L" (it may use node " : L" (it may use nodes ") + DecodeLossless(allowed) +
         L")";
}
