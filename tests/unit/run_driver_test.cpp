// The run driver against the recording double of the kernel interface: what it does before the
// launch; its output is in the end-to-end tests.
#include "invocation/run_driver.h"

#include <gtest/gtest.h>

#include "support/recording_kernel.h"

namespace {

TEST(RunDriver, InstallsTheInterruptHandlerOnlyAfterTheSummary) {
  const struct {
    std::vector<const char*> arguments;
    int status;
    bool installed;
  } cases[] = {
      {{"nodestart", "3", "t.exe", "a"}, 0, true},
      {{"nodestart", "abc", "t.exe"}, 1, false},
      {{"nodestart", "3"}, 1, false},
  };
  for (const auto& c : cases) {
    ResetRecording();
    EXPECT_EQ(RunNodeStart(static_cast<int>(c.arguments.size()), c.arguments.data()), c.status);
    const WideText& shown = kernel.control_handler.printed_before;
    EXPECT_EQ(kernel.control_handler.handler != nullptr, c.installed);
    if (c.installed) {
      EXPECT_EQ(shown.rfind(L"\n NodeStart", 0), 0u) << "the banner comes first";
      const WideText summary_end = L"\n   Preferred NUMA node: 3\n";
      EXPECT_EQ(shown.substr(shown.size() - summary_end.size()), summary_end);
    }
  }
}

TEST(RunDriver, SaysOnStandardErrorWhatRanOut) {
  ResetRecording();
  kernel.memory_gone = true;
  const char* const arguments[] = {"nodestart", "3", "t.exe"};
  EXPECT_EQ(RunNodeStart(3, arguments), 3);
  EXPECT_EQ(console_output, L"");
  EXPECT_EQ(error_output, "nodestart: memory ran out; nothing was started\n");
}

}  // namespace
