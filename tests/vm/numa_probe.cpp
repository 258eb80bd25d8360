// The child for the multi-node machine: allocates and writes the memory it is told, asks the
// kernel on which node each page landed, and prints one line of counts per node, the CPU it runs
// on with that CPU's node, and the memory policy it was started with:
//   probe pages=51200 node0=51200 node1=0 cpu=1 cpunode=1 policy=preferred:0
// Usage: numa_probe MIB [--mark=PATH]; the mark file shows that the probe ran at all.
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/memory_policy_posix.h"

int main(int argc, char* argv[]) {
  if (argc < 2) {
    static_cast<void>(std::fputs("usage: numa_probe MIB [--mark=PATH]\n", stderr));
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    if (std::strncmp(argv[i], "--mark=", 7) == 0) std::ofstream(argv[i] + 7) << "ran\n";
  }
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t count = std::strtoul(argv[1], nullptr, 10) * 1024 * 1024 / page;
  void* memory =
      mmap(nullptr, count * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    std::perror("mmap");
    return 3;
  }
  auto* bytes = static_cast<unsigned char*>(memory);
  std::vector<void*> pages(count);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i * page] = 1;  // the page is placed when first written
    pages[i] = bytes + i * page;
  }
  // With no target nodes, move_pages only tells where each page is.
  std::vector<int> where(count);
  if (syscall(SYS_move_pages, 0, count, pages.data(), nullptr, where.data(), 0) != 0) {
    std::perror("move_pages");
    return 4;
  }
  std::map<int, std::size_t> per_node;
  for (const int node : where) ++per_node[node];
  unsigned cpu = 0;
  unsigned cpu_node = 0;
  syscall(SYS_getcpu, &cpu, &cpu_node, nullptr);
  std::string line = "probe pages=" + std::to_string(count);
  for (const auto& [node, pages_on_node] : per_node) {
    line += (node >= 0 ? " node" + std::to_string(node) : " error" + std::to_string(-node)) + "=" +
            std::to_string(pages_on_node);
  }
  line += " cpu=" + std::to_string(cpu) + " cpunode=" + std::to_string(cpu_node) +
          " policy=" + MemoryPolicyText(":", ",") + "\n";
  return std::fputs(line.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 5 : 0;
}
