// Splits a command line into arguments the way the Microsoft C runtime does for a program's argv,
// so that a POSIX child sees what a Windows child would.
#pragma once

#include <vector>

#include "text/wide_text.h"

// The first argument is the program name: quotes toggle, nothing is escaped, and it ends at the
// first space or tab outside quotes. Every later argument follows the runtime's rules: 2n
// backslashes and a quote give n backslashes and toggle quoting; 2n+1 backslashes and a quote give
// n backslashes and a literal quote; a doubled quote inside quotes is a literal quote; other
// backslashes stand for themselves.
std::vector<WideText> SplitCommandLine(const WideText& command_line);
