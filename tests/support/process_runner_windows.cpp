#include <windows.h>

#include <stdexcept>

#include "support/process_runner.h"
#include "support/utf8_windows.h"
#include "support/windows_quoting.h"

HANDLE StartWithOutputPipe(const std::string& program, const std::vector<std::string>& arguments,
                           PROCESS_INFORMATION& process) {
  const std::wstring wide_program = Widen(program);
  std::wstring command_line = QuoteForWindows(wide_program);
  for (const std::string& argument : arguments)
    command_line += L' ' + QuoteForWindows(Widen(argument));

  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) throw std::runtime_error("CreatePipe");
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  process = {};
  const BOOL created = CreateProcessW(wide_program.c_str(), &command_line[0], nullptr, nullptr,
                                      TRUE, 0, nullptr, nullptr, &startup, &process);
  CloseHandle(write_end);
  if (!created) {
    CloseHandle(read_end);
    throw std::runtime_error("cannot start " + program);
  }
  return read_end;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments) {
  PROCESS_INFORMATION process = {};
  const HANDLE read_end = StartWithOutputPipe(program, arguments, process);
  ProcessResult result;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got != 0) {
    result.output.append(buffer, got);
  }
  CloseHandle(read_end);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  result.exit_status = static_cast<int>(code);

  std::string normalised;
  for (std::size_t i = 0; i < result.output.size(); ++i) {
    if (result.output[i] == '\r' && i + 1 < result.output.size() && result.output[i + 1] == '\n') {
      continue;
    }
    normalised += result.output[i];
  }
  result.output = normalised;
  return result;
}

std::string BuiltProgram(const std::string& name) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH)
    throw std::runtime_error("cannot find the test's own path");
  std::wstring path(self, length);
  path.erase(path.find_last_of(L"\\/") + 1);
  path += Widen(name) + L".exe";
  return Utf8(path);
}
