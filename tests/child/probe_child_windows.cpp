// A child for the end-to-end tests: prints its command line, its arguments and the node the test
// build of the tool recorded, then exits with the code it is told (hexadecimal allowed).
//   --ready      prints its process id and "probe ready" once it has printed the rest
//   --run-ms=N   then runs N ms before it exits
//   --save-on-close=FILE   on the console's close, takes a moment to save, writes "saved" to
//                          FILE and exits, as a program with unsaved results does
#include <windows.h>

#include <cwchar>
#include <string>

#include "support/utf8_windows.h"

namespace {

std::wstring save_to;

BOOL WINAPI SaveOnClose(DWORD control_type) {
  if (control_type != CTRL_CLOSE_EVENT) return FALSE;
  Sleep(200);
  const HANDLE file =
      CreateFileW(save_to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, "saved", 5, &written, nullptr);
  CloseHandle(file);
  ExitProcess(0);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  std::string out = "cmdline:" + Utf8(GetCommandLineW()) + "\n";
  UINT exit_code = 0;
  DWORD run_ms = 0;
  bool ready = false;
  for (int i = 1; i < argc; ++i) {
    out += "arg:" + Utf8(argv[i]) + "\n";
    if (std::wcsncmp(argv[i], L"--exit=", 7) == 0) {
      exit_code = static_cast<UINT>(std::wcstoul(argv[i] + 7, nullptr, 0));
    }
    if (std::wcsncmp(argv[i], L"--run-ms=", 9) == 0)
      run_ms = std::wcstoul(argv[i] + 9, nullptr, 10);
    ready = ready || std::wcscmp(argv[i], L"--ready") == 0;
    if (std::wcsncmp(argv[i], L"--save-on-close=", 16) == 0) {
      save_to = argv[i] + 16;
      SetConsoleCtrlHandler(SaveOnClose, TRUE);
    }
  }
  wchar_t node[16];
  const DWORD length = GetEnvironmentVariableW(L"NODESTART_STAND_IN_NODE", node, 16);
  if (length > 0 && length < 16) out += "node:" + Utf8(node) + "\n";
  if (ready) out += "pid:" + std::to_string(GetCurrentProcessId()) + "\nprobe ready\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
            nullptr);
  Sleep(run_ms);
  ExitProcess(exit_code);
}
