// The signals around the child. The child stays in the tool's process group, the job's, so the
// kernel itself delivers the terminal's keys, stops and continues to both, as to any job; the
// tool passes on only what the child did not get, and none of it ends the tool before it has
// reported the child's end.
#pragma once

#include <signal.h>
#include <sys/types.h>

// The signal state of one launch: made right before the child is created, used by its creation
// and by the wait for it.
class ChildSignals {
 public:
  // Reads the tool's signal state, then holds (blocks) every signal the tool does not ignore and
  // can hold, so that from the moment the child exists none of them can end the tool; each is
  // taken in turn by the wait. A signal the tool ignores stays ignored, for it and the child.
  static ChildSignals Hold();

  // Puts back the tool's own state: after a failed creation, a signal held meanwhile acts now.
  void Release() const;

  // The child's signal state, as exec gives it: the mask the tool was started with; the signals
  // the tool had a handler for (glibc's own) back at their default; SIGCHLD ignored again where
  // the tool was started ignoring it, which the tool itself cannot, as it waits.
  const sigset_t& ChildMask() const { return original_mask_; }
  const sigset_t& ChildDefaults() const { return handled_; }
  bool ChildIgnoresSigchld() const { return sigchld_was_ignored_; }

  // Waits until `child` ends and gives its wait status. Meanwhile a signal the child did not get
  // goes on to it (one sent to the tool alone from outside the child's tree, one the kernel sent
  // to the tool alone, the terminal's when the child has left the tool's group), a stop that the
  // child stopped on too stops the tool as the kernel would, a continue reaches a stopped child,
  // and, as PID 1 of its namespace, the tool reaps every process that ends under it. Returns 0,
  // or the errno value of the failure.
  int Wait(pid_t child, int* status) const;

  // Once the child's end is reported: a child that died of Ctrl+C or Ctrl+\ ends the tool by the
  // same signal, without a core file of its own, so that a shell loop, a script or make stops as
  // it would have with the program started directly. Returns for any other end.
  static void EndAsTheChildEnded(int status);

 private:
  ChildSignals() = default;

  sigset_t original_mask_;  // the tool's mask as it was started: the child's
  sigset_t handled_;        // signals with a handler in the tool: at their default in the child
  sigset_t held_;           // every signal the tool holds and takes in turn
  bool sigchld_was_ignored_ = false;
  bool reaps_orphans_ = false;  // the tool is the first process of its PID namespace
};
