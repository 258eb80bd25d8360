// Where a running program's memory and threads are, as the system tells it: what the probe
// reports of a program it did not start itself (nodestart-probe --pid=PID).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/memory_placement.h"

// Resident memory on one node, by the size of its pages as the system counts them (a transparent
// huge page counts as 512 pages of 4 KiB on Linux, a hugetlbfs page as one of 2 MiB).
struct ResidentPages {
  std::map<std::uint64_t, std::uint64_t> pages_by_size;
  std::uint64_t bytes = 0;

  void Add(std::uint64_t page_size, std::uint64_t pages) {
    pages_by_size[page_size] += pages;
    bytes += page_size * pages;
  }
};

struct ThreadPlace {
  unsigned long id = 0;
  int processor = -1;  // where it ran last; -1 where the system does not say (Windows)
  int node = -1;
  int ideal_group = -1;      // Windows: the processor the thread prefers, which the preferred node
  int ideal_processor = -1;  // sets (group and number); -1 where the system has no such thing
  int ideal_node = -1;
  // Linux: where this thread differs from the program: the processors it may run on, its memory
  // policy. Empty where it does not.
  std::string own_processors;
  std::string own_policy;
};

struct ProgramPlacement {
  std::map<int, ResidentPages> pages_by_node;  // node -1: pages the system places nowhere
  std::vector<ThreadPlace> threads;
  std::string policy;      // Linux: its memory policy, named as MemoryPolicy() names the probe's
  std::string processors;  // Linux: the processors it may run on ("0-3")
  bool kernel_thread = false;    // Linux: a thread of the kernel's, with no memory of its own
  std::string not_seen;          // what the system keeps from the look, said as a reason
  std::string threads_not_seen;  // Linux: what the look cannot tell of each thread, and why
};

// A running program held for looking: every look sees the same program, also once it has ended
// and another has taken its number.
class OpenedProgram {
 public:
  OpenedProgram() = default;
  OpenedProgram(const OpenedProgram&) = delete;
  OpenedProgram& operator=(const OpenedProgram&) = delete;
  ~OpenedProgram();

  unsigned long pid = 0;
  std::intptr_t handle = -1;  // Linux: its folder in /proc; Windows: its process handle
};

// Opens the running program `pid`, with only the rights the caller has over it. False where it
// cannot: the failure names the call and says why in terms the user can act on (a program that
// does not run, one the system hides, one the user may not inspect).
bool OpenProgram(unsigned long pid, OpenedProgram& program, PlacementFailure& failure);

// Looks at `program` as it is now. False where it cannot, `failure.ended` where it has ended.
bool LookAtProgram(const OpenedProgram& program, ProgramPlacement& placement,
                   PlacementFailure& failure);
