// Error codes of the Linux stand-in for the Win32 calls. The stand-in's own refusals use the
// Win32 codes; a reason the operating system gives is carried as an application-defined code
// (bit 29 set, as Windows reserves it for applications) holding the errno value, the node when
// the kernel refuses to prefer one, or a memory policy refused by a seccomp profile.
#pragma once

#include <cerrno>
#include <cstdint>

#include "platform/win32_api.h"

constexpr DWORD kErrnoErrorFlag = 0x20000000;
constexpr DWORD kUnavailableNodeError = 0x20010000;  // | the node; errno values stay below
constexpr DWORD kPolicyNotPermittedError = 0x20020000;

inline DWORD ErrorCodeFromErrno(int error_number) {
  return kErrnoErrorFlag | static_cast<DWORD>(error_number);
}

// The kernel's refusal to set the memory policy, in terms the user can act on. Its word for a
// node it will not prefer is EINVAL, as for every bad mask: the report then says which node and
// which ones the process may use. EPERM comes from a seccomp filter: the kernel itself asks no
// privilege, but a container runtime's default profile allows memory policies only with
// CAP_SYS_NICE, and a systemd unit's SystemCallFilter= may leave them out.
inline DWORD MemoryPolicyError(int error_number, std::uint16_t node) {
  if (error_number == EINVAL) return kUnavailableNodeError | node;
  if (error_number == EPERM) return kPolicyNotPermittedError;
  return ErrorCodeFromErrno(error_number);
}

// Sets the last error and returns FALSE, the way the stand-in's calls fail.
BOOL FailWith(DWORD error_code);
inline BOOL FailWithErrno(int error_number) { return FailWith(ErrorCodeFromErrno(error_number)); }
