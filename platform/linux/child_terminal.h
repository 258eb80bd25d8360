// The terminal around the child. Started directly, a program run at a terminal holds its
// foreground; under the tool the child leads a process group of its own, so the tool hands that
// group the foreground it would have had, and takes it back for its own group when the child
// stops or ends.
#pragma once

#include <sys/types.h>

class ChildTerminal {
 public:
  // None: the tool has no controlling terminal.
  ChildTerminal() = default;

  // The tool's controlling terminal. In a pipeline (standard input or output a pipe) the other
  // programs of the job may read or write the terminal, so it stays with the job's group.
  static ChildTerminal OfTheTool();

  // The terminal the child's new group takes at its start, before its program runs; -1: none.
  // Only while the tool's group holds the foreground: a background job never takes it.
  int ForTheChildsStart() const;

  // Whether the child's group holds the foreground.
  bool HeldBy(pid_t child) const;

  // Hands the foreground from the tool's group to the child's, where the tool's group holds it
  // (a job brought back to the foreground) and the tool is no part of a pipeline.
  void GiveTo(pid_t child) const;

  // The same in a pipeline too: the child stopped to read or write the terminal, which the job
  // holds, and would have had it started directly.
  void GiveOnRequest(pid_t child) const;

  // Gives the foreground back to the tool's group where the child's group holds it.
  void TakeBackFrom(pid_t child) const;

 private:
  int terminal_ = -1;
  bool may_hand_over_ = false;
  pid_t tool_group_ = 0;
};
