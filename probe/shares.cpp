#include "probe/shares.h"

#include <algorithm>
#include <numeric>

std::vector<unsigned> TenthsOfPercent(const std::vector<std::uint64_t>& amounts) {
  std::vector<unsigned> tenths(amounts.size(), 0);
  const long double sum =
      std::accumulate(amounts.begin(), amounts.end(), static_cast<long double>(0));
  if (sum == 0) return tenths;
  std::vector<std::pair<long double, std::size_t>> remainders;
  unsigned given = 0;
  for (std::size_t i = 0; i < amounts.size(); ++i) {
    const long double exact = 1000 * static_cast<long double>(amounts[i]) / sum;
    tenths[i] = static_cast<unsigned>(exact);
    given += tenths[i];
    remainders.emplace_back(exact - tenths[i], i);
  }
  std::stable_sort(remainders.begin(), remainders.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t i = 0; given < 1000 && i < remainders.size(); ++i, ++given) {
    ++tenths[remainders[i].second];
  }
  return tenths;
}
