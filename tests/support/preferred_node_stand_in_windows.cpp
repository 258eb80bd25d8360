// Test-only: Wine has no preferred-node attribute, no real console events and no job limits to
// read, so this build of the tool stands in for UpdateProcThreadAttribute, GetConsoleProcessList
// and, where the test asks, the job calls; every other call still goes to the real kernel32.
#include <windows.h>

#include <tlhelp32.h>  // after windows.h, whose types it uses

#include <cstdio>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[512] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 512);
  return length > 0 && length < 512 ? value : L"";
}

// kernel32's own `name`: the import-table entry is the stand-in's.
template <typename Function>
Function Kernel32(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

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
  if (Environment(L"NODESTART_STAND_IN_CONSOLE") == L"detached") return listed;
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

// The tool's own job, where NODESTART_STAND_IN_JOB_MEMORY gives it a limit on each process's
// memory.
BOOL WINAPI QueryCallersJob(HANDLE job, JOBOBJECTINFOCLASS information_class, LPVOID information,
                            DWORD length, LPDWORD return_length) {
  const std::wstring memory = Environment(L"NODESTART_STAND_IN_JOB_MEMORY");
  if (job != nullptr || memory.empty()) {
    return Kernel32<decltype(&QueryInformationJobObject)>("QueryInformationJobObject")(
        job, information_class, information, length, return_length);
  }
  if (information_class != JobObjectExtendedLimitInformation ||
      length != sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
  limits.ProcessMemoryLimit = std::stoull(memory);
  *static_cast<JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(information) = limits;
  return TRUE;
}

// Wine takes the limits and reports none: the last ones set are written where
// NODESTART_STAND_IN_JOB_RECORD says.
BOOL WINAPI RecordJobLimits(HANDLE job, JOBOBJECTINFOCLASS information_class, LPVOID information,
                            DWORD length) {
  const std::wstring record = Environment(L"NODESTART_STAND_IN_JOB_RECORD");
  const auto* limits = static_cast<const JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(information);
  if (!record.empty() && information_class == JobObjectExtendedLimitInformation) {
    const bool limited =
        (limits->BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) != 0;
    if (std::FILE* file = _wfopen(record.c_str(), L"w")) {
      static_cast<void>(std::fprintf(
          file, "process memory %llu\n",
          limited ? static_cast<unsigned long long>(limits->ProcessMemoryLimit) : 0ULL));
      static_cast<void>(std::fclose(file));
    }
  }
  return Kernel32<decltype(&SetInformationJobObject)>("SetInformationJobObject")(
      job, information_class, information, length);
}

}  // namespace

// The import-table entries the tool's calls go through: defined here, they are not taken from
// kernel32's import library.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
extern "C" decltype(&UpdateProcThreadAttribute) __imp_UpdateProcThreadAttribute;
decltype(&UpdateProcThreadAttribute) __imp_UpdateProcThreadAttribute = AcceptPreferredNode;
extern "C" decltype(&GetConsoleProcessList) __imp_GetConsoleProcessList;
decltype(&GetConsoleProcessList) __imp_GetConsoleProcessList = ListAttachedProcesses;
extern "C" decltype(&QueryInformationJobObject) __imp_QueryInformationJobObject;
decltype(&QueryInformationJobObject) __imp_QueryInformationJobObject = QueryCallersJob;
extern "C" decltype(&SetInformationJobObject) __imp_SetInformationJobObject;
decltype(&SetInformationJobObject) __imp_SetInformationJobObject = RecordJobLimits;
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
