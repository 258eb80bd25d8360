#include "platform/linux/child_terminal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsPipe(int descriptor) {
  struct stat status = {};
  return fstat(descriptor, &status) == 0 && S_ISFIFO(status.st_mode);
}

}  // namespace

ChildTerminal ChildTerminal::OfTheTool() {
  ChildTerminal terminal;
  // Fails at once (ENXIO) where there is no controlling terminal, as under every harness.
  terminal.terminal_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal.terminal_ < 0) return terminal;
  terminal.tool_group_ = getpgrp();
  terminal.may_hand_over_ = !IsPipe(STDIN_FILENO) && !IsPipe(STDOUT_FILENO);
  return terminal;
}

int ChildTerminal::ForTheChildsStart() const {
  return may_hand_over_ && tcgetpgrp(terminal_) == tool_group_ ? terminal_ : -1;
}

bool ChildTerminal::HeldBy(pid_t child) const {
  return terminal_ >= 0 && tcgetpgrp(terminal_) == child;
}

// The tool holds SIGTTOU from the child's creation on, so that it may move the foreground while
// its own group is in the background.
void ChildTerminal::GiveTo(pid_t child) const {
  if (may_hand_over_) GiveOnRequest(child);
}

void ChildTerminal::GiveOnRequest(pid_t child) const {
  if (terminal_ >= 0 && tcgetpgrp(terminal_) == tool_group_) {
    static_cast<void>(tcsetpgrp(terminal_, child));
  }
}

void ChildTerminal::TakeBackFrom(pid_t child) const {
  if (HeldBy(child)) static_cast<void>(tcsetpgrp(terminal_, tool_group_));
}
