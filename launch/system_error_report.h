// The report of a failed system call. Constructing a CErr prints it; the creator then raises it,
// which ends the run.
#pragma once

#include "platform/win32_api.h"

class CErr {
 public:
  // Prints "\n ERROR - <operation>: <the system's text for the code>". An error code of 0 means
  // the calling thread's last error at this moment.
  explicit CErr(const wchar_t* operation, DWORD error_code = 0);
};
