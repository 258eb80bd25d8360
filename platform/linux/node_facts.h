// The machine's NUMA nodes as the kernel describes them in a folder laid out as kSystemNodes: the
// system's, or a test's tree. Each fact is read when asked: the launch needs one, the probe all.
#pragma once

#include <string>
#include <vector>

#include "platform/machine_nodes.h"

// Where the kernel lists the machine's nodes.
constexpr char kSystemNodes[] = "/sys/devices/system/node";

struct NodeFacts {
  std::string folder = kSystemNodes;

  // As the kernel lists them ("0-3,8"): the nodes online, those with memory, the CPUs of `node`
  // (empty: none). False, errno set, where it does not say.
  bool Online(std::string& list) const { return Read("/online", list); }
  bool WithMemory(std::string& list) const { return Read("/has_memory", list); }
  bool Cpus(unsigned long node, std::string& list) const { return Read(Of(node, "cpulist"), list); }

  // The distances from `node` to each online node in turn; empty where the kernel does not say.
  std::vector<unsigned long> Distances(unsigned long node) const;

  // All that is told of `node`: its CPUs and their packages, its memory and its memory's tier,
  // its distances.
  MachineNode Node(unsigned long node) const;

  static std::string Of(unsigned long node, const char* file) {
    return "/node" + std::to_string(node) + "/" + file;
  }
  bool Read(const std::string& file, std::string& line) const;  // its first line
};
