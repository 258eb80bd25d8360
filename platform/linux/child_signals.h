// The signals around the child: it starts with the signal state the tool was started with, the
// signals meant for it reach it once, and none of them ends the tool before it has reported the
// child's end.
#pragma once

#include <signal.h>
#include <sys/types.h>

// What a user, a scheduler or a terminal sends to end or poke a program: the child's to act on.
// The tool relays these when a process outside the child's tree sends them to the tool.
constexpr int kRelayedSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM};

// The signal state of one launch: made right before the child is created, used by its creation
// and by the wait for it.
class ChildSignals {
 public:
  // Reads the tool's signal state, then holds (blocks) the relayed signals the tool does not
  // ignore, SIGCHLD and SIGPIPE, so that from the moment the child exists none of them can end
  // the tool. A relayed signal the tool ignores stays ignored, for the tool and for the child.
  static ChildSignals Hold();

  // Puts back the tool's own state: after a failed creation, a signal held meanwhile acts now.
  void Release() const;

  // The child's signal state: the mask the tool was started with, and the signals that start at
  // their default action, all those the tool does not ignore, as exec would have it.
  const sigset_t& ChildMask() const { return original_mask_; }
  const sigset_t& ChildDefaults() const { return child_defaults_; }

  // Waits until `child` ends and gives its wait status; a stop is no end. Meanwhile a relayed
  // signal that a process outside the child's tree sent to the tool goes on to the child, SIGPIPE
  // does nothing, and, as PID 1 of its namespace, the tool reaps every process that ends under it.
  // Returns 0, or the errno value of the failure.
  int Wait(pid_t child, int* status) const;

 private:
  ChildSignals() = default;

  sigset_t original_mask_;   // the tool's mask as it was started: the child's
  sigset_t child_defaults_;  // every signal the tool does not ignore: at its default in the child
  sigset_t relayed_;         // kRelayedSignals less those the tool ignores
  sigset_t waited_;          // relayed_ and SIGCHLD, taken in turn by the wait
  bool sigchld_was_ignored_ = false;
  bool reaps_orphans_ = false;  // the tool is the first process of its PID namespace
};
