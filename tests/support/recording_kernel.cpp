#include "support/recording_kernel.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/console.h"
#include "platform/interrupted_end.h"

RecordingKernel kernel;
WideText console_output;
std::string error_output;

void WriteToStdout(const WideText& text) {
  const bool child_exists =
      kernel.create_error == 0 &&
      std::find(kernel.calls.begin(), kernel.calls.end(), "CreateProcessW") != kernel.calls.end();
  if ((kernel.console_out_of_memory && child_exists) || kernel.memory_gone) throw std::bad_alloc();
  console_output += text;
}

void WriteNoteToStderr(const char* line) noexcept { error_output += std::string(line) + "\n"; }

// Stands in for the kernel's list; the storage is the caller's.
struct PROC_THREAD_ATTRIBUTE_LIST {
  const std::uint16_t* node;
};

namespace {

const HANDLE kChildProcess = reinterpret_cast<HANDLE>(0x1234);
const HANDLE kChildThread = reinterpret_cast<HANDLE>(0x5678);
const HANDLE kJob = reinterpret_cast<HANDLE>(0x9abc);

BOOL Fail(DWORD error_code) {
  kernel.last_error = error_code;
  return FALSE;
}

}  // namespace

void ResetRecording() {
  kernel = RecordingKernel{};
  console_output.clear();
  error_output.clear();
}

WideText RecordedSystemText(DWORD code) { return L"text of " + std::to_wstring(code) + L"\n"; }

DWORD GetLastError() {
  const DWORD error = kernel.last_error;
  if (kernel.last_error_after_read != 0) kernel.last_error = kernel.last_error_after_read;
  return error;
}

void SetLastError(DWORD error_code) { kernel.last_error = error_code; }

BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD attribute_count,
                                       DWORD flags, SIZE_T* size) {
  const bool sizing = list == nullptr;
  kernel.calls.push_back(sizing ? "InitializeProcThreadAttributeList(sizing)"
                                : "InitializeProcThreadAttributeList");
  kernel.init[sizing ? 0 : 1] = {list, attribute_count, flags, *size};
  if (sizing) {
    *size = kernel.sizing_size;
    return kernel.sizing_result ? TRUE : Fail(kernel.sizing_error);
  }
  if (kernel.init_error != 0) return Fail(kernel.init_error);
  list->node = nullptr;
  return TRUE;
}

BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
                               PVOID value, SIZE_T size, PVOID previous_value,
                               SIZE_T* return_size) {
  kernel.calls.push_back("UpdateProcThreadAttribute");
  kernel.update = {list, flags,          attribute,   value,
                   size, previous_value, return_size, *static_cast<const std::uint16_t*>(value)};
  if (kernel.update_error != 0) return Fail(kernel.update_error);
  list->node = static_cast<const std::uint16_t*>(value);
  return TRUE;
}

void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) {
  kernel.calls.push_back("DeleteProcThreadAttributeList");
  kernel.deleted_list = list;
}

BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                    LPSECURITY_ATTRIBUTES process_attributes,
                    LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                    DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                    LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information) {
  kernel.calls.push_back("CreateProcessW");
  auto& c = kernel.create;
  c.application_name = application_name;
  c.command_line = command_line;
  // The system may write into the command line: prove that it can, then put it back.
  const wchar_t first = command_line[0];
  command_line[0] = L'#';
  c.command_line_writable = command_line[0] == L'#';
  command_line[0] = first;
  c.process_attributes = process_attributes;
  c.thread_attributes = thread_attributes;
  c.inherit_handles = inherit_handles;
  c.creation_flags = creation_flags;
  c.environment = environment;
  c.current_directory = current_directory;
  std::memcpy(&c.startup, startup_info, sizeof c.startup);
  const STARTUPINFOW& s = c.startup.StartupInfo;
  const DWORD numbers = s.dwX | s.dwY | s.dwXSize | s.dwYSize | s.dwXCountChars | s.dwYCountChars |
                        s.dwFillAttribute | s.dwFlags | s.wShowWindow | s.cbReserved2;
  c.startup_extended_zero_elsewhere = numbers == 0 && !s.lpReserved && !s.lpDesktop && !s.lpTitle &&
                                      !s.lpReserved2 && !s.hStdInput && !s.hStdOutput &&
                                      !s.hStdError;
  const auto* list = c.startup.lpAttributeList;
  c.node_then = list != nullptr && list->node != nullptr ? *list->node : 0xDEAD;
  c.process_information = process_information;
  if (kernel.create_error != 0) return Fail(kernel.create_error);
  *process_information = {kChildProcess, kChildThread, 42, 43};
  return TRUE;
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  kernel.calls.push_back("SetConsoleCtrlHandler");
  kernel.control_handler = {handler, add, console_output};
  return TRUE;
}

