// The tool's exit statuses, which scripts rely on.
#pragma once

enum ExitStatus : int {
  kExitChildEnded = 0,   // the child ran and ended, whatever its own exit code
  kExitUsage = 1,        // the arguments were refused; the usage was printed
  kExitSystemError = 2,  // a system call failed; its report was printed
  kExitTextFailure = 3,  // memory ran out or a text passed its limit; nothing was launched
};
