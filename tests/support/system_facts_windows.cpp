#include <windows.h>

#include "support/system_facts.h"

std::string SystemText(unsigned long code) {
  wchar_t text[65536];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0x400, text, 65536, nullptr);
  std::wstring lines;  // with "\n" line breaks, as the tests compare them
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] != L'\r' || i + 1 == length || text[i + 1] != L'\n') lines += text[i];
  }
  if (lines.empty()) return std::string();
  const int wide_size = static_cast<int>(lines.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, lines.data(), wide_size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, lines.data(), wide_size, &utf8[0], size, nullptr, nullptr);
  return utf8;
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}
