// How the entry's arguments become wide text: all alike, and unchanged.
#pragma once

#include "text/wide_text.h"

#ifdef _WIN32
// Windows hands the entry UTF-16 arguments already.
using NativeChar = wchar_t;
inline WideText ArgumentToWide(const wchar_t* argument) { return WideText(argument); }
#else
#include "text/lossless_utf8.h"
// POSIX arguments are bytes; decode them so that they come out again unchanged.
using NativeChar = char;
inline WideText ArgumentToWide(const char* argument) { return DecodeLossless(argument); }
#endif
