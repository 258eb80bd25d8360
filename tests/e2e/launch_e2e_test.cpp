// Runs the built tool on real children and compares its exact output and exit status.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/expected_output.h"
#include "support/process_runner.h"
#include "support/system_facts.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#include <cerrno>
#endif

namespace {

const char kWaiting[] = "\n Waiting for child process to exit ...";

std::string ExitLine(long code) {
  return "\n Child process exited with code " + std::to_string(code) + "\n";
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

struct LaunchCase {
  const char* name;
  std::string node;
  std::string target;
  std::vector<std::string> arguments;
  std::string command_line;
  int shown_node;
  std::string after_summary;
  int exit_status;
};

// The child runs while the tool prints its "Waiting" line, so the two may come in either order;
// everything else has one order only.
std::string ChildFirst(const std::string& expected) {
  const std::size_t waiting = expected.find(kWaiting);
  const std::size_t exit_line = expected.rfind("\n Child process exited with code ");
  if (waiting == std::string::npos || exit_line == std::string::npos) return expected;
  const std::size_t child = waiting + sizeof kWaiting - 1;
  return expected.substr(0, waiting) + expected.substr(child, exit_line - child) + kWaiting +
         expected.substr(exit_line);
}

void ExpectLaunch(const std::string& tool, const LaunchCase& c) {
  SCOPED_TRACE(c.name);
  std::vector<std::string> arguments = {c.node, c.target};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
  const ProcessResult result = RunProcess(tool, arguments);
  std::string rest;
  ASSERT_TRUE(AfterBannerAndStamp(result.output, rest));
  const std::string expected = Summary(c.target, c.command_line, c.shown_node) + c.after_summary;
  if (rest != ChildFirst(expected)) {
    EXPECT_EQ(rest, expected);
  }
  EXPECT_EQ(result.exit_status, c.exit_status);
}

// A copy of the probe child under a name with spaces, in a folder with spaces.
std::string ProbeWithSpaces() {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / "nodestart e2e folder";
  fs::create_directories(folder);
  const fs::path original = fs::u8path(BuiltProgram("probe_child"));
  const fs::path copy = folder / ("probe child" + original.extension().string());
  fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
  return copy.u8string();
}

#ifndef _WIN32

// A file nobody may execute.
std::string PlainFile() {
  namespace fs = std::filesystem;
  const fs::path path = fs::temp_directory_path() / "nodestart e2e plain file";
  std::ofstream(path) << "not a program\n";
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  return path.string();
}

const std::string kProbe = BuiltProgram("probe_child");
const std::string kTool = BuiltProgram("nodestart");

std::string ChildSaw(const std::string& arg0, const std::vector<std::string>& arguments) {
  std::string out = "arg0:" + arg0 + "\n";
  for (const std::string& argument : arguments) out += "arg:" + argument + "\n";
  return out;
}

std::string Ran(const std::string& child_output, long code) {
  return kWaiting + child_output + ExitLine(code);
}

TEST(LaunchEndToEnd, RunsTheChildAndReportsItsExitCode) {
  const std::string spaced = ProbeWithSpaces();
  const LaunchCase cases[] = {
      {"exit code 3",
       "0",
       kProbe,
       {"--exit=3"},
       Quoted(kProbe) + " --exit=3",
       0,
       Ran(ChildSaw(kProbe, {"--exit=3"}), 3),
       0},
      {"killed by a signal",
       "0",
       kProbe,
       {"--signal=15"},
       Quoted(kProbe) + " --signal=15",
       0,
       Ran(ChildSaw(kProbe, {"--signal=15"}), 128 + 15),
       0},
      {"target with spaces",
       "0",
       spaced,
       {"b"},
       Quoted(spaced) + " b",
       0,
       Ran(ChildSaw(spaced, {"b"}), 0),
       0},
      {"split as the Microsoft runtime does",
       "0",
       kProbe,
       {"\"abc\"", "d\"e", "f\"g", "a\\\\\\\"b", "back\\slash\\"},
       Quoted(kProbe) + " \"abc\" d\"e f\"g a\\\\\\\"b back\\slash\\",
       0,
       Ran(ChildSaw(kProbe, {"abc", "de fg", "a\\\"b", "back\\slash\\"}), 0),
       0},
      {"bytes reach the child unchanged",
       "0",
       kProbe,
       {"\xc3\xa9\xe4\xb8\xad", "\xff\xfe", "\x80"},
       Quoted(kProbe) + " \xc3\xa9\xe4\xb8\xad \xff\xfe \x80",
       0,
       Ran(ChildSaw(kProbe, {"\xc3\xa9\xe4\xb8\xad", "\xff\xfe", "\x80"}), 0),
       0},
      {"found in PATH", "0", "true", {}, "\"true\"", 0, Ran("", 0), 0},
      {"false from PATH", "0", "false", {"x"}, "\"false\" x", 0, Ran("", 1), 0},
  };
  for (const LaunchCase& c : cases) ExpectLaunch(kTool, c);
}

TEST(LaunchEndToEnd, ReportsAChildThatCannotStartAndStartsNothing) {
  const std::string missing = "/nonexistent/program";
  const std::string plain_file = PlainFile();
  const std::string report = "\n ERROR - CreateProcess: ";
  const LaunchCase cases[] = {
      {"missing program",
       "0",
       missing,
       {"a"},
       Quoted(missing) + " a",
       0,
       report + SystemText(ENOENT),
       2},
      {"missing from PATH",
       "0",
       "no-such-program-here",
       {},
       "\"no-such-program-here\"",
       0,
       report + SystemText(ENOENT),
       2},
      {"not executable",
       "0",
       plain_file,
       {},
       Quoted(plain_file),
       0,
       report + SystemText(EACCES),
       2},
      {"node beyond any machine",
       "-1",
       kProbe,
       {"--exit=5"},
       Quoted(kProbe) + " --exit=5",
       65535,
       report + SystemText(EINVAL),
       2},
      {"node this machine lacks",
       "1000",
       kProbe,
       {"--exit=5"},
       Quoted(kProbe) + " --exit=5",
       1000,
       report + SystemText(EINVAL),
       2},
  };
  for (const LaunchCase& c : cases) ExpectLaunch(kTool, c);
}

TEST(LaunchEndToEnd, ChildPrefersTheNodeForItsMemory) {
  const LaunchCase c = {"node 0",
                        "0",
                        kProbe,
                        {"--policy"},
                        Quoted(kProbe) + " --policy",
                        0,
                        Ran(ChildSaw(kProbe, {"--policy"}) + "policy:preferred 0\n", 0),
                        0};
  ExpectLaunch(kTool, c);
}

TEST(LaunchEndToEnd, NumactlSeesThePreferredPolicy) {
  if (access("/usr/bin/numactl", X_OK) != 0) GTEST_SKIP() << "numactl is not installed";
  const ProcessResult result = RunProcess(kTool, {"0", "numactl", "--show"});
  EXPECT_NE(result.output.find("policy: preferred\n"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("\npreferred node: 0\n"), std::string::npos) << result.output;
  EXPECT_EQ(result.exit_status, 0);
}

#else  // Windows, under Wine or not

const std::string kProbe = BuiltProgram("probe_child");

TEST(LaunchEndToEnd, RealToolSetsThePreferredNode) {
  const std::string tool = BuiltProgram("nodestart");
  const std::string command_line = Quoted(kProbe) + " --exit=3";
  if (UnderWine()) {
    // Wine does not implement the attribute: the failure is reported and nothing starts.
    ExpectLaunch(tool, {"refused by Wine",
                        "0",
                        kProbe,
                        {"--exit=3"},
                        command_line,
                        0,
                        "\n ERROR - UpdateProcThreadAttribute: " + SystemText(ERROR_NOT_SUPPORTED),
                        2});
  } else {
    ExpectLaunch(tool, {"node 0",
                        "0",
                        kProbe,
                        {"--exit=3"},
                        command_line,
                        0,
                        kWaiting + ("cmdline:" + command_line + "\narg:--exit=3\n") + ExitLine(3),
                        0});
  }
}

std::string Ran(const std::string& command_line, const std::vector<std::string>& arguments,
                int node, long code) {
  std::string out = "cmdline:" + command_line + "\n";
  for (const std::string& argument : arguments) out += "arg:" + argument + "\n";
  return kWaiting + out + "node:" + std::to_string(node) + "\n" + ExitLine(code);
}

TEST(LaunchEndToEnd, CreatesWaitsAndReportsWithTheRealKernel) {
  const std::string tool = BuiltProgram("nodestart_node_stand_in");
  const std::string spaced = ProbeWithSpaces();
  const std::string unicode = "\xc3\xa9t\xc3\xa9 \xe4\xb8\xad\xf0\x9f\x98\x80";
  const LaunchCase cases[] = {
      {"exit code 3",
       "1",
       kProbe,
       {"--exit=3"},
       Quoted(kProbe) + " --exit=3",
       1,
       Ran(Quoted(kProbe) + " --exit=3", {"--exit=3"}, 1, 3),
       0},
      {"top bit set",
       "65537",
       kProbe,
       {"--exit=0xC0000005"},
       Quoted(kProbe) + " --exit=0xC0000005",
       1,
       Ran(Quoted(kProbe) + " --exit=0xC0000005", {"--exit=0xC0000005"}, 1, -1073741819),
       0},
      {"target with spaces",
       "2",
       spaced,
       {"b"},
       Quoted(spaced) + " b",
       2,
       Ran(Quoted(spaced) + " b", {"b"}, 2, 0),
       0},
      {"Unicode arguments",
       "0",
       kProbe,
       {unicode},
       Quoted(kProbe) + " " + unicode,
       0,
       Ran(Quoted(kProbe) + " " + unicode, {"\xc3\xa9t\xc3\xa9", "\xe4\xb8\xad\xf0\x9f\x98\x80"}, 0,
           0),
       0},
  };
  for (const LaunchCase& c : cases) ExpectLaunch(tool, c);

  const std::string missing = BuiltProgram("no_such_program");
  ExpectLaunch(tool, {"missing program",
                      "0",
                      missing,
                      {},
                      Quoted(missing),
                      0,
                      "\n ERROR - CreateProcess: " + SystemText(ERROR_FILE_NOT_FOUND),
                      2});
}

#endif

}  // namespace
