// The Win32 process-creation interface the launch code calls. Windows has it in its headers; for
// other systems this declares our own stand-in for exactly that subset, so that one launch code
// path serves both platforms.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdarg>
#include <cstddef>
#include <cstdint>

using BOOL = int;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using HANDLE = void*;
using LPVOID = void*;
using PVOID = void*;
using LPCVOID = const void*;
using LPBYTE = unsigned char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// Windows' calling convention for callbacks; POSIX has only one.
#define WINAPI

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_BAD_LENGTH = 24;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;

constexpr DWORD_PTR PROC_THREAD_ATTRIBUTE_PREFERRED_NODE = 0x00020004;
constexpr DWORD EXTENDED_STARTUPINFO_PRESENT = 0x00080000;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

constexpr DWORD CTRL_C_EVENT = 0;
constexpr DWORD CTRL_BREAK_EVENT = 1;
constexpr DWORD CTRL_CLOSE_EVENT = 2;
constexpr DWORD CTRL_LOGOFF_EVENT = 5;
constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;
using PHANDLER_ROUTINE = BOOL (*)(DWORD control_type);

constexpr DWORD JOB_OBJECT_LIMIT_WORKINGSET = 0x00000001;
constexpr DWORD JOB_OBJECT_LIMIT_PROCESS_TIME = 0x00000002;
constexpr DWORD JOB_OBJECT_LIMIT_ACTIVE_PROCESS = 0x00000008;
constexpr DWORD JOB_OBJECT_LIMIT_AFFINITY = 0x00000010;
constexpr DWORD JOB_OBJECT_LIMIT_PRIORITY_CLASS = 0x00000020;
constexpr DWORD JOB_OBJECT_LIMIT_PROCESS_MEMORY = 0x00000100;
constexpr DWORD JOB_OBJECT_LIMIT_JOB_MEMORY = 0x00000200;
constexpr DWORD JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK = 0x00001000;
constexpr DWORD JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE = 0x00002000;
constexpr DWORD JOB_OBJECT_CPU_RATE_CONTROL_ENABLE = 0x1;
constexpr DWORD JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP = 0x4;
constexpr DWORD JOB_OBJECT_CPU_RATE_CONTROL_NOTIFY = 0x8;
enum JOBOBJECTINFOCLASS {
  JobObjectExtendedLimitInformation = 9,
  JobObjectCpuRateControlInformation = 15
};
struct JOBOBJECT_CPU_RATE_CONTROL_INFORMATION {
  DWORD ControlFlags;
  DWORD CpuRate;  // or the weight, as the flags say
};

// Laid out as on 64-bit Windows; its time limits are LARGE_INTEGERs there.
struct JOBOBJECT_BASIC_LIMIT_INFORMATION {
  std::int64_t PerProcessUserTimeLimit;
  std::int64_t PerJobUserTimeLimit;
  DWORD LimitFlags;
  SIZE_T MinimumWorkingSetSize;
  SIZE_T MaximumWorkingSetSize;
  DWORD ActiveProcessLimit;
  ULONG_PTR Affinity;
  DWORD PriorityClass;
  DWORD SchedulingClass;
};

struct IO_COUNTERS {
  std::uint64_t ReadOperationCount;
  std::uint64_t WriteOperationCount;
  std::uint64_t OtherOperationCount;
  std::uint64_t ReadTransferCount;
  std::uint64_t WriteTransferCount;
  std::uint64_t OtherTransferCount;
};

struct JOBOBJECT_EXTENDED_LIMIT_INFORMATION {
  JOBOBJECT_BASIC_LIMIT_INFORMATION BasicLimitInformation;
  IO_COUNTERS IoInfo;
  SIZE_T ProcessMemoryLimit;
  SIZE_T JobMemoryLimit;
  SIZE_T PeakProcessMemoryUsed;
  SIZE_T PeakJobMemoryUsed;
};

// Opaque, as on Windows: it lives in storage the caller provides.
struct PROC_THREAD_ATTRIBUTE_LIST;
using LPPROC_THREAD_ATTRIBUTE_LIST = PROC_THREAD_ATTRIBUTE_LIST*;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Laid out as on 64-bit Windows.
struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
using LPSTARTUPINFOW = STARTUPINFOW*;

struct STARTUPINFOEXW {
  STARTUPINFOW StartupInfo;
  LPPROC_THREAD_ATTRIBUTE_LIST lpAttributeList;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

DWORD GetLastError();
void SetLastError(DWORD error_code);

BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD attribute_count,
                                       DWORD flags, SIZE_T* size);
BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
                               PVOID value, SIZE_T size, PVOID previous_value, SIZE_T* return_size);
void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list);

BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                    LPSECURITY_ATTRIBUTES process_attributes,
                    LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                    DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                    LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information);
// A console's control events are signals on POSIX; the stand-in's child creation and wait take
// care of those.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
// Never asked here: only the console's handler asks, and POSIX never calls it.
DWORD GetConsoleProcessList(DWORD* process_ids, DWORD count);

// Linux has no job objects: its stand-in binds each child to the tool at its creation instead
// (the parent-death signal), which only the child itself can set, before its program runs. So
// no job is made here, and the launch goes on as where Windows refuses one.
HANDLE CreateJobObjectW(LPSECURITY_ATTRIBUTES job_attributes, LPCWSTR name);
BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS information_class, LPVOID information,
                             DWORD information_length);
BOOL AssignProcessToJobObject(HANDLE job, HANDLE process);
BOOL QueryInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS information_class, LPVOID information,
                               DWORD information_length, DWORD* return_length);

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeProcess(HANDLE process, DWORD* exit_code);

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                     LPWSTR buffer, DWORD size, std::va_list* arguments);
#endif
