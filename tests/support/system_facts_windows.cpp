#include <windows.h>

#include "support/system_facts.h"
#include "support/utf8_windows.h"

std::string SystemText(unsigned long code) {
  wchar_t text[65536];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0x400, text, 65536, nullptr);
  std::wstring lines;  // with "\n" line breaks, as the tests compare them
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] != L'\r' || i + 1 == length || text[i + 1] != L'\n') lines += text[i];
  }
  return Utf8(lines);
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}
