#include "probe/probe_size.h"
#include "probe/shares.h"

#include <gtest/gtest.h>

namespace {

TEST(ProbeSize, CountsPagesPast4GiB) {
  const struct {
    std::uint64_t mib;
    std::size_t page_size;
    std::uint64_t pages;
  } cases[] = {
      {4096, 4096, 1048576},       // 4 GiB: a 32-bit count of bytes is 0 here
      {4097, 4096, 1048832},       // just past it
      {5000, 4096, 1280000},       // a 32-bit count gives 904 MiB of pages
      {kMostMib, 4096, 1U << 28},  // a tebibyte
      {kMostMib, 65536, 1U << 24},
  };
  for (const auto& c : cases) EXPECT_EQ(PagesOf(c.mib, c.page_size), c.pages) << c.mib;
}

TEST(ProbeShares, AddUpToAHundredPercentAndFollowTheAmounts) {
  const struct {
    std::vector<std::uint64_t> amounts;
    std::vector<unsigned> tenths;
  } cases[] = {
      {{1, 1, 1}, {334, 333, 333}},  // rounded each, 100.2%
      {{2, 2, 2, 3}, {222, 222, 222, 334}}, {{64 << 20, 3 << 20}, {955, 45}},
      {{1, 0, 100000}, {0, 0, 1000}},       {{0, 0}, {0, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(TenthsOfPercent(c.amounts), c.tenths) << c.amounts.size();
}

}  // namespace
