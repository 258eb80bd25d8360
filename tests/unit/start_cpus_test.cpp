#include "platform/linux/start_cpus.h"

#include <gtest/gtest.h>

namespace {

cpu_set_t Cpus(std::initializer_list<unsigned> cpus) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (const unsigned cpu : cpus) CPU_SET(cpu, &set);
  return set;
}

TEST(StartCpus, StartsOnTheNodesCpusTheToolMayUse) {
  const struct {
    const char* name;
    const char* node_cpus;
    cpu_set_t own;
    bool narrowed;
    cpu_set_t start;
  } cases[] = {
      {"the node's CPUs", "2-3", Cpus({0, 1, 2, 3}), true, Cpus({2, 3})},
      {"those the tool may use", "0-1,4,6-7", Cpus({1, 4, 5}), true, Cpus({1, 4})},
      {"none the tool may use (taskset -c 0)", "2-3", Cpus({0}), false, Cpus({})},
      {"a node of memory only", "", Cpus({0, 1}), false, Cpus({})},
      {"CPUs beyond the set's size", "1023-5000", Cpus({1023}), true, Cpus({1023})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    cpu_set_t start;
    EXPECT_EQ(CpusToStartOn(c.node_cpus, c.own, &start), c.narrowed);
    EXPECT_TRUE(CPU_EQUAL(&start, &c.start));
  }
}

}  // namespace
