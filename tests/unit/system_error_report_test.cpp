// The report of a failed system call, against the recording double of the system's texts.
#include "launch/system_error_report.h"

#include <gtest/gtest.h>

#include "support/recording_kernel.h"

namespace {

TEST(SystemErrorReport, AsksTheSystemForTheTextOfTheCode) {
  const struct {
    DWORD given;
    DWORD last_error;
    DWORD reported;
  } cases[] = {
      {0, 1450, 1450},  // 0: the last error at the time of the report
      {5, 1450, 5},     // any other code: as given, and the last error is not read
  };
  for (const auto& c : cases) {
    ResetRecording();
    kernel.last_error = c.last_error;
    kernel.last_error_after_read = 99;
    CErr(L"Op", c.given);
    EXPECT_EQ(kernel.format.flags, 0x1200u);
    EXPECT_EQ(kernel.format.source, nullptr);
    EXPECT_EQ(kernel.format.message_id, c.reported);
    EXPECT_EQ(kernel.format.language_id, 0x400u);
    EXPECT_EQ(kernel.format.size, 65536u);
    EXPECT_EQ(kernel.format.arguments, nullptr);
    EXPECT_EQ(kernel.last_error, c.given == 0 ? 99u : c.last_error);
    EXPECT_EQ(console_output, L"\n ERROR - Op: " + RecordedSystemText(c.reported));
  }
}

TEST(SystemErrorReport, NamesTheCodeWhenTheSystemHasNoText) {
  const struct {
    DWORD code;
    const wchar_t* text;
  } cases[] = {
      {1234, L"unknown error 1234 (0x4D2)\n"},
      {0xE0000001, L"unknown error 3758096385 (0xE0000001)\n"},
      {15, L"unknown error 15 (0xF)\n"},
  };
  for (const auto& c : cases) {
    ResetRecording();
    kernel.no_system_text = true;
    CErr(L"CreateProcess", c.code);
    EXPECT_EQ(console_output, L"\n ERROR - CreateProcess: " + WideText(c.text));
  }
}

}  // namespace
