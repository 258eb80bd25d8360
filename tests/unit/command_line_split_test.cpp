#include "platform/linux/command_line_split.h"

#include <gtest/gtest.h>

#include "invocation/command_line.h"

namespace {

struct SplitCase {
  const wchar_t* command_line;
  std::vector<WideText> arguments;
};

// The C runtime's documented examples, and the program name's own simpler rule.
const SplitCase kSplitCases[] = {
    {L"p \"abc\" d e", {L"p", L"abc", L"d", L"e"}},
    {L"p a\\\\b d\"e f\"g h", {L"p", L"a\\\\b", L"de fg", L"h"}},
    {L"p a\\\\\\\"b c d", {L"p", L"a\\\"b", L"c", L"d"}},
    {L"p a\\\\\\\\\"b c\" d e", {L"p", L"a\\\\b c", L"d", L"e"}},
    {L"p a\"b\"\" c d", {L"p", L"ab\" c d"}},
    {L"p \"\"\"\"", {L"p", L"\""}},
    {L"p \"\" x", {L"p", L"", L"x"}},
    {L"p  \t a\t\tb   ", {L"p", L"a", L"b"}},
    {L"p back\\slash\\", {L"p", L"back\\slash\\"}},
    {L"p \"unterminated quote", {L"p", L"unterminated quote"}},
    {L"\"indigo benchmark.exe\" b", {L"indigo benchmark.exe", L"b"}},
    {L"\"a b\"c d", {L"a bc", L"d"}},
    {L"a\\\"b c", {L"a\\b c"}},
    {L"\"C:\\dir\\\" x", {L"C:\\dir\\", L"x"}},
    {L"p\tq", {L"p", L"q"}},
    {L"", {L""}},
    {L"\"\"", {L""}},
    {L"\"t.exe\" a b c", {L"t.exe", L"a", L"b", L"c"}},
    {L"p \u00e9\u4e2d \"\U0001F600 x\"", {L"p", L"\u00e9\u4e2d", L"\U0001F600 x"}},
};

TEST(SplitCommandLine, FollowsTheMicrosoftRuntimeRules) {
  for (const SplitCase& c : kSplitCases) {
    EXPECT_EQ(SplitCommandLine(c.command_line), c.arguments)
        << testing::PrintToString(WideText(c.command_line));
  }
}

TEST(SplitCommandLine, GivesBackWhatWasComposedOfPlainWords) {
  const std::vector<WideText> arguments = {L"b", L"-x", L"--level=3", L"\u00e9", L"a\\b"};
  std::vector<WideText> expected = {L"indigo benchmark.exe"};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(SplitCommandLine(ComposeCommandLine(L"indigo benchmark.exe", arguments)), expected);
}

}  // namespace
