#include <cstring>
#include <string>

#include <windows.h>

#include "platform/console.h"
#include "platform/windows/system_text.h"
#include "platform/windows/utf8.h"

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

// Hands `write` the units in chunks of at most `most` until all are written or it fails. A chunk
// never ends between the two halves of a surrogate pair, which the console would show as two
// replacement characters. A write that takes nothing (a full pipe in PIPE_NOWAIT mode) is tried
// again a moment later: nothing is lost.
template <typename Unit, typename Write>
bool WriteAll(const Unit* data, std::size_t size, DWORD most, Write write) {
  while (size != 0) {
    DWORD chunk = size > most ? most : static_cast<DWORD>(size);
    if constexpr (sizeof(Unit) == sizeof(wchar_t)) {
      if (chunk < size && chunk > 1 && IS_HIGH_SURROGATE(data[chunk - 1])) --chunk;
    }
    DWORD written = 0;
    if (!write(data, chunk, &written)) return false;
    if (written == 0) Sleep(1);
    data += written;
    size -= written;
  }
  return true;
}

// `text` on a console as UTF-16, which shows every character; elsewhere (a file, a pipe) as
// UTF-8, lone surrogates becoming U+FFFD. False with the last error set where it fails.
bool WriteWide(HANDLE out, const WideText& text) {
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const WideText lines = WithWindowsLineBreaks(text);
  if (lines.empty()) return true;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    return WriteAll(lines.data(), lines.size(), 0x4000,
                    [out](const wchar_t* data, DWORD n, DWORD* done) {
                      return WriteConsoleW(out, data, n, done, nullptr);
                    });
  }
  const int wide_size = static_cast<int>(lines.size());  // within the wide-text limit
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, lines.data(), wide_size, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, lines.data(), wide_size, &bytes[0], size, nullptr, nullptr);
  return WriteAll(bytes.data(), bytes.size(), 0x10000000,
                  [out](const char* data, DWORD n, DWORD* done) {
                    return WriteFile(out, data, n, done, nullptr);
                  });
}

}  // namespace

// A failure leaves nobody to tell.
void WriteToStdout(const WideText& text) {
  static_cast<void>(WriteWide(GetStdHandle(STD_OUTPUT_HANDLE), text));
}

bool WriteUtf8(StandardStream stream, const std::string& text, std::string& reason) {
  const DWORD which = stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  if (WriteWide(GetStdHandle(which), Wide(text))) return true;
  reason = SystemText(GetLastError());
  return false;
}

void WriteNoteToStderr(const char* line) noexcept {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  static_cast<void>(
      WriteFile(error, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr));
  static_cast<void>(WriteFile(error, "\r\n", 2, &written, nullptr));
}
