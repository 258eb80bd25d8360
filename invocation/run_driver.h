// The run from the entry to its end: banner, argument check, summary, launch.
#pragma once

#include "platform/arguments.h"

// Returns the run's exit status (see invocation/exit_status.h).
int RunNodeStart(int argc, const NativeChar* const argv[]);
