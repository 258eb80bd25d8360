// Runs a built program as a child and captures what it writes to standard output.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  std::string output;  // standard output, byte for byte ("\r\n" made "\n" on Windows)
  int exit_status = -1;
};

// `arguments` are bytes on POSIX and UTF-8 on Windows, where each reaches the child's wide entry
// as one argument, unchanged.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments);

// Path of a program built beside the running test, named without its platform suffix.
std::string BuiltProgram(const std::string& name);

#ifdef _WIN32
#include <windows.h>

// Starts `program` with `arguments` as RunProcess does, and gives the reading end of its
// standard output; `process` gets its handles.
HANDLE StartWithOutputPipe(const std::string& program, const std::vector<std::string>& arguments,
                           PROCESS_INFORMATION& process);
#endif
