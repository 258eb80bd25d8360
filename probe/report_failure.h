// How the probe writes: its reports to standard output, its failures and notes to standard error.
#pragma once

#include <string>

#include "platform/console.h"
#include "platform/memory_placement.h"

// `text` on standard error, whatever becomes of it: nobody is left to tell.
inline void Say(const std::string& text) {
  std::string reason;
  static_cast<void>(WriteUtf8(StandardStream::kError, text, reason));
}

// "nodestart-probe: CALL: REASON" on standard error; the probe's status for it, 2.
inline int ReportFailure(const PlacementFailure& failure) {
  Say("nodestart-probe: " + failure.call + ": " + failure.reason + "\n");
  return 2;
}

// `text` on standard output; where it cannot be written, the report of that, status 2.
inline int WriteOut(const std::string& text) {
  std::string reason;
  if (WriteUtf8(StandardStream::kOutput, text, reason)) return 0;
  return ReportFailure({"write to standard output", reason});
}
