#include <linux/mempolicy.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/system_facts.h"

std::string SystemText(unsigned long code) {
  return std::string(std::strerror(static_cast<int>(code))) + "\n";
}

bool MemoryPoliciesWork() {
  int mode = 0;
  return syscall(SYS_get_mempolicy, &mode, nullptr, 0UL, nullptr, 0UL) == 0 || errno != ENOSYS;
}

std::string PreferredPolicyName() {
  const pid_t trial = fork();  // asked in a process of its own, which keeps what it is given
  if (trial == 0) {
    const unsigned long node_0 = 1;
    _exit(syscall(SYS_set_mempolicy, MPOL_PREFERRED_MANY | MPOL_F_NUMA_BALANCING, &node_0, 2UL) == 0
              ? 0
              : 1);
  }
  int status = 1;
  waitpid(trial, &status, 0);
  return status == 0 ? "preferred-many+balancing" : "preferred";
}
