// POSIX byte strings to wide text and back without loss, independent of the locale. Valid UTF-8
// decodes as usual; every byte that is not part of valid UTF-8 becomes a lone low surrogate
// U+DC80..U+DCFF, which valid UTF-8 can never produce, and encodes back to that very byte.
#pragma once

#include <string>

#include "text/wide_text.h"

WideText DecodeLossless(const std::string& bytes);
std::string EncodeLossless(const WideText& text);
