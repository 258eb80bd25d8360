// Where a child starts so that it runs on its preferred node, as Windows' ideal node has its
// threads prefer the node's processors: a hint, never a binding.
#pragma once

#include <sched.h>

#include <cstdint>
#include <string>

struct StartCpus {
  bool narrowed = false;  // false: the child starts wherever the tool's own CPUs allow
  cpu_set_t start;        // the node's CPUs the tool may use: the child's for its start only
  cpu_set_t own;          // the tool's own CPUs: the child's again before its program runs
};

// Those of the CPUs in `node_cpus` (as the kernel lists them, "0-3,8") that are in `own`; false
// when there are none.
bool CpusToStartOn(const std::string& node_cpus, const cpu_set_t& own, cpu_set_t* start);

// The start for a child preferring `node`, from its CPUs under kSystemNodes and the tool's own.
// Not narrowed where the node has no CPU the tool may use (a node of memory only, a taskset or a
// cpuset that leaves them out) or the system does not say.
StartCpus StartCpusFor(std::uint16_t node);
