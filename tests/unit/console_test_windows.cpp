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

TEST(ConsoleWriter, NeverSplitsASurrogatePairAndLosesNothing) {
  const std::wstring emoji = L"\xD83D\xDE00";
  const struct {
    const char* name;
    bool console;
    std::wstring text;
    int writes_taking_nothing;
  } cases[] = {
      {"a pair across the console's piece", true, std::wstring(16383, L'a') + emoji + L"b", 0},
      {"a full non-blocking pipe", false, L"\n Child process exited with code 3\n", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    seen.pieces.clear();
    seen.bytes.clear();
    seen.console = c.console;
    seen.writes_taking_nothing = c.writes_taking_nothing;
    seen.active = true;
    WriteToStdout(c.text);
    seen.active = false;
    std::wstring whole;
    for (const std::wstring& piece : seen.pieces) {
      EXPECT_FALSE(IS_HIGH_SURROGATE(piece.back())) << "a piece of " << piece.size();
      whole += piece;
    }
    EXPECT_EQ(c.console ? whole : std::wstring(), c.console ? c.text : std::wstring());
    EXPECT_EQ(seen.bytes, c.console ? "" : "\r\n Child process exited with code 3\r\n");
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
