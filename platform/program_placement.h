// Where a running program's memory and threads are, as the system tells it: what the probe
// reports of a program it did not start itself (nodestart-probe --pid=PID).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/memory_placement.h"

struct ResidentPages {
  std::uint64_t pages = 0;
  std::uint64_t bytes = 0;  // pages of more than one size (huge pages) counted at their size
};

struct ThreadPlace {
  unsigned long id = 0;
  int processor = -1;  // where it ran last; -1 where the system does not say (Windows)
  int node = -1;
  int ideal_processor = -1;  // Windows: the processor the thread prefers, which the preferred
  int ideal_node = -1;       // node sets; -1 where the system has no such thing (Linux)
};

struct ProgramPlacement {
  std::map<int, ResidentPages> pages_by_node;  // node -1: pages the system places nowhere
  std::vector<ThreadPlace> threads;
  std::string policy;      // Linux: its memory policy, named as MemoryPolicy() names the probe's
  std::string processors;  // Linux: the processors it may run on ("0-3")
};

// Looks at the running program `pid`, with only the rights the caller has over it. False where
// it cannot: the failure names the call and says why in terms the user can act on (a program
// that does not run, that ended during the look, that the user may not inspect).
bool LookAtProgram(unsigned long pid, ProgramPlacement& placement, PlacementFailure& failure);
