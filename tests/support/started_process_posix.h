// A program started the way a shell starts a command (fork, then exec), with the signal state the
// test gives it, and watched while it runs.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/process_runner.h"

struct StartOptions {
  bool own_process_group = false;  // as a job-control shell starts a job
  std::vector<int> ignored;        // signals set to be ignored; all others start at their default
  std::vector<int> blocked;        // the signal mask
  bool no_reader = false;          // standard output a pipe whose reader is gone already
  bool slow_non_blocking = false;  // standard output a non-blocking pipe of one page
  std::vector<long> refused_calls = {};  // system calls failing with EPERM, as in a seccomp profile
  unsigned long stack_kib = 0;           // a stack limit (ulimit -s); 0: the test's own
  std::string terminal = {};  // a terminal to lead a new session on, its foreground job; "": none
};

class StartedProcess {
 public:
  StartedProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const StartOptions& options);
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;
  ~StartedProcess();  // ends the process if the test did not wait for it

  pid_t pid() const { return pid_; }
  // Reads standard output until `text` has appeared; false if it has not within `timeout_ms`.
  bool ReadUntil(const std::string& text, int timeout_ms = 10000);
  // What has been read so far.
  const std::string& Output() const { return read_; }
  // Closes the reading end of standard output, as a reader that goes away.
  void CloseOutput();
  // Reads the rest of standard output and waits for the end.
  ProcessResult Finish();

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string read_;
};
