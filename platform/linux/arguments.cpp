#include "platform/arguments.h"

#include "text/lossless_utf8.h"

// Arguments are bytes; decoded so that they come out again unchanged.
WideText ArgumentToWide(const char* argument) { return DecodeLossless(argument); }
