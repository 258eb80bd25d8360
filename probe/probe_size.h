// The probe's memory: mebibytes as asked, pages as the system counts them. In 64 bits on every
// platform: Windows' long has 32, which would wrap at 4 GiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

constexpr std::uint64_t kMostMib = std::uint64_t{1} << 20;  // a tebibyte

constexpr std::uint64_t PagesOf(std::uint64_t mib, std::size_t page_size) {
  return mib * 1024 * 1024 / page_size;
}

// `bytes` in mebibytes to a tenth ("1.5 MiB"); where `gib_from_one`, from a gibibyte on, in
// gibibytes ("2.0 GiB").
inline std::string BytesText(std::uint64_t bytes, bool gib_from_one = false) {
  const bool gib = gib_from_one && bytes >= (std::uint64_t{1} << 30);
  char text[32];
  static_cast<void>(std::snprintf(text, sizeof text, gib ? "%.1f GiB" : "%.1f MiB",
                                  static_cast<double>(bytes) / (gib ? 1 << 30 : 1 << 20)));
  return text;
}
