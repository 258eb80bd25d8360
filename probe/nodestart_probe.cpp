// nodestart-probe: writes memory and shows on which NUMA node each page landed, so that anyone
// can see where a preferred node took effect: nodestart 1 nodestart-probe 256.
//   nodestart-probe [--watch=S] [MIB [FILE]]
//     MIB      memory to write, 256 if not given
//     FILE     gets the report too, for a console that is not at hand (a detached program)
//     --watch  then reads the memory for S seconds, telling every half second where it runs,
//              and where its pages are at the end
// Prints the pages per node, the processor and node it started and ran on and, where the system
// says, the processors it may use and its memory policy. Status 0 once it has measured, wherever
// the pages are; 1 for a bad argument; 2 when the system could not tell (its reason on standard
// error).
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/memory_placement.h"
#include "probe/probe_size.h"

namespace {

constexpr std::uint64_t kMostSeconds = 3600;

// A whole number from 1 to `most`.
bool ParseCount(const char* text, std::uint64_t most, std::uint64_t& count) {
  count = 0;
  for (const char* digit = text; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || count > most) return false;
    count = count * 10 + static_cast<std::uint64_t>(*digit - '0');
  }
  return *text != '\0' && count > 0 && count <= most;
}

// The pages per node, as the report gives them, each line after `before`.
std::string PagesPerNode(const std::vector<int>& nodes, const std::string& before) {
  std::map<int, std::size_t> per_node;
  for (const int node : nodes) ++per_node[node];
  std::string lines;
  for (const auto& [node, count] : per_node) {
    lines += before + (node < 0 ? std::string("not placed") : "node " + std::to_string(node)) +
             ": " + std::to_string(count) + " pages\n";
  }
  return lines;
}

std::string WhereItRuns() {
  const RunningOn running = Running();
  return "processor " + std::to_string(running.processor) +
         (running.node < 0 ? std::string() : ", node " + std::to_string(running.node));
}

// Reads the memory for `seconds`, as a program at work does, and tells every half second where
// it runs: so that a move from node to node shows.
std::string Watch(const unsigned char* memory, std::size_t pages, std::uint64_t seconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const volatile unsigned char* bytes = memory;  // read for real: no read may be left out
  const std::size_t page = PageSize();
  std::string lines;
  for (std::uint64_t half_seconds = 1; half_seconds <= 2 * seconds; ++half_seconds) {
    const Clock::time_point next = start + std::chrono::milliseconds(500 * half_seconds);
    while (Clock::now() < next) {
      for (std::size_t i = 0; i < pages; ++i) static_cast<void>(bytes[i * page]);
    }
    lines += "at " + std::to_string(half_seconds * 500) + " ms: " + WhereItRuns() + "\n";
  }
  return lines;
}

int Failed(const PlacementFailure& failure) {
  const std::string line = "nodestart-probe: " + failure.call + ": " + failure.reason + "\n";
  static_cast<void>(std::fputs(line.c_str(), stderr));
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string started_on = WhereItRuns();
  std::uint64_t watch_seconds = 0;
  const char kWatch[] = "--watch=";
  const bool watch = argc >= 2 && std::strncmp(argv[1], kWatch, sizeof kWatch - 1) == 0;
  char** const arguments = argv + (watch ? 1 : 0);
  const int count = argc - (watch ? 1 : 0);
  std::uint64_t mib = 256;
  if (count > 3 ||
      (watch && !ParseCount(argv[1] + sizeof kWatch - 1, kMostSeconds, watch_seconds)) ||
      (count >= 2 && !ParseCount(arguments[1], kMostMib, mib))) {
    static_cast<void>(
        std::fputs("usage: nodestart-probe [--watch=SECONDS] [MIB [FILE]]   (MIB 1 "
                   "to 1048576, default 256; SECONDS 1 to 3600)\n",
                   stderr));
    return 1;
  }
  const std::size_t page = PageSize();
  const auto pages = static_cast<std::size_t>(PagesOf(mib, page));
  PlacementFailure failure;
  unsigned char* memory = FreshPages(pages, failure);
  if (memory == nullptr) return Failed(failure);
  for (std::size_t i = 0; i < pages; ++i) memory[i * page] = 1;
  std::vector<int> nodes;
  if (!NodesOfPages(memory, pages, nodes, failure)) return Failed(failure);

  std::string out = "nodestart-probe: " + std::to_string(mib) + " MiB, " + std::to_string(pages) +
                    " pages of " + std::to_string(page) + " bytes\n" + PagesPerNode(nodes, "") +
                    "started on " + started_on + "\nran on " + WhereItRuns() + "\n";
  const std::string processors = AllowedProcessors();
  if (!processors.empty()) out += "may run on processors " + processors + "\n";
  const std::string policy = MemoryPolicy();
  if (!policy.empty()) out += "memory policy: " + policy + "\n";
  if (watch) {
    out += Watch(memory, pages, watch_seconds);
    if (!NodesOfPages(memory, pages, nodes, failure)) return Failed(failure);
    out += PagesPerNode(nodes, "at the end, ");
  }
  const bool shown = std::fputs(out.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
  if (count == 3) {
    std::FILE* file = std::fopen(arguments[2], "w");
    if (file == nullptr)
      return Failed({std::string("fopen ") + arguments[2], std::strerror(errno)});
    const bool written = std::fputs(out.c_str(), file) >= 0;
    if (std::fclose(file) != 0 || !written) {
      return Failed({std::string("fclose ") + arguments[2], std::strerror(errno)});
    }
  }
  return shown ? 0 : 2;
}
