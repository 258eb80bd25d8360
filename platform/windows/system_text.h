// Windows' own text for an error code, for the probe's reports.
#pragma once

#include <windows.h>

#include <string>

#include "platform/windows/utf8.h"

// The system's text for `error` in UTF-8, without its line break; "error N" where it has none.
inline std::string SystemText(DWORD error) {
  wchar_t text[512] = {};
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0x400, text, 512, nullptr);
  while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r')) --length;
  if (length == 0) return "error " + std::to_string(error);
  text[length] = L'\0';
  return Utf8(text);
}
