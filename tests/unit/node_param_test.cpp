#include "invocation/node_param.h"

#include <gtest/gtest.h>

namespace {

struct NodeCase {
  const wchar_t* parameter;
  std::uint16_t number;
  bool acceptable;
};

// Converted like "%d", low 16 bits kept; refused only when the first character is an ASCII letter.
const NodeCase kNodeCases[] = {
    {L"0", 0, true},
    {L"1", 1, true},
    {L"12", 12, true},
    {L"+3", 3, true},
    {L"   4", 4, true},
    {L"\t\n\v\f\r5", 5, true},
    {L"010", 10, true},
    {L"1x", 1, true},
    {L"7 8", 7, true},
    {L"-1", 65535, true},
    {L"-65536", 0, true},
    {L"65535", 65535, true},
    {L"65536", 0, true},
    {L"65537", 1, true},
    {L"2147483647", 65535, true},
    {L"-2147483648", 0, true},
    {L"4294967297", 1, true},                // beyond 32 bits: the low 16 bits of the value
    {L"99999999999999999999", 65535, true},  // 10^20 - 1 = ...0xFFFF in its low 16 bits
    {L"", 0, true},
    {L"_1", 0, true},
    {L"#", 0, true},
    {L"+", 0, true},
    {L"-", 0, true},
    {L"+-1", 0, true},
    {L" a", 0, true},
    {L"\u00e91", 0, true},  // a letter beyond ASCII is not refused
    {L"\uff11", 0, true},   // nor is a full-width digit, and it is no decimal digit either
    {L"\u00a02", 0, true},  // no-break space is not white space to "%d"
    {L"abc", 0, false},
    {L"x1", 0, false},
    {L"Z9", 0, false},
    {L"a", 0, false},
    {L"z", 0, false},
    {L"A", 0, false},
    {L"@1", 0, true},  // the characters beside the letter ranges are accepted
    {L"[", 0, true},
    {L"`", 0, true},
    {L"{", 0, true},
};

TEST(ParseNodeParam, FollowsTheConversionAndLetterRules) {
  for (const NodeCase& c : kNodeCases) {
    const NodeParam parsed = ParseNodeParam(c.parameter);
    EXPECT_EQ(parsed.number, c.number) << "parameter: " << testing::PrintToString(c.parameter);
    EXPECT_EQ(parsed.acceptable, c.acceptable)
        << "parameter: " << testing::PrintToString(c.parameter);
  }
}

}  // namespace
