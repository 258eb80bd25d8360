// The launch on Windows, top to bottom: the attribute list that carries the preferred node, the
// console's handler, the child's creation, the job that binds it to the tool, the wait and the
// exit code.
#include "platform/child_process.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "platform/windows/system_text.h"

static_assert(sizeof(STARTUPINFOEXW) == 112, "the extended startup record of 64-bit Windows");

namespace {

// The run's: the attribute list keeps the address of the node, which stays here, unchanged,
// until the list is released.
alignas(16) unsigned char attribute_storage[4096];
std::uint16_t preferred_node = 0;
PROCESS_INFORMATION process = {};

// The child, once it exists, and the job that binds it to the tool with the limits it was given,
// for the console's handler, which runs on a thread of its own. The limits are written before
// the job is published.
std::atomic<HANDLE> running_child{nullptr};
std::atomic<DWORD> running_child_id{0};
std::atomic<HANDLE> binding_job{nullptr};
JOBOBJECT_EXTENDED_LIMIT_INFORMATION binding_limits = {};

// For a code the system has no text for, so that the report still says what went wrong; it ends
// with a line break as the system's texts do, so that nothing after it is glued to it.
WideText UnknownErrorText(DWORD error_code) {
  WideText hex;
  for (DWORD rest = error_code;; rest /= 16) {
    hex.insert(hex.begin(), L"0123456789ABCDEF"[rest % 16]);
    if (rest < 16) break;
  }
  return L"unknown error " + std::to_wstring(error_code) + L" (0x" + hex + L")\n";
}

// A failed step, with the system's text for `error_code` (0: the last error, read now).
ChildStartFailure Failed(const wchar_t* operation, DWORD error_code = 0) {
  if (error_code == 0) error_code = GetLastError();
  WideText reason = SystemMessage(error_code);
  return {operation, reason.empty() ? UnknownErrorText(error_code) : reason};
}

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

// Lifts the job's kill-on-close, before the system ends the tool; every other limit stays.
void LetTheChildOutliveTheTool() {
  const HANDLE job = binding_job.load();
  if (job == nullptr) return;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = binding_limits;
  limits.BasicLimitInformation.LimitFlags &= ~DWORD{JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE};
  static_cast<void>(
      SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits));
}

// The tool never waits here for the child: the console host signals its processes one after
// another, giving each its turn, and the child must meet the event in its own turn, whichever
// comes first, exactly as it would started directly.
// - Ctrl+C and Ctrl+Break: a child attached to the console hears the key itself and decides; the
//   tool goes on waiting, so that the child's end is still reported. A child that is not attached
//   never hears it: the tool ends as the system's default ends it and the child lives on, as it
//   would started directly (cmd does not wait for a GUI program).
// - Closing the console, logging off and shutting down: the system ends the tool once this
//   returns, and the child outlives it to meet the event itself. A logoff that does not end the
//   tool (a service's console program) leaves it waiting.
BOOL WINAPI HandleConsoleEvent(DWORD control_type) {
  if (running_child.load() == nullptr) return FALSE;  // nothing started yet: the tool ends
  if (control_type == CTRL_C_EVENT || control_type == CTRL_BREAK_EVENT) {
    if (ChildHearsTheConsole()) return TRUE;
    LetTheChildOutliveTheTool();
    return FALSE;
  }
  LetTheChildOutliveTheTool();
  return control_type == CTRL_LOGOFF_EVENT ? TRUE : FALSE;
}

// What a program reads of its job to size itself (its memory, its processors, how many processes
// it may have): the program's immediate job is the tool's, so it carries the limits of the job
// the tool runs in, if any, and the program reads what it would read started directly. The outer
// job's limits apply all the same.
constexpr DWORD kSizingLimits = JOB_OBJECT_LIMIT_WORKINGSET | JOB_OBJECT_LIMIT_PROCESS_TIME |
                                JOB_OBJECT_LIMIT_ACTIVE_PROCESS | JOB_OBJECT_LIMIT_AFFINITY |
                                JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_JOB_MEMORY;

