// Starting the child: its program found as posix_spawnp finds it, with the signal state and the
// CPUs it is to start with.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include "platform/linux/start_cpus.h"

struct ChildStart {
  const char* program;       // a path, or a name to look up in PATH
  char* const* argv;         // ends with nullptr
  const sigset_t* mask;      // the child's signal mask
  const sigset_t* defaults;  // the signals the child starts at their default action
  bool ignore_sigchld;       // the child starts with SIGCHLD ignored
  const StartCpus* cpus;     // nullptr: wherever the tool's CPUs allow
};

// Starts the child as posix_spawnp would: a name without a slash is looked up in PATH, and a
// file that is no program is not handed to a shell. Before its program runs, the child is bound
// to end with the tool, takes the signal state it is given and, narrowed, moves onto the CPUs of
// its start, then is widened back to its own: race-free, as nothing of the program runs until
// the exec. It stays in the tool's process group and session, as exec would leave it, and takes
// over the CPU-time timers the tool was started with, as exec would have kept them for it.
// Returns 0, or the errno value of the failure; EINTR where the terminal's Ctrl+C or Ctrl+\ came
// before the child existed (the program would never hear it): it is not started, and the
// signal, held, is the tool's to end by.
int SpawnChild(const ChildStart& start, pid_t* pid);
