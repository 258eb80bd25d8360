#include "launch/system_error_report.h"

#include <vector>

#include "platform/console.h"

namespace {

constexpr DWORD kMessageCapacity = 65536;  // wide characters

// For a code the system has no text for, so that the report still says what went wrong; it ends
// with a line break as the system's texts do, so that nothing after it is glued to it.
WideText UnknownErrorText(DWORD error_code) {
  WideText hex;
  for (DWORD rest = error_code;; rest /= 16) {
    hex.insert(hex.begin(), L"0123456789ABCDEF"[rest % 16]);
    if (rest < 16) break;
  }
  return L"unknown error " + std::to_wstring(error_code) + L" (0x" + hex + L")\n";
}

}  // namespace

CErr::CErr(const wchar_t* operation, DWORD error_code) {
  if (error_code == 0) error_code = GetLastError();
  // 256 KiB where a wide character takes 4 bytes: too much for a small stack (ulimit -s 256),
  // and, taken only when needed, nothing that a tight address space must hold from the start.
  std::vector<wchar_t> text(kMessageCapacity);
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     error_code, 0x400, text.data(), kMessageCapacity, nullptr);
  const WideText system_text =
      length != 0 ? WideText(text.data(), length) : UnknownErrorText(error_code);
  ConsolePrint(L"\n ERROR - %s: %s", operation, system_text);
}
