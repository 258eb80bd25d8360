// The child's creation and the wait for it, as the tool's signals require: the child starts with
// the signal state the tool was started with, the signals meant for the child reach it once, and
// none of them ends the tool before it has reported the child's end.
#pragma once

#include <sys/types.h>

// Starts `program` as posix_spawnp does (looked up in PATH when it has no slash), with the signal
// dispositions and mask the tool was started with. Right before, the signals the wait handles are
// held (blocked), so that from the moment the child exists none of them can end the tool; should
// no child start, they act as before. Returns 0, or the errno value of the failure.
int SpawnWithToolSignals(pid_t* pid, const char* program, char* const argv[]);

// Waits until `child` ends and gives its wait status; a stop is no end. Meanwhile SIGHUP, SIGINT,
// SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2 and SIGALRM that another process sent to the tool alone are
// relayed to the child, and SIGPIPE does nothing. Returns 0, or the errno value of the failure.
int WaitRelayingSignals(pid_t child, int* status);
