// Runs the built tool on real children and compares its exact output and exit status.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/expected_output.h"
#include "support/process_runner.h"
#include "support/scratch_folder.h"
#include "support/system_facts.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "support/started_process_posix.h"
#endif

namespace {

const char kWaiting[] = "\n Waiting for child process to exit ...";

std::string ExitLine(long code) {
  return "\n Child process exited with code " + std::to_string(code) + "\n";
}

struct LaunchCase {
  const char* name;
  int node;
  std::vector<std::string> target_and_arguments;
  std::string after_summary;
  int exit_status;
  std::vector<long> refused_calls = {};  // Linux: system calls a seccomp filter refuses
  unsigned long stack_kib = 0;           // Linux: a stack limit (ulimit -s)
};

// The command line the tool composes, as its summary shows it.
std::string CommandLine(const std::vector<std::string>& target_and_arguments) {
  std::string command_line = "\"" + target_and_arguments[0] + "\"";
  for (std::size_t i = 1; i < target_and_arguments.size(); ++i) {
    command_line += " " + target_and_arguments[i];
  }
  return command_line;
}

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
  std::vector<std::string> arguments = {std::to_string(c.node)};
  arguments.insert(arguments.end(), c.target_and_arguments.begin(), c.target_and_arguments.end());
#ifdef _WIN32
  const ProcessResult result = RunProcess(tool, arguments);
#else
  StartOptions options;
  options.refused_calls = c.refused_calls;
  options.stack_kib = c.stack_kib;
  const ProcessResult result = StartedProcess(tool, arguments, options).Finish();
#endif
  std::string rest;
  ASSERT_TRUE(AfterBannerAndStamp(result.output, rest));
  const std::string expected =
      Summary(c.target_and_arguments[0], CommandLine(c.target_and_arguments), c.node) +
      c.after_summary;
  if (rest != ChildFirst(expected)) {
    EXPECT_EQ(rest, expected);
  }
  EXPECT_EQ(result.exit_status, c.exit_status);
}

// A copy of the probe child under a name with spaces, in a folder with spaces.
std::string ProbeWithSpaces(const ScratchFolder& scratch) {
  namespace fs = std::filesystem;
  const fs::path folder = scratch.path() / "nodestart e2e folder";
  fs::create_directories(folder);
  const fs::path original = fs::u8path(BuiltProgram("probe_child"));
  const fs::path copy = folder / ("probe child" + original.extension().string());
  fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
  return copy.u8string();
}

const std::string kProbe = BuiltProgram("probe_child");

#ifndef _WIN32

const std::string kTool = BuiltProgram("nodestart");
const std::string kReport = "\n ERROR - CreateProcess: ";

// A file nobody may execute.
std::string PlainFile(const ScratchFolder& scratch) {
  namespace fs = std::filesystem;
  const fs::path path = scratch.path() / "nodestart e2e plain file";
  std::ofstream(path) << "not a program\n";
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  return path.string();
}

// The report's text for a node this machine lacks, with the nodes the kernel says it has.
std::string NoSuchNode(int node) {
  std::ifstream online("/sys/devices/system/node/online");
  std::string nodes;
  std::getline(online, nodes);
  return "this machine has no NUMA node " + std::to_string(node) + " (its nodes: " + nodes + ")\n";
}

// How glibc's vfork, which starts the child, asks the kernel.
#ifdef SYS_vfork
constexpr long kStartCall = SYS_vfork;
#else
constexpr long kStartCall = SYS_clone;
#endif

const std::string kNotPermitted =
    "a seccomp filter refuses NUMA memory policies here (allow set_mempolicy, or give a container "
    "CAP_SYS_NICE)\n";

// What the probe prints for the arguments it got (and `extra` after them), then the end of the run.
std::string Ran(const std::string& arg0, const std::vector<std::string>& arguments, long code,
                const std::string& extra = "") {
  std::string out = "arg0:" + arg0 + "\n";
  for (const std::string& argument : arguments) out += "arg:" + argument + "\n";
  return kWaiting + out + extra + ExitLine(code);
}

