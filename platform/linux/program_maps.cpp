#include "platform/linux/program_maps.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/linux/kernel_lists.h"

namespace {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

// The kernel's name of a mode, as MemoryPolicy() names it.
std::string ModeName(const std::string& mode) {
  if (mode == "prefer") return "preferred";
  if (mode == "prefer (many)") return "preferred-many";
  if (mode == "weighted interleave") return "weighted-interleave";
  return mode;  // default, bind, interleave, local
}

// "prefer (many)=balancing:0-1" as the probe says it: "preferred-many 0,1 with NUMA balancing".
std::string PolicyName(const std::string& policy) {
  const std::size_t nodes_at = policy.find(':');
  const std::string head = policy.substr(0, nodes_at);
  const std::size_t flags_at = head.find('=');
  std::string name = ModeName(head.substr(0, flags_at));
  if (nodes_at != std::string::npos) {
    const char* separator = " ";
    for (const unsigned long node : NumberList(policy.substr(nodes_at + 1), 0xFFFF)) {
      name += separator + std::to_string(node);
      separator = ",";
    }
  }
  const bool balancing =
      flags_at != std::string::npos && head.find("balancing", flags_at) != std::string::npos;
  return balancing ? name + " with NUMA balancing" : name;
}

}  // namespace

std::map<int, ResidentPages> ResidentPagesByNode(const std::string& numa_maps) {
  std::map<int, ResidentPages> by_node;
  std::istringstream lines(numa_maps);
  for (std::string line; std::getline(lines, line);) {
    std::uint64_t page_bytes = 4096;
    std::map<int, std::uint64_t> counts;
    for (const std::string& word : Words(line)) {
      if (word.rfind("kernelpagesize_kB=", 0) == 0) {
        page_bytes = std::strtoull(word.c_str() + 18, nullptr, 10) * 1024;
      } else if (word.size() > 3 && word[0] == 'N' && word.find('=') != std::string::npos) {
        char* end = nullptr;
        const long node = std::strtol(word.c_str() + 1, &end, 10);
        if (*end == '=') counts[static_cast<int>(node)] += std::strtoull(end + 1, nullptr, 10);
      }
    }
    for (const auto& [node, pages] : counts) {
      by_node[node].pages += pages;
      by_node[node].bytes += pages * page_bytes;
    }
  }
  return by_node;
}

std::string PolicyOfProgram(const std::string& numa_maps) {
  std::istringstream lines(numa_maps);
  std::string policy;
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> words = Words(line);
    if (words.size() < 2) continue;
    // Two modes take two words.
    std::string mode = words[1];
    if ((mode == "prefer" || mode == "weighted") && words.size() > 2 &&
        (words[2].rfind("(many)", 0) == 0 || words[2].rfind("interleave", 0) == 0)) {
      mode += " " + words[2];
    }
    const bool stack = line.find(" stack") != std::string::npos;
    if (policy.empty() || stack) policy = PolicyName(mode);
    if (stack) break;
  }
  return policy;
}
