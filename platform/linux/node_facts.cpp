#include "platform/linux/node_facts.h"

#include <cstdlib>
#include <cstring>

#include "platform/linux/kernel_lists.h"

namespace {

// "Node 0 MemTotal:  1016284 kB": the bytes after `key`.
bool MeminfoBytes(const std::string& meminfo, const char* key, std::uint64_t& bytes) {
  const std::size_t at = meminfo.find(key);
  if (at == std::string::npos) return false;
  bytes = std::strtoull(meminfo.c_str() + at + std::strlen(key), nullptr, 10) * 1024;
  return true;
}

}  // namespace

bool NodeFacts::Read(const std::string& file, std::string& line) const {
  return ReadFirstLine(folder + file, line);
}

std::vector<unsigned long> NodeFacts::Distances(unsigned long node) const {
  std::vector<unsigned long> distances;
  std::string row;
  Read(Of(node, "distance"), row);
  char* end = nullptr;
  for (const char* at = row.c_str();; at = end) {
    const unsigned long distance = std::strtoul(at, &end, 10);
    if (end == at) return distances;
    distances.push_back(distance);
  }
}

MachineNode NodeFacts::Node(unsigned long node) const {
  MachineNode facts;
  facts.number = node;
  Cpus(node, facts.processors);
  std::string meminfo;
  if (ReadWholeFile(folder + Of(node, "meminfo"), meminfo)) {
    facts.total_told = MeminfoBytes(meminfo, "MemTotal:", facts.total_bytes);
    facts.free_told = MeminfoBytes(meminfo, "MemFree:", facts.free_bytes);
  }
  facts.distances = Distances(node);
  return facts;
}
