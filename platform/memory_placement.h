// Where a process's memory lies, as the system tells it: what the probe reports to show where a
// preferred node took effect.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A system call that failed, and the system's reason.
struct PlacementFailure {
  std::string call;
  std::string reason;
  bool ended = false;    // a program looked at does not run, or no longer
  bool changed = false;  // a program looked at changed as it was read, look after look
};

std::size_t PageSize();

// `pages` pages of memory the system has not placed yet: it places each when first written.
// nullptr if it cannot be had.
unsigned char* FreshPages(std::size_t pages, PlacementFailure& failure);

// The node of each of `pages` pages from `memory`; -1 for a page the system has not placed.
bool NodesOfPages(unsigned char* memory, std::size_t pages, std::vector<int>& nodes,
                  PlacementFailure& failure);

// The processor the calling thread runs on, named as the system numbers processors (Linux "3",
// Windows "1:0", group and number), and its node.
struct RunningOn {
  std::string processor = "0";
  int node = -1;  // -1: the system does not say
};
RunningOn Running();

// The memory policy the process runs under ("preferred 1", "preferred-many 1 with NUMA
// balancing", "default", ...); empty where the system has no such thing.
std::string MemoryPolicy();

// Whether the kernel's NUMA balancing runs ("on", "off", "memory tiering", as
// kernel.numa_balancing says): a policy "with NUMA balancing" brings a moved program back to its
// node only while it is on. Empty where the system has no such setting; "unknown (WHY)" where it
// has one this process cannot read.
std::string KernelNumaBalancing();

// The processors the process may run on, as Linux lists them ("0-3"); empty where the system
// does not say.
std::string AllowedProcessors();
