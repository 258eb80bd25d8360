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

// The maps fed as a read gives them, cut at `cut` bytes.
NumaMapsTally Tally(const std::string& maps, std::size_t cut, const char* program_file = "") {
  NumaMapsTally tally(program_file);
  for (std::size_t at = 0; at < maps.size(); at += cut)
    tally.Take(std::string_view(maps).substr(at, cut));
  return tally;
}

TEST(ProgramMaps, CountsResidentPagesPerNodeAtTheirSizeHoweverTheReadsCutTheLines) {
  for (const std::size_t cut :
       {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{4096}}) {
    const std::map<int, ResidentPages> pages = Tally(kMaps, cut).PagesByNode();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages.at(0).pages_by_size, (std::map<std::uint64_t, std::uint64_t>{{4096, 517}}));
    EXPECT_EQ(pages.at(1).pages_by_size,
              (std::map<std::uint64_t, std::uint64_t>{{4096, 1026}, {2048 * 1024, 3}}));
    EXPECT_EQ(pages.at(1).bytes, 1026u * 4096 + 3u * 2048 * 1024) << "huge pages at their size";
  }
}

TEST(ProgramMaps, NamesThePolicyOfTheProgramAsTheProbeNamesItsOwn) {
  const struct {
    std::string maps;
    const char* policy;
    const char* program_file = "";
    std::size_t line = 0;  // that shows it
  } cases[] = {
      {kMaps, "preferred-many 0,1 with NUMA balancing", "", 1},
      // The executable's mapping shows it where the first and the stack are bound.
      {"1000 bind:0 anon=1\n2000 default file=/bench\n3000 interleave:0 stack\n", "default",
       "/bench", 1},
      {"1000 prefer:1 anon=1 N1=1 kernelpagesize_kB=4\n", "preferred 1"},
      {"1000 default heap anon=1 N0=1 kernelpagesize_kB=4\n", "default"},
      {"1000 interleave=static:0,2 stack anon=1 N0=1\n", "interleave 0,2 with static nodes"},
      {"1000 prefer (many)=relative|balancing:1 stack\n",
       "preferred-many 1 with relative nodes and NUMA balancing"},
      {"1000 weighted interleave:0-1 stack anon=1 N0=1\n", "weighted-interleave 0,1"},
      {"", ""},
  };
  for (const auto& c : cases) {
    const NumaMapsTally tally = Tally(c.maps, 5, c.program_file);
    EXPECT_EQ(tally.Policy(), c.policy) << c.maps;
    EXPECT_EQ(tally.PolicyLine(), c.line) << c.maps;
  }
}

// A thread's own policy shows on the first of the program's mappings without a policy of their
// own, which the stack's tells: the first mapping may have one (mbind).
TEST(ProgramMaps, TellsAThreadsOwnPolicyFromTheLineThatShowsIt) {
  const char kProgram[] = "1000 prefer:0 file=/bench\n2000 default heap\n3000 default stack\n";
  const std::size_t line = Tally(kProgram, 5).PolicyLine();
  EXPECT_EQ(line, 1u);
  const struct {
    const char* own;
    const char* policy;
  } cases[] = {
      {kProgram, ""},
      {"1000 prefer:0 file=/bench\n2000 bind:1 heap\n3000 bind:1 stack\n", "bind 1"},
      {"1000 prefer:0 file=/bench\n2000 bind=static:1 heap\n", "bind 1 with static nodes"},
      {"1000 prefer:0 file=/bench\n1800 default anon=1\n2000 default heap\n", ""},
      {"1000 prefer:0 file=/bench\n2000 bind:1 he", ""},  // a line cut by the read's end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OwnPolicy(MappingPolicy(c.own, line), MappingPolicy(kProgram, line)), c.policy)
        << c.own;
  }
}

}  // namespace
