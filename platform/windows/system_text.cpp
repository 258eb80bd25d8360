#include "platform/windows/system_text.h"

#include <vector>

WideText SystemMessage(DWORD error_code) {
  constexpr DWORD kCapacity = 65536;  // wide characters
  // Taken only when needed, from the heap: 128 KiB is too much for a small stack.
  std::vector<wchar_t> text(kCapacity);
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error_code, 0x400, text.data(), kCapacity, nullptr);
  return WideText(text.data(), length);
}
