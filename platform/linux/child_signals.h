// The signals around the child: it starts with the signal state the tool was started with, the
// signals meant for it reach it once, a stop of the child stops the tool with it, and none of
// them ends the tool before it has reported the child's end.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include "platform/linux/child_terminal.h"

// What a user, a scheduler or a terminal sends to end, stop, resume or poke a program: the
// child's to act on. The child leads a process group of its own, so whatever reaches the tool of
// these, from anywhere but the child's tree, the child did not get: the tool passes it on.
constexpr int kRelayedSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGUSR1,
                                   SIGUSR2, SIGALRM, SIGTSTP, SIGCONT, SIGWINCH};

// The signal state of one launch: made right before the child is created, used by its creation
// and by the wait for it.
class ChildSignals {
 public:
  // Reads the tool's signal state, then holds (blocks) the relayed signals the tool does not
  // ignore, SIGCHLD and SIGPIPE, so that from the moment the child exists none of them can end
  // the tool, and SIGTTOU, so that the tool may move the terminal's foreground and print its
  // lines while the child holds it. A relayed signal the tool ignores stays ignored, for the tool
  // and for the child.
  static ChildSignals Hold();

  // Puts back the tool's own state: after a failed creation, a signal held meanwhile acts now.
  void Release() const;

  // The child's signal state: the mask the tool was started with, and the signals that start at
  // their default action, all those the tool does not ignore, as exec would have it.
  const sigset_t& ChildMask() const { return original_mask_; }
  const sigset_t& ChildDefaults() const { return child_defaults_; }
  // The terminal whose foreground the child's group takes at its start; -1: none.
  int TerminalForTheChild() const { return terminal_.ForTheChildsStart(); }

  // Waits until `child` ends and gives its wait status. Meanwhile a relayed signal that reaches
  // the tool from outside the child's tree goes on to the child, SIGPIPE does nothing, a stop of
  // the child stops the tool (and its job, if the child's stop was the terminal's) until it is
  // continued, and, as PID 1 of its namespace, the tool reaps every process that ends under it.
  // The terminal's foreground goes back to the tool's group when the child stops or ends. Returns
  // 0, or the errno value of the failure.
  int Wait(pid_t child, int* status) const;

 private:
  ChildSignals() = default;

  void Relay(pid_t child, int signal_number, const siginfo_t& info) const;
  void FollowStop(pid_t child, int signal_number) const;
  void Resume(pid_t child) const;

  sigset_t original_mask_;   // the tool's mask as it was started: the child's
  sigset_t child_defaults_;  // every signal the tool does not ignore: at its default in the child
  sigset_t relayed_;         // kRelayedSignals less those the tool ignores
  sigset_t waited_;          // relayed_ and SIGCHLD, taken in turn by the wait
  bool sigchld_was_ignored_ = false;
  bool reaps_orphans_ = false;  // the tool is the first process of its PID namespace
  ChildTerminal terminal_;
};
