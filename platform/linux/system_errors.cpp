#include "platform/linux/system_errors.h"

#include <cstring>

#include "platform/linux/memory_policy.h"
#include "platform/linux/node_topology.h"
#include "text/lossless_utf8.h"

namespace {

thread_local DWORD last_error = ERROR_SUCCESS;

// The texts Windows gives for the codes the stand-in raises itself.
const wchar_t* Win32Text(DWORD error_code) {
  switch (error_code) {
    case ERROR_SUCCESS:
      return L"The operation completed successfully.";
    case ERROR_INVALID_HANDLE:
      return L"The handle is invalid.";
    case ERROR_BAD_LENGTH:
      return L"The program issued a command but the command length is incorrect.";
    case ERROR_NOT_SUPPORTED:
      return L"The request is not supported.";
    case ERROR_INVALID_PARAMETER:
      return L"The parameter is incorrect.";
    case ERROR_INSUFFICIENT_BUFFER:
      return L"The data area passed to a system call is too small.";
    default:
      return nullptr;
  }
}

}  // namespace

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD error_code) { last_error = error_code; }

BOOL FailWith(DWORD error_code) {
  SetLastError(error_code);
  return FALSE;
}

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD /*language_id*/,
                     LPWSTR buffer, DWORD size, std::va_list* /*arguments*/) {
  const DWORD supported = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & ~supported) != 0 || source != nullptr ||
      buffer == nullptr) {
    FailWith(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WideText text;
  if ((message_id & 0xFFFF0000) == kUnavailableNodeError) {
    text = RefusedNodeText(static_cast<std::uint16_t>(message_id & 0xFFFF), kSystemNodes,
                           AllowedNodes());
  } else if (message_id == kPolicyNotPermittedError) {
    text =
        L"a seccomp filter refuses NUMA memory policies here (allow set_mempolicy, or give a "
        L"container CAP_SYS_NICE)";
  } else if ((message_id & kErrnoErrorFlag) != 0) {
    // Never setlocale'd, so the C library speaks its own plain English.
    text = DecodeLossless(std::strerror(static_cast<int>(message_id & ~kErrnoErrorFlag)));
  } else if (const wchar_t* win32_text = Win32Text(message_id)) {
    text = win32_text;
  } else {
    FailWith(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  text += L'\n';  // system texts end with a line break, as on Windows
  if (text.size() >= size) {
    FailWith(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  text.copy(buffer, text.size());
  buffer[text.size()] = L'\0';
  return static_cast<DWORD>(text.size());
}
