// How the entry's arguments become wide text: all alike, and unchanged.
#pragma once

#include "text/wide_text.h"

// What the platform's entry is handed: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif

WideText ArgumentToWide(const NativeChar* argument);
