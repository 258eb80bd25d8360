// Starts the target as a child that carries the preferred NUMA node, waits for it and reports its
// exit code.
#pragma once

#include <cstdint>

#include "text/wide_text.h"

// Returns the run's exit status, 0, once the child has ended, whatever the child's own code.
// A failed system call is reported and raised as a CErr instead; no child exists then.
// `command_line` is taken by value: the system may write into the buffer it is given.
int LaunchOnPreferredNode(const WideText& application_name, WideText command_line,
                          std::uint16_t node);
