// What the system says, as the tool prints it, for the expected outputs of the end-to-end tests.
#pragma once

#include <string>

// The system's own text for an error code (an errno value on POSIX), line break included.
std::string SystemText(unsigned long code);

#ifdef _WIN32
bool UnderWine();
#else
// Whether the system sets memory policies, which the tool needs to start any child. qemu-user,
// which runs the cross-built tests, has none.
bool MemoryPoliciesWork();

// The policy the tool sets for a preferred node, as the probes name it: "preferred-many+balancing"
// where the kernel takes NUMA balancing with it (Linux 6.10 on), else "preferred".
std::string PreferredPolicyName();

#define SKIP_WITHOUT_MEMORY_POLICIES()                                                      \
  if (!MemoryPoliciesWork())                                                                \
  GTEST_SKIP() << "no memory policies here (qemu-user has no set_mempolicy): the tool can " \
                  "start no child"
#endif
