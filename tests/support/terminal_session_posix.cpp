#include "support/terminal_session_posix.h"

#include "support/read_before_posix.h"

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <stdexcept>

TerminalSession::TerminalSession() {
  shell_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
  if (shell_ < 0) throw std::runtime_error("forkpty failed");
  if (shell_ == 0) {
    // As a terminal starts its shell: every signal at its default and none blocked, whatever the
    // test was started with (a background job ignores SIGINT and SIGQUIT).
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
      static_cast<void>(std::signal(signal_number, SIG_DFL));
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // A shell of its own: no start-up files, no line editing, no history file, a plain prompt.
    setenv("HISTFILE", "", 1);
    setenv("PS1", "$ ", 1);
    setenv("TERM", "dumb", 1);
    execl("/bin/bash", "bash", "--norc", "--noprofile", "--noediting", "-i",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Echo off, so that what is typed never passes for what a program printed.
  Type("stty -echo; ulimit -c 0; echo \"set up: $((40 + 2))\"\n");
  if (!WaitFor("set up: 42")) throw std::runtime_error("the shell did not start");
}

TerminalSession::~TerminalSession() {
  if (terminal_ >= 0) close(terminal_);  // the shell and its jobs are hung up
  if (shell_ > 0) {
    kill(shell_, SIGKILL);
    waitpid(shell_, nullptr, 0);
  }
}

void TerminalSession::HangUp(int timeout_ms) {
  close(terminal_);
  terminal_ = -1;
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    if (waitpid(shell_, nullptr, WNOHANG) == shell_) {
      shell_ = -1;
      return;
    }
    usleep(10000);
  }
}

void TerminalSession::Type(const std::string& keys) {
  for (std::size_t done = 0; done < keys.size();) {
    const ssize_t written = write(terminal_, keys.data() + done, keys.size() - done);
    if (written <= 0) throw std::runtime_error("cannot type into the terminal");
    done += static_cast<std::size_t>(written);
  }
}

bool TerminalSession::WaitFor(const std::string& text, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const std::size_t found = screen_.find(text, consumed_);
    if (found != std::string::npos) {
      consumed_ = found + text.size();
      return true;
    }
    if (!ReadMoreBefore(terminal_, end, screen_)) return false;
  }
}
