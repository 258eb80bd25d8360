// An interactive shell with job control on a new pseudo-terminal, for typing into it what a user
// types, control characters included, and reading what the terminal shows.
#pragma once

#include <sys/types.h>

#include <string>

class TerminalSession {
 public:
  // Starts bash, without echo and without core dumps; the commands typed later are its foreground
  // jobs, as at a user's prompt.
  TerminalSession();
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;
  ~TerminalSession();

  void Type(const std::string& keys);
  // Closes the terminal, as a closed window or a dropped ssh connection does, and waits up to
  // `timeout_ms` for what runs as the shell's process to end.
  void HangUp(int timeout_ms = 5000);
  // Reads until `text` has been shown after what earlier waits consumed; false on timeout.
  bool WaitFor(const std::string& text, int timeout_ms = 10000);
  // Everything shown so far.
  const std::string& Screen() const { return screen_; }

 private:
  pid_t shell_ = -1;
  int terminal_ = -1;
  std::string screen_;
  std::size_t consumed_ = 0;
};
