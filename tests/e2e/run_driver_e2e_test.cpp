// Runs the built tool and compares its exact standard output and exit status.
#include <gtest/gtest.h>

#include "support/expected_output.h"
#include "support/process_runner.h"

namespace {

struct RunCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string expected_after_stamp;
  int exit_status;
};

void ExpectRun(const RunCase& c) {
  SCOPED_TRACE(c.name);
  const ProcessResult result = RunProcess(BuiltProgram("nodestart"), c.arguments);
  std::string rest;
  ASSERT_TRUE(AfterBannerAndStamp(result.output, rest));
  EXPECT_EQ(rest, c.expected_after_stamp);
  EXPECT_EQ(result.exit_status, c.exit_status);
}

TEST(RunDriverEndToEnd, RefusesBadUsageWithStatusOne) {
  const RunCase cases[] = {
      {"no arguments", {}, kUsage, 1},
      {"node only", {"1"}, kUsage, 1},
      {"letters", {"abc", "t.exe"}, std::string(kRefusedNodeLine) + kUsage, 1},
      {"letter first", {"x1", "t.exe", "a"}, std::string(kRefusedNodeLine) + kUsage, 1},
      {"letter only, no target", {"x"}, kUsage, 1},
  };
  for (const RunCase& c : cases) ExpectRun(c);
}

TEST(RunDriverEndToEnd, PrintsTheSummaryOfWhatItLaunches) {
  const RunCase cases[] = {
      {"usage example", {"1", "7zg.exe", "b"}, Summary("7zg.exe", "\"7zg.exe\" b", 1), 0},
      {"spaces in target",
       {"1", "indigo benchmark.exe"},
       Summary("indigo benchmark.exe", "\"indigo benchmark.exe\"", 1),
       0},
      {"digit then letter", {"1x", "t"}, Summary("t", "\"t\"", 1), 0},
      {"minus one", {"-1", "t"}, Summary("t", "\"t\"", 65535), 0},
      {"wraps at 16 bits", {"65537", "t"}, Summary("t", "\"t\"", 1), 0},
      {"plus sign", {"+3", "t"}, Summary("t", "\"t\"", 3), 0},
      {"leading spaces", {"  4", "t"}, Summary("t", "\"t\"", 4), 0},
      {"decimal always", {"010", "t"}, Summary("t", "\"t\"", 10), 0},
      {"empty node", {"", "t"}, Summary("t", "\"t\"", 0), 0},
      {"underscore", {"_1", "t"}, Summary("t", "\"t\"", 0), 0},
      {"space then letter", {" a", "t"}, Summary("t", "\"t\"", 0), 0},
      {"letter beyond ASCII", {"\xc3\xa9", "t"}, Summary("t", "\"t\"", 0), 0},
      {"arguments unchanged",
       {"2", "t.exe", "a b", "c", "", "\"q\"", "back\\", "tab\there", ""},
       Summary("t.exe", "\"t.exe\" a b c  \"q\" back\\ tab\there ", 2),
       0},
      {"non-ASCII target",
       {"0", "\xc3\xa9t\xc3\xa9 \xe4\xb8\xad.exe", "\xf0\x9f\x98\x80"},
       Summary("\xc3\xa9t\xc3\xa9 \xe4\xb8\xad.exe",
               "\"\xc3\xa9t\xc3\xa9 \xe4\xb8\xad.exe\" \xf0\x9f\x98\x80", 0),
       0},
      {"percent signs", {"5", "%s.exe", "%d"}, Summary("%s.exe", "\"%s.exe\" %d", 5), 0},
  };
  for (const RunCase& c : cases) ExpectRun(c);
}

TEST(RunDriverEndToEnd, HoldsUnderLargeInput) {
#ifdef _WIN32
  const std::size_t kLarge = 30000;  // Windows caps a whole command line at 32,767 characters
#else
  const std::size_t kLarge = 100 * 1024;
#endif
  const std::string large(kLarge, 'y');
  ExpectRun({"large argument", {"0", "t", large}, Summary("t", "\"t\" " + large, 0), 0});
  std::vector<std::string> many(2000, "z");
  std::string command_line = "\"t\"";
  for (const std::string& argument : many) command_line += " " + argument;
  many.insert(many.begin(), {"0", "t"});
  ExpectRun({"many arguments", many, Summary("t", command_line, 0), 0});
}

#ifndef _WIN32
TEST(RunDriverEndToEnd, PassesBytesThatAreNotUtf8ThroughUnchanged) {
  ExpectRun({"invalid UTF-8",
             {"0", "t\xff\xfe.bin", "\x80", "\xc3"},
             Summary("t\xff\xfe.bin", "\"t\xff\xfe.bin\" \x80 \xc3", 0),
             0});
}
#endif

}  // namespace
