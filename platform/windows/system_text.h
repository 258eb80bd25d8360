// Windows' own text for an error code, for the probe's reports.
#pragma once

#include <windows.h>

#include <string>

// The system's text for `error`, without its line break; "error N" where it has none.
inline std::string SystemText(DWORD error) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0x400, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  return length > 0 ? std::string(text, length) : "error " + std::to_string(error);
}
