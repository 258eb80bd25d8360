// The probe's report of a running program it did not start: where its pages and threads are.
#pragma once

#include <cstdint>

// Reports the program `pid` on standard output, then, for `watch_seconds`, every half second
// where its threads run and its pages lie. Returns the probe's status: 0 once it has looked, 2
// where it could not (the call and why on standard error).
int ReportProgram(unsigned long pid, std::uint64_t watch_seconds);
