// The child's command line: the target in double quotes, then each argument after one space.
#pragma once

#include <vector>

#include "text/wide_text.h"

// Nothing is escaped or quoted beyond the outer quotes around the application name, so the
// command line carries the arguments exactly as they were given.
WideText ComposeCommandLine(const WideText& application_name,
                            const std::vector<WideText>& target_arguments);
