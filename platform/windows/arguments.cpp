#include "platform/arguments.h"

// Windows hands the entry UTF-16 arguments already.
WideText ArgumentToWide(const wchar_t* argument) { return WideText(argument); }
