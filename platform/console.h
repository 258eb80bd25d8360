// The one path every message takes to standard output.
#pragma once

#include "text/format_wide.h"
#include "text/wide_text.h"

// Writes `text` to standard output at once, unbuffered, so that nothing printed is lost however
// the run ends and everything printed comes before a child's own output. Defined per platform.
void WriteToStdout(const WideText& text);

template <typename... Args>
void ConsolePrint(const wchar_t* format, const Args&... args) {
  WriteToStdout(FormatWide(format, {FormatArg(args)...}));
}
