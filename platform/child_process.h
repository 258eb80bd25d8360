// The launch's system side: start the program as a child that prefers a NUMA node, wait for its
// end, end as it ended. One file per system, each read top to bottom.
#pragma once

#include <cstdint>

#include "text/wide_text.h"

// A step that failed before the child existed: the operation as the report names it, and why,
// in the system's words (or, where the text is ours, what is wrong and what to do), ending with
// a line break as the system's texts do.
struct ChildStartFailure {
  const wchar_t* operation;
  WideText reason;
};

// Starts `application_name`, the program's file, with `command_line` (which the system may
// write into), preferring `node`. Throws ChildStartFailure where a step fails: no child exists
// then. One child per run.
void StartChild(const WideText& application_name, WideText& command_line, std::uint16_t node);

// Waits, without a time limit, until the child has ended; gives its exit code as the report
// prints it (a signed 32-bit number), 0 where the system gives none. Never fails visibly.
std::int32_t WaitForChild();

// Once the child's end is reported: releases what its start held and, where a shell judges a job
// by the signal that ended it (Linux: Ctrl+C, Ctrl+\), ends the tool the way the child ended.
// Returns for any other end.
void EndAsTheChildEnded();
