// The Windows console writer against stand-ins for the console and file calls it makes, linked in
// place of kernel32's import-table entries; outside a case they pass through to kernel32.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/console.h"

namespace {

struct {
  bool active = false;
  bool console = true;               // a real console, else a pipe
  int writes_taking_nothing = 0;     // a full pipe in PIPE_NOWAIT mode, this many times
  std::vector<std::wstring> pieces;  // as handed to WriteConsoleW
  std::string bytes;                 // as handed to WriteFile
} seen;

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

HANDLE WINAPI StdHandleStandIn(DWORD which) {
  return seen.active ? reinterpret_cast<HANDLE>(0x10)
                     : Real<decltype(&GetStdHandle)>("GetStdHandle")(which);
}

BOOL WINAPI ConsoleModeStandIn(HANDLE handle, LPDWORD mode) {
  if (!seen.active) return Real<decltype(&GetConsoleMode)>("GetConsoleMode")(handle, mode);
  *mode = 0;
  return seen.console ? TRUE : FALSE;
}

BOOL WINAPI WriteConsoleStandIn(HANDLE handle, const VOID* data, DWORD size, LPDWORD done,
                                LPVOID reserved) {
  if (!seen.active) {
    return Real<decltype(&WriteConsoleW)>("WriteConsoleW")(handle, data, size, done, reserved);
  }
  seen.pieces.emplace_back(static_cast<const wchar_t*>(data), size);
  *done = size;
  return TRUE;
}

BOOL WINAPI WriteFileStandIn(HANDLE handle, LPCVOID data, DWORD size, LPDWORD done,
                             LPOVERLAPPED overlapped) {
  if (!seen.active) {
    return Real<decltype(&WriteFile)>("WriteFile")(handle, data, size, done, overlapped);
  }
  *done = seen.writes_taking_nothing-- > 0 ? 0 : (size < 5 ? size : 5);
  seen.bytes.append(static_cast<const char*>(data), *done);
  return TRUE;
}

// The tool's wide lines and the probe's UTF-8 ones: whole, and on a console as the characters
// themselves, whatever its code page.
TEST(ConsoleWriter, NeverSplitsASurrogatePairAndLosesNothing) {
  const std::wstring emoji = L"\xD83D\xDE00";
  const std::wstring long_line = std::wstring(16383, L'a') + emoji + L"b";
  const std::wstring exit_line = L"\n Child process exited with code 3\n";
  const std::string reseau = "node 0 network 0000:21:00.0: 8086:100e (R\xC3\xA9seau)\n";
  const struct {
    const char* name;
    bool console;
    std::wstring text;
    std::string utf8;  // the probe's, where not empty
    int writes_taking_nothing;
    std::wstring shown;  // on the console
    std::string bytes;   // in the pipe
  } cases[] = {
      {"a pair across the console's piece", true, long_line, "", 0, long_line, ""},
      {"a full non-blocking pipe", false, exit_line, "", 3, L"",
       "\r\n Child process exited with code 3\r\n"},
      {"the probe's name on a console", true, L"", reseau, 0,
       L"node 0 network 0000:21:00.0: 8086:100e (R\u00e9seau)\r\n", ""},
      {"the probe's name in a pipe", false, L"", reseau, 1, L"",
       "node 0 network 0000:21:00.0: 8086:100e (R\xC3\xA9seau)\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    seen.pieces.clear();
    seen.bytes.clear();
    seen.console = c.console;
    seen.writes_taking_nothing = c.writes_taking_nothing;
    seen.active = true;
    if (c.utf8.empty()) {
      WriteToStdout(c.text);
    } else {
      std::string reason;
      EXPECT_TRUE(WriteUtf8(StandardStream::kOutput, c.utf8, reason)) << reason;
    }
    seen.active = false;
    std::wstring whole;
    for (const std::wstring& piece : seen.pieces) {
      EXPECT_FALSE(IS_HIGH_SURROGATE(piece.back())) << "a piece of " << piece.size();
      whole += piece;
    }
    EXPECT_EQ(whole, c.shown);
    EXPECT_EQ(seen.bytes, c.bytes);
  }
}

}  // namespace

// The import-table entries the writer's calls go through.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
extern "C" decltype(&GetStdHandle) __imp_GetStdHandle;
decltype(&GetStdHandle) __imp_GetStdHandle = StdHandleStandIn;
extern "C" decltype(&GetConsoleMode) __imp_GetConsoleMode;
decltype(&GetConsoleMode) __imp_GetConsoleMode = ConsoleModeStandIn;
extern "C" decltype(&WriteConsoleW) __imp_WriteConsoleW;
decltype(&WriteConsoleW) __imp_WriteConsoleW = WriteConsoleStandIn;
extern "C" decltype(&WriteFile) __imp_WriteFile;
decltype(&WriteFile) __imp_WriteFile = WriteFileStandIn;
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