TEST(LaunchEndToEnd, RunsTheChildAndReportsItsExitCode) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const ScratchFolder scratch;
  const std::string spaced = ProbeWithSpaces(scratch);
  const std::string utf8 = "\xc3\xa9\xe4\xb8\xad";
  // The longest name a file may have, found through PATH.
  const std::string longest(255, 'p');
  std::filesystem::create_symlink(kProbe, scratch.path() / longest);
  setenv("PATH", (scratch.path().string() + ":" + std::getenv("PATH")).c_str(), 1);
  const LaunchCase cases[] = {
      {"exit code 3", 0, {kProbe, "--exit=3"}, Ran(kProbe, {"--exit=3"}, 3), 0},
      {"killed by a signal", 0, {kProbe, "--signal=15"}, Ran(kProbe, {"--signal=15"}, 143), 0},
      {"target with spaces", 0, {spaced, "b"}, Ran(spaced, {"b"}, 0), 0},
      {"split as the Microsoft runtime does",
       0,
       {kProbe, "\"abc\"", "d\"e", "f\"g", "a\\\\\\\"b", "back\\slash\\"},
       Ran(kProbe, {"abc", "de fg", "a\\\"b", "back\\slash\\"}, 0),
       0},
      {"bytes reach the child unchanged",
       0,
       {kProbe, utf8, "\xff\xfe", "\x80"},
       Ran(kProbe, {utf8, "\xff\xfe", "\x80"}, 0),
       0},
      {"memory policy prefers the node",
       0,
       {kProbe, "--policy"},
       Ran(kProbe, {"--policy"}, 0, "policy:" + PreferredPolicyName() + " 0\n"),
       0},
      {"found in PATH", 0, {"false", "x"}, kWaiting + ExitLine(1), 0},
      {"a name of 255 bytes, found in PATH", 0, {longest, "x"}, Ran(longest, {"x"}, 0), 0},
  };
  for (const LaunchCase& c : cases) ExpectLaunch(kTool, c);
}

TEST(LaunchEndToEnd, ReportsAChildThatCannotStartAndStartsNothing) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const ScratchFolder scratch;
  const LaunchCase cases[] = {
      {"missing program", 0, {"/nonexistent/program", "a"}, kReport + SystemText(ENOENT), 2},
      {"missing program, the stack limited to 256 KiB",
       0,
       {"/nonexistent/program"},
       kReport + SystemText(ENOENT),
       2,
       {},
       256},
      {"missing from PATH", 0, {"no-such-program-here"}, kReport + SystemText(ENOENT), 2},
      {"not executable", 0, {PlainFile(scratch)}, kReport + SystemText(EACCES), 2},
      {"node beyond any machine", 65535, {kProbe, "--exit=5"}, kReport + NoSuchNode(65535), 2},
      {"node this machine lacks", 1000, {kProbe, "--exit=5"}, kReport + NoSuchNode(1000), 2},
      {"memory policies refused, as in a container without CAP_SYS_NICE",
       0,
       {kProbe},
       kReport + kNotPermitted,
       2,
       {SYS_set_mempolicy}},
      {"the same, the policy not even readable",
       0,
       {kProbe},
       kReport + kNotPermitted,
       2,
       {SYS_get_mempolicy, SYS_set_mempolicy}},
      {"another call refused: the system's text",
       0,
       {kProbe},
       kReport + SystemText(EPERM),
       2,
       {kStartCall}},
  };
  for (const LaunchCase& c : cases) ExpectLaunch(kTool, c);
}

