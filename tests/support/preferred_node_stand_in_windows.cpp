// Test-only: Wine has no preferred-node attribute and no real console events, so this build of
// the tool stands in for UpdateProcThreadAttribute and GetConsoleProcessList alone; every other
// call still goes to the real kernel32.
#include <windows.h>

#include <tlhelp32.h>  // after windows.h, whose types it uses

#include <string>

namespace {

BOOL WINAPI AcceptPreferredNode(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
                                PVOID value, SIZE_T size, PVOID previous_value,
                                PSIZE_T return_size) {
  if (list == nullptr || flags != 0 || attribute != PROC_THREAD_ATTRIBUTE_PREFERRED_NODE ||
      value == nullptr || size != sizeof(USHORT) || previous_value != nullptr ||
      return_size != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Record the node where the test can see it: in the environment the child inherits.
  const std::wstring node = std::to_wstring(*static_cast<const USHORT*>(value));
  return SetEnvironmentVariableW(L"NODESTART_STAND_IN_NODE", node.c_str());
}

// The tool, and its children unless NODESTART_STAND_IN_CONSOLE says "detached", as a GUI
// program would be.
DWORD WINAPI ListAttachedProcesses(LPDWORD process_ids, DWORD count) {
  DWORD listed = 0;
  const auto list = [&](DWORD id) {
    if (listed < count) process_ids[listed] = id;
    ++listed;
  };
  list(GetCurrentProcessId());
  wchar_t mode[16] = {};
  if (GetEnvironmentVariableW(L"NODESTART_STAND_IN_CONSOLE", mode, 16) != 0 &&
      std::wstring(mode) == L"detached") {
    return listed;
  }
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID == GetCurrentProcessId()) list(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return listed;
}

}  // namespace

// The import-table entries the tool's calls go through: defined here, they are not taken from
// kernel32's import library.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
extern "C" decltype(&UpdateProcThreadAttribute) __imp_UpdateProcThreadAttribute;
decltype(&UpdateProcThreadAttribute) __imp_UpdateProcThreadAttribute = AcceptPreferredNode;
extern "C" decltype(&GetConsoleProcessList) __imp_GetConsoleProcessList;
decltype(&GetConsoleProcessList) __imp_GetConsoleProcessList = ListAttachedProcesses;
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
