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
  bool then_launch_report = false;  // the target does not exist: a launch report follows
};

void ExpectRun(const RunCase& c) {
  SCOPED_TRACE(c.name);
  const ProcessResult result = RunProcess(BuiltProgram("nodestart"), c.arguments);
  std::string rest;
  ASSERT_TRUE(AfterBannerAndStamp(result.output, rest));
  EXPECT_EQ(result.exit_status, c.exit_status);
  if (!c.then_launch_report) {
    EXPECT_EQ(rest, c.expected_after_stamp);
    return;
  }
  // Which step refuses first (a missing file, or a node this machine lacks) is the launch's
  // business, tested exactly there; here it is enough that a report ends the run.
  EXPECT_EQ(rest.substr(0, c.expected_after_stamp.size()), c.expected_after_stamp);
  const std::string report = rest.substr(c.expected_after_stamp.size());
  EXPECT_EQ(report.rfind("\n ERROR - ", 0), 0u) << report;
  EXPECT_EQ(report.back(), '\n') << report;
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

// The targets below do not exist, so the launch reports a failure after the summary.
RunCase Launching(const char* name, std::vector<std::string> arguments,
                  const std::string& summary) {
  return {name, std::move(arguments), summary, 2, true};
}

TEST(RunDriverEndToEnd, PrintsTheSummaryOfWhatItLaunches) {
  const RunCase cases[] = {
      Launching("usage example", {"1", "7zg.exe", "b"}, Summary("7zg.exe", "\"7zg.exe\" b", 1)),
      Launching("spaces in target", {"1", "indigo benchmark.exe"},
                Summary("indigo benchmark.exe", "\"indigo benchmark.exe\"", 1)),
      Launching("digit then letter", {"1x", "t"}, Summary("t", "\"t\"", 1)),
      Launching("minus one", {"-1", "t"}, Summary("t", "\"t\"", 65535)),
      Launching("wraps at 16 bits", {"65537", "t"}, Summary("t", "\"t\"", 1)),
      Launching("plus sign", {"+3", "t"}, Summary("t", "\"t\"", 3)),
      Launching("leading spaces", {"  4", "t"}, Summary("t", "\"t\"", 4)),
      Launching("decimal always", {"010", "t"}, Summary("t", "\"t\"", 10)),
      Launching("empty node", {"", "t"}, Summary("t", "\"t\"", 0)),
      Launching("underscore", {"_1", "t"}, Summary("t", "\"t\"", 0)),
      Launching("space then letter", {" a", "t"}, Summary("t", "\"t\"", 0)),
      Launching("letter beyond ASCII", {"\xc3\xa9", "t"}, Summary("t", "\"t\"", 0)),
      Launching("arguments unchanged",
                {"2", "t.exe", "a b", "c", "", "\"q\"", "back\\", "tab\there", ""},
                Summary("t.exe", "\"t.exe\" a b c  \"q\" back\\ tab\there ", 2)),
      Launching("non-ASCII target", {"0", "\xc3\xa9t\xc3\xa9 \xe4\xb8\xad.exe", "\xf0\x9f\x98\x80"},
                Summary("\xc3\xa9t\xc3\xa9 \xe4\xb8\xad.exe",
                        "\"\xc3\xa9t\xc3\xa9 \xe4\xb8\xad.exe\" \xf0\x9f\x98\x80", 0)),
      Launching("percent signs", {"5", "%s.exe", "%d"}, Summary("%s.exe", "\"%s.exe\" %d", 5)),
  };
  for (const RunCase& c : cases) ExpectRun(c);
}

TEST(RunDriverEndToEnd, HoldsUnderLargeInput) {
#ifdef _WIN32
  const std::size_t kLarge = 30000;  // Windows caps a whole command line at 32,767 characters
#else
  const std::size_t kLarge = std::size_t{100} * 1024;
#endif
  const std::string large(kLarge, 'y');
  ExpectRun(Launching("large argument", {"0", "t", large}, Summary("t", "\"t\" " + large, 0)));
  std::vector<std::string> many(2000, "z");
  std::string command_line = "\"t\"";
  for (const std::string& argument : many) command_line += " " + argument;
  many.insert(many.begin(), {"0", "t"});
  ExpectRun(Launching("many arguments", many, Summary("t", command_line, 0)));
}

#ifndef _WIN32
TEST(RunDriverEndToEnd, PassesBytesThatAreNotUtf8ThroughUnchanged) {
  ExpectRun(Launching("invalid UTF-8", {"0", "t\xff\xfe.bin", "\x80", "\xc3"},
                      Summary("t\xff\xfe.bin", "\"t\xff\xfe.bin\" \x80 \xc3", 0)));
}
#endif

}  // namespace
