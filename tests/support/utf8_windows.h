// UTF-8 and UTF-16 conversions for the Windows test programs.
#pragma once

#include <windows.h>

#include <string>

inline std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int wide_size = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, &bytes[0], size, nullptr, nullptr);
  return bytes;
}

inline std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int utf8_size = static_cast<int>(utf8.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), utf8_size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), utf8_size, &wide[0], size);
  return wide;
}
