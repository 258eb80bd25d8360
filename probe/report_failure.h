// How the probe says that the system could not tell it something.
#pragma once

#include <cstdio>
#include <string>

#include "platform/memory_placement.h"

// "nodestart-probe: CALL: REASON" on standard error; the probe's status for it, 2.
inline int ReportFailure(const PlacementFailure& failure) {
  const std::string line = "nodestart-probe: " + failure.call + ": " + failure.reason + "\n";
  static_cast<void>(std::fputs(line.c_str(), stderr));
  return 2;
}
