// Shares of a whole, in tenths of a percent, that add up to exactly 100.0%.
#pragma once

#include <cstdint>
#include <vector>

// Each amount's share of their sum in tenths of a percent, rounded so that the shares add up to
// 1000 (the largest remainders round up); all 0 where the sum is 0.
std::vector<unsigned> TenthsOfPercent(const std::vector<std::uint64_t>& amounts);
