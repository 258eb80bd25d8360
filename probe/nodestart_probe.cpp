// nodestart-probe: writes memory and shows on which NUMA node each page landed, so that anyone
// can see where a preferred node took effect: nodestart 1 nodestart-probe 256. Or shows where a
// running program's pages and threads are: nodestart-probe --pid=PID. Or shows the machine's
// nodes and the devices on each, or the node of one device, to choose a node by.
//   nodestart-probe [--watch=S] [MIB [FILE]]
//   nodestart-probe [--watch=S] --pid=PID       (options in any order)
//   nodestart-probe --nodes
//   nodestart-probe --node-of=DEVICE
//     MIB      memory to write, 256 if not given
//     FILE     gets the report too, for a console that is not at hand (a detached program)
//     --pid    reports the program PID instead of memory of its own
//     --watch  then reads the memory for S seconds (or watches PID), telling every half second
//              where it runs, and where its pages are at the end
//     --nodes  each node's processors, memory, distances and devices
//     --node-of  the node of DEVICE alone (a PCI address, interface, block device, ...)
// Prints the pages per node, the processor and node it started and ran on and, where the system
// says, the processors it may use and its memory policy. Status 0 once it has measured, wherever
// the pages are; 1 for a bad argument; 2 when the system could not tell or the report could not
// be written (the call and its reason on standard error).
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/windows/utf8.h"
#endif

#include "platform/memory_placement.h"
#include "probe/machine_report.h"
#include "probe/probe_size.h"
#include "probe/program_report.h"
#include "probe/report_failure.h"

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
             ": " + std::to_string(count) + (count == 1 ? " page\n" : " pages\n");
  }
  return lines;
}

std::string WhereItRuns() {
  const RunningOn running = Running();
  return "processor " + running.processor +
         (running.node < 0 ? std::string() : ", node " + std::to_string(running.node));
}

// Reads the memory for `seconds`, as a program at work does, and tells every half second where
// it runs, at the time it looked: so that a move from node to node shows.
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
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    lines += "at " + std::to_string(ms.count()) + " ms: " + WhereItRuns() + "\n";
  }
  return lines;
}

#ifdef _WIN32
// Arguments come as UTF-16 on Windows, whatever the code page: UTF-8 here (Utf8), and the report
// file's name back to UTF-16 for the system.
std::FILE* OpenReport(const std::string& path) { return _wfopen(Wide(path).c_str(), L"w"); }
#else
std::FILE* OpenReport(const std::string& path) { return std::fopen(path.c_str(), "w"); }
#endif

struct ProbeArguments {
  std::uint64_t watch_seconds = 0;
  std::uint64_t pid = 0;  // 0: the probe's own memory
  std::uint64_t mib = 256;
  std::vector<std::string> positional;  // MIB and FILE
  bool nodes = false;
  std::string node_of;  // empty: not asked
};

// The options in any order, then MIB and FILE in theirs; false for anything else.
bool Parse(const std::vector<std::string>& arguments, ProbeArguments& parsed) {
  const std::string kWatch = "--watch=";
  const std::string kPid = "--pid=";
  const std::string kNodeOf = "--node-of=";
  bool watch = false;
  bool pid = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.compare(0, kWatch.size(), kWatch) == 0 && !watch) {
      watch = ParseCount(argument.c_str() + kWatch.size(), kMostSeconds, parsed.watch_seconds);
      if (!watch) return false;
    } else if (argument.compare(0, kPid.size(), kPid) == 0 && !pid) {
      pid = ParseCount(argument.c_str() + kPid.size(), 0xFFFFFFFF, parsed.pid);
      if (!pid) return false;
    } else if (argument == "--nodes" && !parsed.nodes) {
      parsed.nodes = true;
    } else if (argument.compare(0, kNodeOf.size(), kNodeOf) == 0 && parsed.node_of.empty()) {
      parsed.node_of = argument.substr(kNodeOf.size());
      if (parsed.node_of.empty()) return false;
    } else if (argument.compare(0, 2, "--") == 0) {
      return false;
    } else {
      parsed.positional.push_back(argument);
    }
  }
  // The machine's reports stand alone: they look at no memory and watch nothing.
  if (parsed.nodes || !parsed.node_of.empty()) {
    return arguments.size() == 2;
  }
  if (pid) return parsed.positional.empty();
  return parsed.positional.size() <= 2 &&
         (parsed.positional.empty() ||
          ParseCount(parsed.positional[0].c_str(), kMostMib, parsed.mib));
}

// `arguments` as given, the program's name first.
int Probe(const std::vector<std::string>& arguments) {
  const std::string started_on = WhereItRuns();
  ProbeArguments parsed;
  if (!Parse(arguments, parsed)) {
    Say("usage: nodestart-probe [--watch=SECONDS] [MIB [FILE]]   (MIB 1 "
        "to 1048576, default 256; SECONDS 1 to 3600)\n"
        "       nodestart-probe [--watch=SECONDS] --pid=PID\n"
        "       nodestart-probe --nodes\n"
        "       nodestart-probe --node-of=DEVICE\n");
    return 1;
  }
  if (parsed.nodes) return ReportMachine();
  if (!parsed.node_of.empty()) return ReportNodeOf(parsed.node_of);
  const std::uint64_t watch_seconds = parsed.watch_seconds;
  const bool watch = watch_seconds > 0;
  const std::uint64_t mib = parsed.mib;
  if (parsed.pid != 0) return ReportProgram(static_cast<unsigned long>(parsed.pid), watch_seconds);
  const std::size_t page = PageSize();
  const auto pages = static_cast<std::size_t>(PagesOf(mib, page));
  PlacementFailure failure;
  unsigned char* memory = FreshPages(pages, failure);
  if (memory == nullptr) return ReportFailure(failure);
  for (std::size_t i = 0; i < pages; ++i) memory[i * page] = 1;
  std::vector<int> nodes;
  if (!NodesOfPages(memory, pages, nodes, failure)) return ReportFailure(failure);

  std::string out = "nodestart-probe: " + std::to_string(mib) + " MiB, " + std::to_string(pages) +
                    " pages of " + std::to_string(page) + " bytes\n" + PagesPerNode(nodes, "") +
                    "started on: " + started_on + "\nran on: " + WhereItRuns() + "\n";
  const std::string processors = AllowedProcessors();
  if (!processors.empty()) out += "may run on processors: " + processors + "\n";
  const std::string policy = MemoryPolicy();
  if (!policy.empty()) out += "memory policy: " + policy + "\n";
  const std::string balancing = KernelNumaBalancing();
  if (!balancing.empty()) out += "kernel NUMA balancing: " + balancing + "\n";
  if (watch) {
    out += Watch(memory, pages, watch_seconds);
    if (!NodesOfPages(memory, pages, nodes, failure)) return ReportFailure(failure);
    out += PagesPerNode(nodes, "at the end, ");
  }
  if (const int status = WriteOut(out)) return status;
  if (parsed.positional.size() == 2) {
    const std::string& path = parsed.positional[1];
    std::FILE* file = OpenReport(path);
    if (file == nullptr) return ReportFailure({"fopen " + path, std::strerror(errno)});
    const bool written = std::fputs(out.c_str(), file) >= 0;
    if (std::fclose(file) != 0 || !written) {
      return ReportFailure({"fclose " + path, std::strerror(errno)});
    }
  }
  return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t* argv[]) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8(argv[i]));
  return Probe(arguments);
}
#else
int main(int argc, char* argv[]) { return Probe({argv, argv + argc}); }
#endif
