// Error codes of the POSIX stand-in for the Win32 calls. The stand-in's own refusals use the
// Win32 codes; a reason the operating system gives is carried as an application-defined code
// (bit 29 set, as Windows reserves it for applications) holding the errno value.
#pragma once

#include "platform/win32_api.h"

constexpr DWORD kErrnoErrorFlag = 0x20000000;

inline DWORD ErrorCodeFromErrno(int error_number) {
  return kErrnoErrorFlag | static_cast<DWORD>(error_number);
}

// Sets the last error and returns FALSE, the way the stand-in's calls fail.
BOOL FailWith(DWORD error_code);
inline BOOL FailWithErrno(int error_number) { return FailWith(ErrorCodeFromErrno(error_number)); }
