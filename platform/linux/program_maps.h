// What the kernel's numa_maps of a process says: its resident pages per node, and its memory
// policy. Taken line by line as it is read, so that a program of many mappings costs no more
// memory than one of few.
#pragma once

#include <map>
#include <string>
#include <string_view>

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

// The policy named on the first line of a numa_maps (a thread's, where the program's first
// mapping follows the thread's own policy); empty where there is none.
std::string PolicyOfFirstLine(std::string_view numa_maps);
