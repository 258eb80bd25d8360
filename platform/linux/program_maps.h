// What the kernel's numa_maps of a process says: its resident pages per node, and its memory
// policy. Taken line by line as it is read, so that a program of many mappings costs no more
// memory than one of few.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/program_placement.h"

class NumaMapsTally {
 public:
  // The next part of the file, cut anywhere.
  void Take(std::string_view part);

  // The resident pages per node of every mapping taken ("N1=512" each), at each mapping's page
  // size ("kernelpagesize_kB=2048" for hugetlbfs pages).
  const std::map<int, ResidentPages>& PagesByNode() const { return pages_by_node_; }

  // The process's own memory policy, which the kernel shows on every mapping without a policy of
  // its own, such as the stack; named as the probe names its own ("preferred-many 1 with NUMA
  // balancing", "preferred 1", "default"). Empty where it says nothing.
  std::string Policy() const;

  // Whether any line was taken: a process without memory (ended, or the kernel's) has none.
  bool Empty() const { return first_mode_.empty() && partial_.empty(); }

 private:
  void TakeLine(std::string_view line);

  std::string partial_;  // a line cut by the end of a part
  std::map<int, ResidentPages> pages_by_node_;
  std::string first_mode_;
  std::string stack_mode_;
};

// The address and policy of each whole line at the start of a numa_maps ("55a65ff20000 bind:1"):
// what tells threads of one program apart, as a mapping without a policy of its own shows the
// policy of the thread whose numa_maps it is.
std::vector<std::string> MappingPolicies(std::string_view numa_maps);

// The policy of a thread whose mappings show `own` where the program's show `program`, at the
// first mapping where they differ; named as Policy() names it. Empty where they do not differ.
std::string OwnPolicy(const std::vector<std::string>& own, const std::vector<std::string>& program);