DWORD GetConsoleProcessList(DWORD* process_ids, DWORD count) {
  const DWORD attached[] = {7, 42};  // the tool, and the child where it is attached
  const DWORD listed = kernel.child_on_console ? 2 : 1;
  std::copy(attached, attached + std::min(listed, count), process_ids);
  return listed;
}

void EndAsAnInterruptedChild(HANDLE child) {
  kernel.calls.push_back("EndAsAnInterruptedChild");
  kernel.ended_as_child = child;
}

HANDLE CreateJobObjectW(LPSECURITY_ATTRIBUTES job_attributes, LPCWSTR name) {
  kernel.calls.push_back("CreateJobObjectW");
  if (kernel.job_error != 0 || job_attributes != nullptr || name != nullptr) {
    Fail(kernel.job_error);
    return nullptr;
  }
  return kJob;
}

BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS information_class, LPVOID information,
                             DWORD information_length) {
  kernel.calls.push_back("SetInformationJobObject");
  if (job != kJob) return Fail(ERROR_INVALID_HANDLE);
  if (information_class == JobObjectCpuRateControlInformation) {
    std::memcpy(&kernel.job.rate, information, sizeof kernel.job.rate);
    return TRUE;
  }
  const auto* limits = static_cast<const JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(information);
  if ((limits->BasicLimitInformation.LimitFlags & kernel.refused_limits) != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  kernel.job.information_class = information_class;
  kernel.job.limit_flags = limits->BasicLimitInformation.LimitFlags;
  kernel.job.length = information_length;
  kernel.job.limits = *limits;
  return TRUE;
}

BOOL QueryInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS information_class, LPVOID information,
                               DWORD information_length, DWORD* /*return_length*/) {
  kernel.calls.push_back("QueryInformationJobObject");
  if (job != nullptr || !kernel.in_job) return Fail(ERROR_INVALID_PARAMETER);
  if (information_class == JobObjectCpuRateControlInformation) {
    if (information_length != sizeof kernel.callers_rate) return Fail(ERROR_BAD_LENGTH);
    std::memcpy(information, &kernel.callers_rate, sizeof kernel.callers_rate);
  } else {
    if (information_length != sizeof kernel.callers_limits) return Fail(ERROR_BAD_LENGTH);
    std::memcpy(information, &kernel.callers_limits, sizeof kernel.callers_limits);
  }
  return TRUE;
}

BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
  kernel.calls.push_back("AssignProcessToJobObject");
  kernel.job.assigned_job = job;
  kernel.job.assigned_process = process;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  kernel.calls.push_back("WaitForSingleObject");
  kernel.waited_handle = handle;
  kernel.waited_milliseconds = milliseconds;
  return WAIT_OBJECT_0;
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exit_code) {
  kernel.calls.push_back("GetExitCodeProcess");
  kernel.exit_code_handle = process;
  if (process != kChildProcess) return Fail(ERROR_INVALID_HANDLE);
  *exit_code = kernel.child_exit_code;
  return TRUE;
}

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                     LPWSTR buffer, DWORD size, std::va_list* arguments) {
  kernel.calls.push_back("FormatMessageW");
  kernel.format = {flags, source, message_id, language_id, size, arguments};
  if (kernel.no_system_text) return static_cast<DWORD>(Fail(ERROR_MR_MID_NOT_FOUND));
  const WideText text = RecordedSystemText(message_id);
  text.copy(buffer, text.size());
  buffer[text.size()] = L'\0';
  return static_cast<DWORD>(text.size());
}
