#include <sys/syscall.h>
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
