// The report of a failed system call. Constructing a CErr prints it; the creator then raises it,
// which ends the run.
#pragma once

#include "text/wide_text.h"

class CErr {
 public:
  // Prints "\n ERROR - <operation>: <reason>", the reason as the system gave it, with its line
  // break.
  CErr(const wchar_t* operation, const WideText& reason);
};
