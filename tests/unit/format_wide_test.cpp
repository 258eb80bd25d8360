#include "text/format_wide.h"

#include <climits>

#include <gtest/gtest.h>

namespace {

TEST(FormatWide, ConvertsByTheMessagesConvention) {
  const WideText wide = L"t\u00e9st";
  struct Case {
    WideText formatted;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {FormatWide(L"\n  Target: %s", {wide}), L"\n  Target: t\u00e9st"},
      {FormatWide(L"\n Build %S %S\n", {"Jan 13 2019", "20:24:56"}),
       L"\n Build Jan 13 2019 20:24:56\n"},
      {FormatWide(L"%d|%d|%d", {0, -1, 65535}), L"0|-1|65535"},
      {FormatWide(L"%d %d", {INT32_MAX, INT32_MIN}), L"2147483647 -2147483648"},
      {FormatWide(L"100%% %s", {L"%d"}), L"100% %d"},
      {FormatWide(L"\"%s\"", {L""}), L"\"\""},
      {FormatWide(L"no conversions", {}), L"no conversions"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.formatted, c.expected);
}

TEST(FormatWide, RefusesWhatItCannotFormat) {
  EXPECT_THROW(FormatWide(L"%s", {"narrow"}), TextLayerFailure);
  EXPECT_THROW(FormatWide(L"%S", {L"wide"}), TextLayerFailure);
  EXPECT_THROW(FormatWide(L"%d", {L"text"}), TextLayerFailure);
  EXPECT_THROW(FormatWide(L"%s %s", {L"one"}), TextLayerFailure);
  EXPECT_THROW(FormatWide(L"%s", {L"one", L"two"}), TextLayerFailure);
  EXPECT_THROW(FormatWide(L"%x", {1}), TextLayerFailure);
  EXPECT_THROW(FormatWide(L"trailing %", {}), TextLayerFailure);
}

TEST(AppendChecked, StopsAtTheLengthLimit) {
  WideText text = L"ab";
  // Only the sizes are compared; nothing this large is ever allocated.
  EXPECT_THROW(AppendChecked(text, L"x", kMaxWideTextLength - 1), TextLayerFailure);
  EXPECT_EQ(text, L"ab");
  AppendChecked(text, L"cd", 2);
  EXPECT_EQ(text, L"abcd");
}

}  // namespace
