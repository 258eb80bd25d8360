// What the kernel's numa_maps of a process says: its resident pages per node, and its memory
// policy.
#pragma once

#include <map>
#include <string>

#include "platform/program_placement.h"

// The resident pages per node of every mapping ("N1=512" each), at each mapping's page size
// ("kernelpagesize_kB=2048" for huge pages).
std::map<int, ResidentPages> ResidentPagesByNode(const std::string& numa_maps);

// The process's own memory policy, which the kernel shows on every mapping without a policy of
// its own, such as the stack; named as the probe names its own ("preferred-many 1 with NUMA
// balancing", "preferred 1", "default"). Empty where it says nothing.
std::string PolicyOfProgram(const std::string& numa_maps);
