// Quoting an argument so that the Microsoft C runtime's parser gives it back unchanged.
#pragma once

#include <string>

// Backslashes are doubled where a quote follows them, and a quote of the argument's own escaped.
inline std::wstring QuoteForWindows(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}
