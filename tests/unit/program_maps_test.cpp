// What the probe reads from a program's numa_maps, on maps written as the kernel writes them.
#include "platform/linux/program_maps.h"

#include <gtest/gtest.h>

namespace {

// The stack's line last: a mapping of its own policy comes first.
const char kMaps[] =
    "55a65ff20000 bind:1 file=/usr/bin/bench mapped=5 N0=5 kernelpagesize_kB=4\n"
    "7f0000000000 prefer (many)=balancing:0-1 anon=1536 dirty=1536 N0=512 N1=1024 "
    "kernelpagesize_kB=4\n"
    "7f4000000000 prefer (many)=balancing:0-1 anon=3 dirty=3 N1=3 kernelpagesize_kB=2048\n"
    "7ffd00000000 prefer (many)=balancing:0-1 stack anon=2 dirty=2 N1=2 kernelpagesize_kB=4\n";

TEST(ProgramMaps, CountsResidentPagesPerNodeAtTheirSize) {
  const std::map<int, ResidentPages> pages = ResidentPagesByNode(kMaps);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages.at(0).pages, 517u);
  EXPECT_EQ(pages.at(0).bytes, 517u * 4096);
  EXPECT_EQ(pages.at(1).pages, 1029u);
  EXPECT_EQ(pages.at(1).bytes, 1026u * 4096 + 3u * 2048 * 1024) << "huge pages at their size";
}

TEST(ProgramMaps, NamesThePolicyOfTheProgramAsTheProbeNamesItsOwn) {
  const struct {
    std::string maps;
    const char* policy;
  } cases[] = {
      {kMaps, "preferred-many 0,1 with NUMA balancing"},
      {"1000 prefer:1 anon=1 N1=1 kernelpagesize_kB=4\n", "preferred 1"},
      {"1000 default heap anon=1 N0=1 kernelpagesize_kB=4\n", "default"},
      {"1000 interleave=static:0,2 stack anon=1 N0=1\n", "interleave 0,2"},
      {"1000 weighted interleave:0-1 stack anon=1 N0=1\n", "weighted-interleave 0,1"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PolicyOfProgram(c.maps), c.policy) << c.maps;
}

}  // namespace
