#include "platform/memory_placement.h"

#include <linux/mempolicy.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/memory_policy.h"

namespace {

bool Fail(const char* call, PlacementFailure& failure) {
  failure = {call, std::strerror(errno)};
  return false;
}

}  // namespace

std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

unsigned char* FreshPages(std::size_t pages, PlacementFailure& failure) {
  void* memory =
      mmap(nullptr, pages * PageSize(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory != MAP_FAILED) return static_cast<unsigned char*>(memory);
  Fail("mmap", failure);
  return nullptr;
}

bool NodesOfPages(unsigned char* memory, std::size_t pages, std::vector<int>& nodes,
                  PlacementFailure& failure) {
  std::vector<void*> addresses(pages);
  for (std::size_t i = 0; i < pages; ++i) addresses[i] = memory + i * PageSize();
  // With no target nodes, move_pages moves nothing and tells where each page is.
  nodes.assign(pages, -1);
  if (syscall(SYS_move_pages, 0, pages, addresses.data(), nullptr, nodes.data(), 0) != 0) {
    return Fail("move_pages", failure);
  }
  for (int& node : nodes) node = node < 0 ? -1 : node;  // a page's error: not placed
  return true;
}

RunningOn Running() {
  unsigned processor = 0;
  unsigned node = 0;
  RunningOn running;
  if (syscall(SYS_getcpu, &processor, &node, nullptr) == 0) {
    running.processor = std::to_string(processor);
    running.node = static_cast<int>(node);
  }
  return running;
}

std::string MemoryPolicy() {
  int mode = 0;
  std::vector<unsigned long> nodes;
  if (!GetMemoryPolicy(mode, nodes)) return std::string("unknown (") + std::strerror(errno) + ")";
  return PolicyText(PolicyModeName(mode), nodes, mode);
}

std::string KernelNumaBalancing() {
  std::string mode;
  if (!ReadFirstLine("/proc/sys/kernel/numa_balancing", mode)) {
    const int error = errno;
    // A kernel without NUMA balancing has no such file; a /proc that shows only processes
    // (mounted with subset=pid, as in some containers) has no /proc/sys at all.
    if (access("/proc/sys/kernel", F_OK) == 0 && error == ENOENT) return "";
    if (access("/proc/sys", F_OK) != 0) {
      return "unknown (this /proc has no /proc/sys, as when mounted with subset=pid)";
    }
    return std::string("unknown (") + std::strerror(error) + ")";
  }
  // A mask: 1 balances by where a program runs, 2 by memory tiers.
  if (mode == "0") return "off";
  if (mode == "1") return "on";
  if (mode == "2") return "memory tiering";
  if (mode == "3") return "on, with memory tiering";
  return mode;
}

std::string AllowedProcessors() {
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return "";
  return ListText(CPU_SETSIZE, [&cpus](unsigned long cpu) { return CPU_ISSET(cpu, &cpus); });
}
