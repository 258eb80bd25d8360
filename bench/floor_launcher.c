/* The floor for a launcher on Linux: prefer a node, spawn, wait. Nothing less can do the job, so
   the tool is measured against this. Usage: floor_launcher NODE PROGRAM [ARGUMENTS...] */
#include <spawn.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char *argv[]) {
  unsigned long nodes;
  pid_t child;
  int status;
  if (argc < 3) return 1;
  nodes = 1UL << atoi(argv[1]);
  /* 1 is MPOL_PREFERRED; the kernel counts one more than the bits it reads. */
  if (syscall(SYS_set_mempolicy, 1, &nodes, sizeof nodes * 8 + 1) != 0) return 2;
  if (posix_spawnp(&child, argv[2], NULL, NULL, argv + 2, environ) != 0) return 2;
  if (waitpid(child, &status, 0) != child) return 2;
  return 0;
}