TEST(LaunchEndToEnd, NumactlSeesThePreferredPolicy) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  if (access("/usr/bin/numactl", X_OK) != 0) GTEST_SKIP() << "numactl is not installed";
  const ProcessResult result = RunProcess(kTool, {"0", "numactl", "--show"});
  // Debian 12's numactl names no preferred-many policy: it shows its number and its nodes.
  const bool many = PreferredPolicyName() != "preferred";
  EXPECT_NE(result.output.find(many ? "policy: [8197]\n" : "policy: preferred\n"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find(many ? "\npreferred: 0 \n" : "\npreferred node: 0\n"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(result.exit_status, 0);
}

#else  // Windows, under Wine or not

// What the probe prints for its command line and arguments, then the end of the run. `node` is
// what the test build of the tool recorded, if it ran.
std::string Ran(const std::vector<std::string>& target_and_arguments,
                const std::vector<std::string>& arguments, int node, long code) {
  std::string out = "cmdline:" + CommandLine(target_and_arguments) + "\n";
  for (const std::string& argument : arguments) out += "arg:" + argument + "\n";
  if (node >= 0) out += "node:" + std::to_string(node) + "\n";
  return kWaiting + out + ExitLine(code);
}

TEST(LaunchEndToEnd, RealToolSetsThePreferredNode) {
  const std::vector<std::string> target = {kProbe, "--exit=3"};
  if (UnderWine()) {
    // Wine does not implement the attribute: the failure is reported and nothing starts.
    const std::string report = "\n ERROR - UpdateProcThreadAttribute: ";
    ExpectLaunch(BuiltProgram("nodestart"),
                 {"refused by Wine", 0, target, report + SystemText(ERROR_NOT_SUPPORTED), 2});
  } else {
    ExpectLaunch(BuiltProgram("nodestart"),
                 {"node 0", 0, target, Ran(target, {"--exit=3"}, -1, 3), 0});
  }
}

// The tool's output is a pipe here, and the child's lines come through it: a console child
// created without handle inheritance or standard handles of its own writes where the tool does.
TEST(LaunchEndToEnd, CreatesWaitsAndReportsWithTheRealKernel) {
  const std::string tool = BuiltProgram("nodestart_node_stand_in");
  const std::vector<std::string> exit_3 = {kProbe, "--exit=3"};
  const std::vector<std::string> top_bit = {kProbe, "--exit=0xC0000005"};
  const ScratchFolder scratch;
  const std::vector<std::string> spaced = {ProbeWithSpaces(scratch), "b"};
  const std::vector<std::string> unicode = {kProbe,
                                            "\xc3\xa9t\xc3\xa9 \xe4\xb8\xad\xf0\x9f\x98\x80"};
  const std::string missing = BuiltProgram("no_such_program");
  const LaunchCase cases[] = {
      {"exit code 3", 1, exit_3, Ran(exit_3, {"--exit=3"}, 1, 3), 0},
      {"top bit set", 1, top_bit, Ran(top_bit, {"--exit=0xC0000005"}, 1, -1073741819), 0},
      {"target with spaces", 2, spaced, Ran(spaced, {"b"}, 2, 0), 0},
      {"Unicode arguments", 0, unicode,
       Ran(unicode, {"\xc3\xa9t\xc3\xa9", "\xe4\xb8\xad\xf0\x9f\x98\x80"}, 0, 0), 0},
      {"missing program",
       0,
       {missing},
       "\n ERROR - CreateProcess: " + SystemText(ERROR_FILE_NOT_FOUND),
       2},
  };
  for (const LaunchCase& c : cases) ExpectLaunch(tool, c);
}

// Reads the pipe until `text` has come, or to its end.
std::string ReadPipeUntil(HANDLE read_end, const std::string& text, std::string output = "") {
  char buffer[512];
  DWORD got = 0;
  while ((text.empty() || output.find(text) == std::string::npos) &&
         ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got != 0) {
    output.append(buffer, got);
  }
  return output;
}

// The program the probe names as ready, opened to wait for, signal and end it.
HANDLE OpenProbe(const std::string& output) {
  const std::size_t pid = output.find("pid:");
  return pid == std::string::npos
             ? nullptr
             : OpenProcess(PROCESS_ALL_ACCESS, FALSE, std::stoul(output.substr(pid + 4)));
}

// A harness that kills the tool (TerminateProcess: taskkill /f, Python's timeout) ends the
// program it started, as if it had started the program directly.
TEST(LaunchEndToEnd, AKilledToolEndsTheProgram) {
  PROCESS_INFORMATION started = {};
  const HANDLE read_end = StartWithOutputPipe(BuiltProgram("nodestart_node_stand_in"),
                                              {"0", kProbe, "--ready", "--run-ms=20000"}, started);
  const HANDLE program = OpenProbe(ReadPipeUntil(read_end, "probe ready"));
  ASSERT_NE(program, nullptr);
  TerminateProcess(started.hProcess, 1);
  EXPECT_EQ(WaitForSingleObject(program, 5000), WAIT_OBJECT_0) << "the program runs on";
  for (const HANDLE handle : {program, started.hProcess, started.hThread, read_end}) {
    CloseHandle(handle);
  }
}

// Wine has no real console events: a thread started at kernelbase!CtrlRoutine delivers one as
// Windows does. The console host signals its processes in turn, oldest or newest first, waits
// up to 5 s for each, then ends it. The test build of the tool stands in for
// GetConsoleProcessList: "detached" keeps the child off the console, as a GUI program is, and the
// host does not signal it.
TEST(LaunchEndToEnd, ConsoleEventsLeaveTheChildItsFateAndTheToolItsLastLine) {
  const auto deliver = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
  if (deliver == nullptr) GTEST_SKIP() << "no kernelbase!CtrlRoutine here";
  const auto signal = [deliver](HANDLE process, DWORD event) {
    const HANDLE thread = CreateRemoteThread(
        process, nullptr, 0, deliver, reinterpret_cast<LPVOID>(DWORD_PTR{event}), 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
    if (WaitForSingleObject(process, 5000) == WAIT_TIMEOUT) TerminateProcess(process, 0xC000013A);
  };
  const struct {
    const char* name;
    DWORD event;
    bool detached;
    bool newest_first;
  } cases[] = {
      {"closed, oldest first: the program saves its work", CTRL_CLOSE_EVENT, false, false},
      {"closed, newest first: the program saves its work", CTRL_CLOSE_EVENT, false, true},
      {"a GUI child outlives the console's close", CTRL_CLOSE_EVENT, true, false},
      {"a GUI child outlives Ctrl+C, which ends the tool", CTRL_C_EVENT, true, false},
      {"a console child's end is reported after a logoff", CTRL_LOGOFF_EVENT, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchFolder scratch;
    const std::string saved = (scratch.path() / "saved").u8string();
    const bool closing = c.event == CTRL_CLOSE_EVENT && !c.detached;
    SetEnvironmentVariableW(L"NODESTART_STAND_IN_CONSOLE", c.detached ? L"detached" : nullptr);
    PROCESS_INFORMATION tool = {};
    const HANDLE read_end =
        StartWithOutputPipe(BuiltProgram("nodestart_node_stand_in"),
                            {"0", kProbe, "--ready", closing ? "--run-ms=20000" : "--run-ms=1500",
                             "--save-on-close=" + saved},
                            tool);
    const std::string ready = ReadPipeUntil(read_end, "probe ready");
    const HANDLE program = OpenProbe(ready);
    ASSERT_NE(program, nullptr) << ready;
    if (closing) {
      for (const HANDLE process : c.newest_first ? std::vector<HANDLE>{program, tool.hProcess}
                                                 : std::vector<HANDLE>{tool.hProcess, program}) {
        signal(process, c.event);
      }
      std::ifstream record(std::filesystem::u8path(saved));
      const std::string content((std::istreambuf_iterator<char>(record)), {});
      EXPECT_EQ(content, "saved") << "the program never heard the close";
    } else if (c.detached) {
      signal(tool.hProcess, c.event);
      DWORD status = 0;
      GetExitCodeProcess(tool.hProcess, &status);
      EXPECT_NE(status, 0xC000013A) << "the tool waited on and was ended";
      EXPECT_EQ(WaitForSingleObject(program, 300), static_cast<DWORD>(WAIT_TIMEOUT))
          << "the GUI child was ended with the tool";
    } else {
      signal(tool.hProcess, c.event);
      const std::string output = ReadPipeUntil(read_end, "", ready);
      EXPECT_NE(output.find("Child process exited with code 0"), std::string::npos) << output;
      DWORD status = 1;
      GetExitCodeProcess(tool.hProcess, &status);
      EXPECT_EQ(status, 0u);
    }
    TerminateProcess(program, 0);
    WaitForSingleObject(program, 5000);
    for (const HANDLE handle : {program, tool.hProcess, tool.hThread, read_end}) {
      CloseHandle(handle);
    }
  }
  SetEnvironmentVariableW(L"NODESTART_STAND_IN_CONSOLE", nullptr);
}

// A program reads its immediate job's limits to size itself; under the tool, that job is the
// tool's. The test build stands in for the tool's job, which Wine would report without limits,
// and records the limits the tool gives the program's.
TEST(LaunchEndToEnd, TheProgramsJobCarriesTheLimitsOfTheToolsJob) {
  const ScratchFolder scratch;
  const std::string record = (scratch.path() / "job").u8string();
  SetEnvironmentVariableW(L"NODESTART_STAND_IN_JOB_MEMORY", L"536870912");
  SetEnvironmentVariableW(L"NODESTART_STAND_IN_JOB_RECORD", (scratch.path() / "job").c_str());
  const std::vector<std::string> target = {kProbe};
  ExpectLaunch(BuiltProgram("nodestart_node_stand_in"),
               {"in a job of 512 MiB a process", 0, target, Ran(target, {}, 0, 0), 0});
  SetEnvironmentVariableW(L"NODESTART_STAND_IN_JOB_MEMORY", nullptr);
  SetEnvironmentVariableW(L"NODESTART_STAND_IN_JOB_RECORD", nullptr);
  std::ifstream recorded(std::filesystem::u8path(record));
  const std::string content((std::istreambuf_iterator<char>(recorded)), {});
  EXPECT_EQ(content, "process memory 536870912\n");
}

#endif

}  // namespace