// The job's own limits, and those of the tool's job where the system takes them.
bool SetBindingLimits(HANDLE job, JOBOBJECT_EXTENDED_LIMIT_INFORMATION& limits) {
  constexpr DWORD kBinding =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION callers = {};
  if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &callers,
                                sizeof callers, nullptr) &&
      (callers.BasicLimitInformation.LimitFlags & kSizingLimits) != 0) {
    limits = callers;
    limits.BasicLimitInformation.LimitFlags =
        (callers.BasicLimitInformation.LimitFlags & kSizingLimits) | kBinding;
    if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
      return true;
    }
  }
  limits = {};
  limits.BasicLimitInformation.LimitFlags = kBinding;
  return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// The CPU rate of the tool's job, as the program would read it; its notices need a port of the
// job's own, and go.
void CopyCpuRate(HANDLE job) {
  JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate = {};
  if (QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation, &rate, sizeof rate,
                                nullptr) &&
      (rate.ControlFlags & JOB_OBJECT_CPU_RATE_CONTROL_ENABLE) != 0) {
    rate.ControlFlags &= ~DWORD{JOB_OBJECT_CPU_RATE_CONTROL_NOTIFY};
    static_cast<void>(
        SetInformationJobObject(job, JobObjectCpuRateControlInformation, &rate, sizeof rate));
  }
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
  if (!SetBindingLimits(job, limits)) return;
  CopyCpuRate(job);
  if (AssignProcessToJobObject(job, child)) {
    binding_limits = limits;
    binding_job = job;
  }
  // The job's handle stays open until the tool ends: its close is what ends the child.
}

LPPROC_THREAD_ATTRIBUTE_LIST Attributes() {
  return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_storage);
}

}  // namespace

void StartChild(const WideText& application_name, WideText& command_line, std::uint16_t node) {
  static_assert(sizeof node == 2, "the width the preferred-node attribute takes");
  preferred_node = node;
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  startup.lpAttributeList = Attributes();

  SIZE_T size = 0;
  if (!InitializeProcThreadAttributeList(nullptr, 1, 0, &size)) {
    const DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER)
      throw Failed(L"InitializeProcThreadAttributeList", error);
  }
  // Never initialise the list in less storage than the system asks for.
  if (size > sizeof attribute_storage) {
    throw Failed(L"InitializeProcThreadAttributeList", ERROR_INSUFFICIENT_BUFFER);
  }
  if (!InitializeProcThreadAttributeList(Attributes(), 1, 0, &size)) {
    throw Failed(L"InitializeProcThreadAttributeList");
  }
  if (!UpdateProcThreadAttribute(Attributes(), 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE,
                                 &preferred_node, sizeof preferred_node, nullptr, nullptr)) {
    throw Failed(L"UpdateProcThreadAttribute");
  }
  // Only now, so that an interrupt before the child exists still ends the run at once. A handler
  // that returns TRUE, not "ignore Ctrl+C", which the child would inherit. Should installing it
  // fail, an interrupt ends the tool as it always did: no reason to start nothing.
  static_cast<void>(SetConsoleCtrlHandler(HandleConsoleEvent, TRUE));
  if (!CreateProcessW(application_name.c_str(), &command_line[0], nullptr, nullptr, FALSE,
                      EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                      &process)) {
    throw Failed(L"CreateProcess");
  }
  running_child_id = process.dwProcessId;
  running_child = process.hProcess;
  EndWithTheTool(process.hProcess);
}

std::int32_t WaitForChild() {
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  return static_cast<std::int32_t>(exit_code);
}

// Ctrl+C and Ctrl+Break reach every process of the console, the calling batch file included,
// which sees the interruption itself: nothing to pass on. The child's handles stay open: the
// system closes them when the tool ends, a moment later.
void EndAsTheChildEnded() { DeleteProcThreadAttributeList(Attributes()); }
