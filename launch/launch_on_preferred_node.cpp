#include "launch/launch_on_preferred_node.h"

#include <atomic>

#include "launch/exit_status.h"
#include "launch/system_error_report.h"
#include "platform/console.h"
#include "platform/interrupted_end.h"
#include "platform/win32_api.h"

static_assert(sizeof(STARTUPINFOEXW) == 112, "the extended startup record of 64-bit Windows");

namespace {

// The child, once it exists, and the job that binds it to the tool, for the console's handler,
// which runs on a thread of its own.
std::atomic<HANDLE> running_child{nullptr};
std::atomic<DWORD> running_child_id{0};
std::atomic<HANDLE> binding_job{nullptr};

// Whether the child is attached to the tool's console. A GUI program (7zg.exe), or one that left
// the console, never hears the console's events: started directly, it would outlive them.
bool ChildHearsTheConsole() {
  DWORD ids[256];
  const DWORD count = GetConsoleProcessList(ids, 256);
  for (DWORD i = 0; i < count && i < 256; ++i) {
    if (ids[i] == running_child_id.load()) return true;
  }
  return count > 256;  // too many to list: as before, the child goes with the tool
}

// Lifts the job's kill-on-close, before the system ends the tool.
void LetTheChildOutliveTheTool() {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  if (const HANDLE job = binding_job.load()) {
    static_cast<void>(
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits));
  }
}

// Ctrl+C and Ctrl+Break reach the child from the console itself, and the child decides; the tool
// only goes on waiting, so that the child's end is still reported. So does a logoff, which also
// reaches a service's console programs when any user logs off. Closing the console and shutting
// down end the tool once this returns: a child attached to the console hears them too and takes
// its time, and the tool waits for it and never returns, so that the main thread prints its last
// line and ends the run; a child that is not attached lives on, as it would started directly.
BOOL WINAPI HandleConsoleEvent(DWORD control_type) {
  if (control_type == CTRL_C_EVENT || control_type == CTRL_BREAK_EVENT) return TRUE;
  const HANDLE child = running_child.load();
  if (child == nullptr) return FALSE;  // nothing started yet: the tool ends as it always did
  const bool hears = ChildHearsTheConsole();
  if (!hears) LetTheChildOutliveTheTool();
  if (control_type == CTRL_LOGOFF_EVENT) return TRUE;
  if (!hears) return FALSE;
  WaitForSingleObject(child, INFINITE);
  Sleep(INFINITE);
  return TRUE;
}

// Binds the child to the tool, as if a harness that kills the tool (TerminateProcess, taskkill
// /f, a timeout) had started the program directly: in a job that ends what it holds when its
// last handle closes, which happens as the tool ends, however it ends. The program's own children
// break away from it, so that they outlive the run exactly as they would started directly. Where
// the system refuses (nested jobs before Windows 8), the run goes on unbound: once the child
// exists nothing fails visibly.
void EndWithTheTool(HANDLE child) {
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
      AssignProcessToJobObject(job, child)) {
    binding_job = job;
  }
  // The job's handle stays open until the tool ends: its close is what ends the child.
}

// Once the child exists nothing may end the run before its end is waited for and reported: a
// line that cannot be made (memory gone, say) is dropped, as one that cannot be written is.
template <typename... Args>
void PrintOnceTheChildExists(const wchar_t* format, const Args&... args) noexcept {
  try {
    ConsolePrint(format, args...);
  } catch (...) {  // NOLINT(bugprone-empty-catch): whatever it was, the wait must come
  }
}

}  // namespace

int LaunchOnPreferredNode(const WideText& application_name, WideText command_line,
                          std::uint16_t node) {
  // The attribute list keeps the address of `node`, which stays here, unchanged, until the child
  // is created and the list released.
  static_assert(sizeof node == 2, "the width the preferred-node attribute takes");
  alignas(16) unsigned char attribute_storage[4096];
  const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_storage);

  PROCESS_INFORMATION process = {};
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  startup.lpAttributeList = attributes;

  SIZE_T size = 0;
  if (!InitializeProcThreadAttributeList(nullptr, 1, 0, &size)) {
    const DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) throw CErr(L"InitializeProcThreadAttributeList", error);
  }
  // Never initialise the list in less storage than the system asks for.
  if (size > sizeof attribute_storage) {
    throw CErr(L"InitializeProcThreadAttributeList", ERROR_INSUFFICIENT_BUFFER);
  }
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
    throw CErr(L"InitializeProcThreadAttributeList");
  }
  if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, &node,
                                 sizeof node, nullptr, nullptr)) {
    throw CErr(L"UpdateProcThreadAttribute");
  }
  // Only now, so that an interrupt before the child exists still ends the run at once. A handler
  // that returns TRUE, not "ignore Ctrl+C", which the child would inherit. Should installing it
  // fail, an interrupt ends the tool as it always did: no reason to start nothing.
  static_cast<void>(SetConsoleCtrlHandler(HandleConsoleEvent, TRUE));
  if (!CreateProcessW(application_name.c_str(), &command_line[0], nullptr, nullptr, FALSE,
                      EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                      &process)) {
    throw CErr(L"CreateProcess");
  }
  running_child_id = process.dwProcessId;
  running_child = process.hProcess;
  EndWithTheTool(process.hProcess);

  PrintOnceTheChildExists(L"\n Waiting for child process to exit ...");
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  PrintOnceTheChildExists(L"\n Child process exited with code %d\n",
                          static_cast<std::int32_t>(exit_code));

  DeleteProcThreadAttributeList(attributes);
  EndAsAnInterruptedChild(process.hProcess);
  // The child's handles stay open: the system closes them when the tool ends, a moment later.
  return kExitChildEnded;
}
