#include "platform/linux/start_cpus.h"

#include "platform/linux/kernel_lists.h"
#include "platform/linux/node_facts.h"

bool CpusToStartOn(const std::string& node_cpus, const cpu_set_t& own, cpu_set_t* start) {
  CPU_ZERO(start);
  for (const unsigned long cpu : NumberList(node_cpus, CPU_SETSIZE - 1)) {
    if (CPU_ISSET(cpu, &own)) CPU_SET(cpu, start);
  }
  return CPU_COUNT(start) > 0;
}

StartCpus StartCpusFor(std::uint16_t node) {
  StartCpus cpus;
  std::string node_cpus;
  // A machine of more CPUs than a cpu_set_t holds refuses the fixed-size set: left as it is.
  cpus.narrowed = sched_getaffinity(0, sizeof cpus.own, &cpus.own) == 0 &&
                  NodeFacts().Cpus(node, node_cpus) &&
                  CpusToStartOn(node_cpus, cpus.own, &cpus.start);
  return cpus;
}
