// The probe's memory: mebibytes as asked, pages as the system counts them. In 64 bits on every
// platform: Windows' long has 32, which would wrap at 4 GiB.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint64_t kMostMib = std::uint64_t{1} << 20;  // a tebibyte

constexpr std::uint64_t PagesOf(std::uint64_t mib, std::size_t page_size) {
  return mib * 1024 * 1024 / page_size;
}
