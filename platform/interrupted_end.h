// How the run ends after a child that was interrupted from the keyboard.
#pragma once

#include "platform/win32_api.h"

#ifdef _WIN32
// Ctrl+C and Ctrl+Break reach every process of the console, the calling batch file included,
// which sees the interruption itself: nothing to pass on.
inline void EndAsAnInterruptedChild(HANDLE /*child*/) {}
#else
// A child that died of Ctrl+C or Ctrl+\ ends the tool by the same signal, once its end is
// reported, so that a shell loop, a script or make stops as it would have with the program
// started directly. Returns for any other end.
void EndAsAnInterruptedChild(HANDLE child);
#endif
