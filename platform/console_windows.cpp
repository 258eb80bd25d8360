#include <string>

#include <windows.h>

#include "platform/console.h"

namespace {

// Windows text convention: a lone "\n" becomes "\r\n"; a "\r\n" already there stays as it is.
WideText WithWindowsLineBreaks(const WideText& text) {
  WideText out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) AppendChecked(out, L'\r');
    AppendChecked(out, text[i]);
  }
  return out;
}

void WriteAll(HANDLE out, const char* data, std::size_t size) {
  while (size != 0) {
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(out, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

}  // namespace

void WriteToStdout(const WideText& text) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  const WideText lines = WithWindowsLineBreaks(text);
  if (lines.empty()) return;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    // A real console shows every character when given UTF-16 directly.
    const wchar_t* data = lines.data();
    std::size_t left = lines.size();
    while (left != 0) {
      const DWORD chunk = left > 0x4000 ? 0x4000 : static_cast<DWORD>(left);
      DWORD written = 0;
      if (!WriteConsoleW(out, data, chunk, &written, nullptr) || written == 0) return;
      data += written;
      left -= written;
    }
    return;
  }
  // Redirected to a file or pipe: UTF-8, lone surrogates becoming U+FFFD.
  const int wide_size = static_cast<int>(lines.size());  // within the wide-text limit
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, lines.data(), wide_size, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, lines.data(), wide_size, &bytes[0], size, nullptr, nullptr);
  WriteAll(out, bytes.data(), bytes.size());
}
