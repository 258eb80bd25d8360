// A recording test double of the Win32 process interface (POSIX builds), linked in place of the
// platform's stand-in: it answers as scripted and records every call with its arguments.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"
#include "text/wide_text.h"

struct RecordingKernel {
  // The script.
  BOOL sizing_result = FALSE;
  SIZE_T sizing_size = 48;
  DWORD sizing_error = ERROR_INSUFFICIENT_BUFFER;
  DWORD init_error = 0;    // non-zero: the initialising call fails with it
  DWORD update_error = 0;  // likewise for UpdateProcThreadAttribute
  DWORD create_error = 0;  // likewise for CreateProcessW
  DWORD job_error = 0;     // likewise for CreateJobObjectW
  // The job the tool runs in, as QueryInformationJobObject(NULL, ...) reads it: none where
  // `in_job` is false. SetInformationJobObject refuses limits with any of `refused_limits`.
  bool in_job = false;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION callers_limits = {};
  JOBOBJECT_CPU_RATE_CONTROL_INFORMATION callers_rate = {};
  DWORD refused_limits = 0;
  DWORD child_exit_code = 0;
  bool child_on_console = true;        // GetConsoleProcessList lists the child
  bool no_system_text = false;         // FormatMessageW finds no text
  bool console_out_of_memory = false;  // once the child exists, every print throws bad_alloc
  bool memory_gone = false;            // every print throws bad_alloc
  // Once read, the last error changes to this, as if another call had overwritten it.
  DWORD last_error_after_read = 0;

  // The record.
  std::vector<std::string> calls;
  DWORD last_error = 0;
  struct {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    DWORD count;
    DWORD flags;
    SIZE_T size_in;
  } init[2] = {};
  struct {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    DWORD flags;
    DWORD_PTR attribute;
    PVOID value;
    SIZE_T size;
    PVOID previous_value;
    SIZE_T* return_size;
    std::uint16_t node_then;
  } update = {};
  struct {
    WideText application_name;
    WideText command_line;
    bool command_line_writable;
    LPSECURITY_ATTRIBUTES process_attributes;
    LPSECURITY_ATTRIBUTES thread_attributes;
    BOOL inherit_handles;
    DWORD creation_flags;
    LPVOID environment;
    LPCWSTR current_directory;
    STARTUPINFOEXW startup;
    bool startup_extended_zero_elsewhere;
    std::uint16_t node_then;  // read through the address the list recorded
    LPPROCESS_INFORMATION process_information;
  } create = {};
  struct {
    PHANDLER_ROUTINE handler;
    BOOL add;
    WideText printed_before;  // what the console had shown when it was installed
  } control_handler = {};
  struct {
    JOBOBJECTINFOCLASS information_class;
    DWORD limit_flags;
    DWORD length;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;  // as last set
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate;
    HANDLE assigned_job;
    HANDLE assigned_process;
  } job = {};
  HANDLE ended_as_child = nullptr;
  HANDLE waited_handle = nullptr;
  DWORD waited_milliseconds = 0;
  HANDLE exit_code_handle = nullptr;
  LPPROC_THREAD_ATTRIBUTE_LIST deleted_list = nullptr;
  struct {
    DWORD flags;
    LPCVOID source;
    DWORD message_id;
    DWORD language_id;
    DWORD size;
    std::va_list* arguments;
  } format = {};
};

// The double's state; reset it at the start of each test.
extern RecordingKernel kernel;

// What the double's FormatMessageW gives for `code`.
WideText RecordedSystemText(DWORD code);

// Everything the launch printed, through the console double, and the notes on standard error.
extern WideText console_output;
extern std::string error_output;

// Forgets the script and the record, for the next test.
void ResetRecording();
