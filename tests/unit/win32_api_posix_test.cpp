// The POSIX stand-in's own refusals, as Windows would refuse; real children are in the e2e tests.
#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/lossless_utf8.h"
#include "platform/system_errors_posix.h"
#include "platform/win32_api.h"

namespace {

struct alignas(16) ListStorage {
  unsigned char bytes[4096];
};

LPPROC_THREAD_ATTRIBUTE_LIST AsList(ListStorage& storage) {
  return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.bytes);
}

TEST(AttributeListStandIn, SizesThenInitialisesOnlyEnoughStorage) {
  SIZE_T size = 0;
  SetLastError(0);
  EXPECT_FALSE(InitializeProcThreadAttributeList(nullptr, 1, 0, &size));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GT(size, 0u);

  ListStorage storage;
  SIZE_T too_small = size - 1;
  EXPECT_FALSE(InitializeProcThreadAttributeList(AsList(storage), 1, 0, &too_small));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(too_small, size);
  EXPECT_TRUE(InitializeProcThreadAttributeList(AsList(storage), 1, 0, &size));
  DeleteProcThreadAttributeList(AsList(storage));
}

TEST(AttributeListStandIn, AcceptsOnlyTheTwoBytePreferredNode) {
  std::uint16_t node = 0;
  std::uint32_t wide_node = 0;
  const struct {
    const char* name;
    DWORD flags;
    DWORD_PTR attribute;
    PVOID value;
    SIZE_T size;
    DWORD error;  // 0: accepted
  } cases[] = {
      {"preferred node", 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, &node, 2, 0},
      {"value of 4 bytes", 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, &wide_node, 4,
       ERROR_BAD_LENGTH},
      {"value of 1 byte", 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, &node, 1, ERROR_BAD_LENGTH},
      {"group affinity", 0, 0x00030003, &node, 2, ERROR_NOT_SUPPORTED},
      {"flags", 1, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, &node, 2, ERROR_INVALID_PARAMETER},
      {"no value", 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, nullptr, 2, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ListStorage storage;
    SIZE_T size = sizeof storage.bytes;
    ASSERT_TRUE(InitializeProcThreadAttributeList(AsList(storage), 1, 0, &size));
    SetLastError(0);
    const BOOL accepted = UpdateProcThreadAttribute(AsList(storage), c.flags, c.attribute, c.value,
                                                    c.size, nullptr, nullptr);
    EXPECT_EQ(accepted, c.error == 0 ? TRUE : FALSE);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(CreateProcessStandIn, RefusesWhatItDoesNotImplement) {
  ListStorage storage;
  SIZE_T size = sizeof storage.bytes;
  ASSERT_TRUE(InitializeProcThreadAttributeList(AsList(storage), 1, 0, &size));
  wchar_t command_line[] = L"\"true\"";
  SECURITY_ATTRIBUTES security = {};
  wchar_t directory[] = L"/";
  const struct {
    const char* name;
    LPSECURITY_ATTRIBUTES process_attributes;
    DWORD creation_flags;
    LPCWSTR current_directory;
    DWORD startup_flags;
    DWORD cb;
    DWORD error;
  } cases[] = {
      {"security attributes", &security, EXTENDED_STARTUPINFO_PRESENT, nullptr, 0, 112,
       ERROR_NOT_SUPPORTED},
      {"other creation flags", nullptr, EXTENDED_STARTUPINFO_PRESENT | 0x10, nullptr, 0, 112,
       ERROR_NOT_SUPPORTED},
      {"current directory", nullptr, EXTENDED_STARTUPINFO_PRESENT, directory, 0, 112,
       ERROR_NOT_SUPPORTED},
      {"startup flags", nullptr, EXTENDED_STARTUPINFO_PRESENT, nullptr, 0x100, 112,
       ERROR_NOT_SUPPORTED},
      {"record too small", nullptr, EXTENDED_STARTUPINFO_PRESENT, nullptr, 0, 104,
       ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = c.cb;
    startup.StartupInfo.dwFlags = c.startup_flags;
    startup.lpAttributeList = AsList(storage);
    PROCESS_INFORMATION process = {};
    SetLastError(0);
    EXPECT_FALSE(CreateProcessW(L"true", command_line, c.process_attributes, nullptr, FALSE,
                                c.creation_flags, nullptr, c.current_directory,
                                &startup.StartupInfo, &process));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(process.hProcess, nullptr);
  }
}

std::wstring SystemText(DWORD code, DWORD capacity = 65536) {
  std::vector<wchar_t> buffer(capacity);
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0x400, buffer.data(), capacity, nullptr);
  return std::wstring(buffer.data(), length);
}

TEST(FormatMessageStandIn, GivesTheSystemsReasonWithALineBreak) {
  EXPECT_EQ(SystemText(ErrorCodeFromErrno(ENOENT)), DecodeLossless(std::strerror(ENOENT)) + L"\n");
  EXPECT_EQ(SystemText(ErrorCodeFromErrno(E2BIG)), DecodeLossless(std::strerror(E2BIG)) + L"\n");
  EXPECT_EQ(SystemText(ERROR_INSUFFICIENT_BUFFER),
            L"The data area passed to a system call is too small.\n");
  EXPECT_EQ(SystemText(ERROR_NOT_SUPPORTED), L"The request is not supported.\n");

  EXPECT_EQ(SystemText(4242), L"");
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(SystemText(ERROR_NOT_SUPPORTED, 5), L"");
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
