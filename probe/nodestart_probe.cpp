// nodestart-probe: writes memory and shows on which NUMA node each page landed, so that anyone
// can see where a preferred node took effect: nodestart 1 nodestart-probe 256.
//   nodestart-probe [MIB [FILE]]   MIB of memory to write, 256 if not given; the report goes to
//                                  FILE too, as on Windows a child of the tool does not get the
//                                  tool's redirected output
// Prints the pages per node, the processor and node it ran on and, where the system has one, its
// memory policy. Status 0 once it has measured, wherever the pages are; 1 for a bad argument; 2
// when the system could not tell (its reason on standard error).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/memory_placement.h"

namespace {

constexpr unsigned long kMostMib = 1UL << 20;  // a tebibyte

bool ParseMib(const char* text, unsigned long& mib) {
  mib = 0;
  for (const char* digit = text; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || mib > kMostMib) return false;
    mib = mib * 10 + static_cast<unsigned long>(*digit - '0');
  }
  return *text != '\0' && mib > 0 && mib <= kMostMib;
}

int Failed(const PlacementFailure& failure) {
  const std::string line = "nodestart-probe: " + failure.call + ": " + failure.reason + "\n";
  static_cast<void>(std::fputs(line.c_str(), stderr));
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  unsigned long mib = 256;
  if (argc > 3 || (argc >= 2 && !ParseMib(argv[1], mib))) {
    static_cast<void>(std::fputs(
        "usage: nodestart-probe [MIB [FILE]]   (MIB 1 to 1048576, default 256)\n", stderr));
    return 1;
  }
  const std::size_t page = PageSize();
  const std::size_t pages = mib * 1024 * 1024 / page;
  PlacementFailure failure;
  unsigned char* memory = FreshPages(pages, failure);
  if (memory == nullptr) return Failed(failure);
  for (std::size_t i = 0; i < pages; ++i) memory[i * page] = 1;
  std::vector<int> nodes;
  if (!NodesOfPages(memory, pages, nodes, failure)) return Failed(failure);

  std::map<int, std::size_t> per_node;
  for (const int node : nodes) ++per_node[node];
  std::string out = "nodestart-probe: " + std::to_string(mib) + " MiB, " + std::to_string(pages) +
                    " pages of " + std::to_string(page) + " bytes\n";
  for (const auto& [node, count] : per_node) {
    out += (node < 0 ? std::string("not placed") : "node " + std::to_string(node)) + ": " +
           std::to_string(count) + " pages\n";
  }
  const RunningOn running = Running();
  out += "ran on processor " + std::to_string(running.processor) +
         (running.node < 0 ? std::string() : ", node " + std::to_string(running.node)) + "\n";
  const std::string policy = MemoryPolicy();
  if (!policy.empty()) out += "memory policy: " + policy + "\n";
  const bool shown = std::fputs(out.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
  if (argc == 3) {
    std::FILE* file = std::fopen(argv[2], "w");
    if (file == nullptr) return Failed({std::string("fopen ") + argv[2], std::strerror(errno)});
    const bool written = std::fputs(out.c_str(), file) >= 0;
    if (std::fclose(file) != 0 || !written) {
      return Failed({std::string("fclose ") + argv[2], std::strerror(errno)});
    }
  }
  return shown ? 0 : 2;
}
