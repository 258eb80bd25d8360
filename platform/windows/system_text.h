// Windows' own text for an error code.
#pragma once

#include <windows.h>

#include <string>

#include "platform/windows/utf8.h"
#include "text/wide_text.h"

// The system's text for `error_code` as it gives it, its line break included; empty where it
// has none.
WideText SystemMessage(DWORD error_code);

// The same in UTF-8 without its line break, for the probe's reports; "error N" where it has none.
inline std::string SystemText(DWORD error) {
  WideText text = SystemMessage(error);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text.empty() ? "error " + std::to_string(error) : Utf8(text.c_str());
}
