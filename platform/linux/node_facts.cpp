#include "platform/linux/node_facts.h"

#include <algorithm>
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

// The packages of the CPUs `cpus` ("0-3,8") under the CPU folder `cpu`, as a list. A package's
// CPUs are read of once: a node may have a thousand.
std::string PackagesOf(const std::string& cpu, const std::string& cpus) {
  std::vector<unsigned long> packages;
  std::vector<unsigned long> left = NumberList(cpus, 0xFFFFF);
  while (!left.empty()) {
    const unsigned long first = left.front();
    const std::string topology = cpu + "/cpu" + std::to_string(first) + "/topology/";
    std::string package;
    std::string siblings;
    if (ReadFirstLine(topology + "physical_package_id", package)) {
      packages.push_back(std::strtoul(package.c_str(), nullptr, 10));
      // Kernels before 5.5 call it core_siblings_list.
      if (!ReadFirstLine(topology + "package_cpus_list", siblings)) {
        ReadFirstLine(topology + "core_siblings_list", siblings);
      }
    }
    std::vector<unsigned long> same = NumberList(siblings, 0xFFFFF);
    std::sort(same.begin(), same.end());
    left.erase(std::remove_if(left.begin(), left.end(),
                              [&](unsigned long number) {
                                return number == first ||
                                       std::binary_search(same.begin(), same.end(), number);
                              }),
               left.end());
  }
  std::sort(packages.begin(), packages.end());
  const unsigned long end = packages.empty() ? 0 : packages.back() + 1;
  return ListText(end, [&](unsigned long package) {
    return std::binary_search(packages.begin(), packages.end(), package);
  });
}

// The tier under `tiers` ("memory_tier4") whose nodes include `node`; -1 where none does.
long TierOf(const std::string& tiers, unsigned long node) {
  const std::string kTier = "memory_tier";
  std::vector<std::string> names;
  ReadFolder(AT_FDCWD, tiers, names);
  for (const std::string& name : names) {
    std::string nodes;
    if (name.compare(0, kTier.size(), kTier) == 0 &&
        ReadFirstLine(std::string(tiers).append("/").append(name).append("/nodelist"), nodes)) {
      const std::vector<unsigned long> listed = NodeNumbers(nodes);
      if (std::find(listed.begin(), listed.end(), node) != listed.end()) {
        return std::strtol(name.c_str() + kTier.size(), nullptr, 10);
      }
    }
  }
  return -1;
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
  facts.packages = PackagesOf(folder + "/../cpu", facts.processors);
  facts.memory_tier = TierOf(folder + "/../../virtual/memory_tiering", node);
  std::string meminfo;
  if (ReadWholeFile(folder + Of(node, "meminfo"), meminfo)) {
    facts.total_told = MeminfoBytes(meminfo, "MemTotal:", facts.total_bytes);
    facts.free_told = MeminfoBytes(meminfo, "MemFree:", facts.free_bytes);
  }
  facts.distances = Distances(node);
  return facts;
}
