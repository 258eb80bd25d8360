// What the kernel's numa_maps of a process says: its resident pages per node, and its memory
// policy. Taken line by line as it is read, so that a program of many mappings costs no more
// memory than one of few.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/program_placement.h"

class NumaMapsTally {
 public:
  // `program_file`: the path of the program's executable, as /proc/PID/exe gives it, whose
  // mappings nobody binds (mbind) as they bind heaps, stacks and shared memory; empty if unknown.
  explicit NumaMapsTally(std::string program_file = {}) : program_file_(std::move(program_file)) {}

  // The next part of the file, cut anywhere.
  void Take(std::string_view part);

  // The resident pages per node of every mapping taken ("N1=512" each), at each mapping's page
  // size ("kernelpagesize_kB=2048" for hugetlbfs pages).
  const std::map<int, ResidentPages>& PagesByNode() const { return pages_by_node_; }

  // The process's own memory policy, which the kernel shows on every mapping without a policy of
  // its own: the executable's first, else the stack; named as the probe names its own
  // ("preferred-many 1 with NUMA balancing", "preferred 1", "default"). Empty where it says
  // nothing.
  std::string Policy() const;

  // The line, from 0, whose policy is the process's own rather than its mapping's: the first
  // with the policy Policy() names. Another thread of the process shows its own policy there. The
  // first such, not the executable's: the kernel walks the pages of every mapping before it for
  // each thread (sanitizers' shadows, heaps placed low), though a first mapping bound (mbind) to
  // the program's own policy then hides a thread's.
  std::size_t PolicyLine() const;

  // Whether any line was taken: a process without memory (ended, or the kernel's) has none.
  bool Empty() const { return first_mode_.empty() && partial_.empty(); }

 private:
  void TakeLine(std::string_view line);

  std::string program_file_;
  std::string partial_;  // a line cut by the end of a part
  std::map<int, ResidentPages> pages_by_node_;
  std::string first_mode_;
  std::string stack_mode_;
  std::string file_mode_;  // of the executable's first mapping
  std::vector<std::pair<std::string, std::size_t>> first_lines_;  // each policy's first line
  std::size_t lines_ = 0;
};

// The address and policy of line `line` (from 0) of a numa_maps ("55a65ff20000 bind:1"); empty
// where the text ends before they and a word after them do.
std::string MappingPolicy(std::string_view numa_maps, std::size_t line);

// The policy of a thread whose numa_maps shows `own` (as MappingPolicy gives it) where the
// program's shows `program` on the same line, named as Policy() names it; empty where they are
// alike, or are not of the same mapping.
std::string OwnPolicy(const std::string& own, const std::string& program);
