// The Linux stand-in's system texts.
#include "platform/linux/system_errors.h"

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "text/lossless_utf8.h"

namespace {

TEST(FormatMessageStandIn, GivesTheSystemsReasonOrNothing) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t text[256];
  DWORD length =
      FormatMessageW(flags, nullptr, ErrorCodeFromErrno(E2BIG), 0x400, text, 256, nullptr);
  EXPECT_EQ(WideText(text, length), DecodeLossless(std::strerror(E2BIG)) + L"\n");
  // A code it has no text for, and a buffer too small, give no text, as Windows does.
  EXPECT_EQ(FormatMessageW(flags, nullptr, 4242, 0x400, text, 256, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(FormatMessageW(flags, nullptr, ERROR_NOT_SUPPORTED, 0x400, text, 5, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
