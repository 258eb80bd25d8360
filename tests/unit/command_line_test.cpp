#include "invocation/command_line.h"

#include <gtest/gtest.h>

namespace {

struct CommandLineCase {
  const wchar_t* application_name;
  std::vector<WideText> arguments;
  const wchar_t* expected;
};

const CommandLineCase kCommandLineCases[] = {
    {L"7zg.exe", {L"b"}, L"\"7zg.exe\" b"},
    {L"7zg.exe", {}, L"\"7zg.exe\""},
    {L"indigo benchmark.exe", {}, L"\"indigo benchmark.exe\""},
    {L"t.exe", {L"a b", L"c"}, L"\"t.exe\" a b c"},
    {L"t.exe", {L"a", L"", L"c"}, L"\"t.exe\" a  c"},
    {L"t.exe", {L"a", L""}, L"\"t.exe\" a "},
    {L"t.exe", {L""}, L"\"t.exe\" "},
    {L"say \"hi\".exe", {}, L"\"say \"hi\".exe\""},
    {L"t.exe",
     {L"\"quoted\"", L"back\\slash\\", L"tab\there"},
     L"\"t.exe\" \"quoted\" back\\slash\\ tab\there"},
    {L"", {}, L"\"\""},
    {L"\u00e9t\u00e9.exe",
     {L"\u4e2d\u6587", L"100%", L"%s"},
     L"\"\u00e9t\u00e9.exe\" \u4e2d\u6587 100% %s"},
};

TEST(ComposeCommandLine, QuotesTheTargetAndAppendsArgumentsUnchanged) {
  for (const CommandLineCase& c : kCommandLineCases) {
    EXPECT_EQ(ComposeCommandLine(c.application_name, c.arguments), c.expected);
  }
}

TEST(ComposeCommandLine, CarriesLongAndManyArguments) {
  const WideText long_argument(std::size_t{100} * 1024, L'x');
  const std::vector<WideText> many(10000, L"ab");
  EXPECT_EQ(ComposeCommandLine(L"t", {long_argument}), L"\"t\" " + long_argument);
  const WideText composed = ComposeCommandLine(L"t", many);
  EXPECT_EQ(composed.size(), 3 + many.size() * 3);
  EXPECT_EQ(composed.substr(composed.size() - 6), L" ab ab");
}

}  // namespace
