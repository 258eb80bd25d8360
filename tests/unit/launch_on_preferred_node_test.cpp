// The launch and the run driver against a scripted child and console, linked in place of the
// platform's: what they print around the child's run, and what they ask of it in which order.
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "invocation/run_driver.h"
#include "launch/launch_on_preferred_node.h"
#include "launch/system_error_report.h"
#include "platform/child_process.h"
#include "platform/console.h"

#ifdef _WIN32
#define NATIVE(text) L##text
#else
#define NATIVE(text) text
#endif

namespace {

struct {
  // The script.
  const wchar_t* refused = nullptr;  // the operation whose failure StartChild raises
  std::int32_t exit_code = 0;
  bool memory_gone_once_started = false;  // every print then throws bad_alloc
  bool memory_gone = false;               // every print throws bad_alloc
  // The record: the calls and, between them, what was printed.
  std::vector<std::wstring> events;
  std::wstring started_with;  // the node and the command line
  std::string error_output;
} child;

std::wstring Printed() {
  std::wstring all;
  for (const std::wstring& event : child.events) {
    if (event.rfind(L"print:", 0) == 0) all += event.substr(6);
  }
  return all;
}

class LaunchTest : public testing::Test {
 protected:
  void SetUp() override { child = {}; }
};

TEST_F(LaunchTest, PrintsAroundTheChildsRunItsCodeSigned) {
  for (const std::int32_t code : {0, 3, -1073741819, 2147483647}) {
    child = {};
    child.exit_code = code;
    EXPECT_EQ(LaunchOnPreferredNode(L"a b.exe", L"\"a b.exe\" x", 7), 0);
    const std::wstring exit_line = L"\n Child process exited with code " + std::to_wstring(code);
    EXPECT_EQ(child.events, (std::vector<std::wstring>{
                                L"start", L"print:\n Waiting for child process to exit ...",
                                L"wait", L"print:" + exit_line + L"\n", L"end"}));
    EXPECT_EQ(child.started_with, L"7 \"a b.exe\" x");
  }
}

TEST_F(LaunchTest, ReportsAFailedStartAndWaitsForNothing) {
  child.refused = L"CreateProcess";
  EXPECT_THROW(LaunchOnPreferredNode(L"t", L"\"t\"", 1), CErr);
  EXPECT_EQ(child.events, (std::vector<std::wstring>{
                              L"start", L"print:\n ERROR - CreateProcess: why it failed\n"}));
}

TEST_F(LaunchTest, WaitsForTheChildThoughNothingCanBePrinted) {
  child.memory_gone_once_started = true;
  EXPECT_EQ(LaunchOnPreferredNode(L"t", L"\"t\"", 0), 0);
  EXPECT_EQ(child.events, (std::vector<std::wstring>{L"start", L"wait", L"end"}));
}

TEST_F(LaunchTest, TheRunDriverStartsTheChildOnlyAfterItsSummary) {
  const struct {
    std::vector<const NativeChar*> arguments;
    int status;
    bool started;
  } cases[] = {
      {{NATIVE("nodestart"), NATIVE("3"), NATIVE("t.exe"), NATIVE("a")}, 0, true},
      {{NATIVE("nodestart"), NATIVE("abc"), NATIVE("t.exe")}, 1, false},
      {{NATIVE("nodestart"), NATIVE("3")}, 1, false},
  };
  for (const auto& c : cases) {
    child = {};
    EXPECT_EQ(RunNodeStart(static_cast<int>(c.arguments.size()), c.arguments.data()), c.status);
    const bool started = child.events.size() > 1 && child.events[1] == L"start";
    EXPECT_EQ(started, c.started);
    if (c.started) {
      EXPECT_EQ(child.events[0].rfind(L"print:\n NodeStart", 0), 0u) << "the banner comes first";
      const std::wstring summary_end = L"\n   Preferred NUMA node: 3\n";
      EXPECT_EQ(child.events[0].substr(child.events[0].size() - summary_end.size()), summary_end);
    }
  }
}

TEST_F(LaunchTest, TheRunDriverSaysOnStandardErrorWhatRanOut) {
  child.memory_gone = true;
  const NativeChar* const arguments[] = {NATIVE("nodestart"), NATIVE("3"), NATIVE("t.exe")};
  EXPECT_EQ(RunNodeStart(3, arguments), 3);
  EXPECT_EQ(Printed(), L"");
  EXPECT_EQ(child.error_output, "nodestart: memory ran out; nothing was started\n");
}

}  // namespace

// Everything printed before the child starts is one event, so that the order shows.
void WriteToStdout(const WideText& text) {
  const bool started =
      std::find(child.events.begin(), child.events.end(), L"start") != child.events.end();
  if (child.memory_gone || (child.memory_gone_once_started && started)) throw std::bad_alloc();
  if (!started && !child.events.empty()) {
    child.events.back() += text;
  } else {
    child.events.push_back(L"print:" + text);
  }
}

void WriteNoteToStderr(const char* line) noexcept {
  child.error_output += std::string(line) + "\n";
}

// The interface lets Windows write into the command line.
// cppcheck-suppress constParameter
void StartChild(const WideText& /*application_name*/, WideText& command_line, std::uint16_t node) {
  child.events.push_back(L"start");
  child.started_with = std::to_wstring(node) + L" " + command_line;
  if (child.refused != nullptr) throw ChildStartFailure{child.refused, L"why it failed\n"};
}

std::int32_t WaitForChild() {
  child.events.push_back(L"wait");
  return child.exit_code;
}

void EndAsTheChildEnded() { child.events.push_back(L"end"); }
