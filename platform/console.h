// The one path every message takes to standard output.
#pragma once

#include <string>

#include "text/format_wide.h"
#include "text/wide_text.h"

// Writes `text` to standard output at once, unbuffered, so that nothing printed is lost however
// the run ends and everything printed comes before a child's own output. Defined per platform.
void WriteToStdout(const WideText& text);

// Writes `line` (ASCII), and a line break, to standard error at once: what ended a run that has
// no report of its own, outside the output scripts read. Takes no memory, as it may have to say
// that memory ran out. Defined per platform.
void WriteNoteToStderr(const char* line) noexcept;

// The probe's way out: UTF-8 `text`, whole, to standard output or error; on a Windows console
// as the characters themselves, whatever the console's code page. False where it cannot be
// written, with the system's reason. Defined per platform.
enum class StandardStream { kOutput, kError };
bool WriteUtf8(StandardStream stream, const std::string& text, std::string& reason);

template <typename... Args>
void ConsolePrint(const wchar_t* format, const Args&... args) {
  WriteToStdout(FormatWide(format, {FormatArg(args)...}));
}
