#include "probe/program_report.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "platform/program_placement.h"
#include "probe/report_failure.h"

namespace {

std::string Mib(std::uint64_t bytes) {
  char text[32];
  static_cast<void>(
      std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0)));
  return text;
}

std::string NodeName(int node) {
  return node < 0 ? std::string("not placed") : "node " + std::to_string(node);
}

std::string ThreadLine(const ThreadPlace& thread) {
  std::string line = "thread " + std::to_string(thread.id) + ":";
  if (thread.processor >= 0) {
    line += " ran on processor " + std::to_string(thread.processor) +
            (thread.node < 0 ? "" : ", node " + std::to_string(thread.node));
  }
  if (thread.ideal_processor >= 0) {
    line += std::string(thread.processor >= 0 ? ";" : "") + " ideal processor " +
            std::to_string(thread.ideal_processor) +
            (thread.ideal_node < 0 ? "" : ", node " + std::to_string(thread.ideal_node));
  }
  return line + "\n";
}

// The whole report: one "key: value" line each, so that a script can keep it beside its results.
std::string Report(unsigned long pid, const ProgramPlacement& placement) {
  ResidentPages all;
  for (const auto& [node, pages] : placement.pages_by_node) {
    all.pages += pages.pages;
    all.bytes += pages.bytes;
  }
  std::string out = "nodestart-probe: process " + std::to_string(pid) + ", " +
                    std::to_string(all.pages) + " resident pages, " + Mib(all.bytes) + "\n";
  for (const auto& [node, pages] : placement.pages_by_node) {
    char share[16];
    const double percent =
        all.pages == 0 ? 0.0
                       : 100.0 * static_cast<double>(pages.pages) / static_cast<double>(all.pages);
    static_cast<void>(std::snprintf(share, sizeof share, "%.1f%%", percent));
    out += NodeName(node) + ": " + std::to_string(pages.pages) + " pages (" + share + "), " +
           Mib(pages.bytes) + "\n";
  }
  for (const ThreadPlace& thread : placement.threads) out += ThreadLine(thread);
  if (!placement.processors.empty()) out += "may run on processors " + placement.processors + "\n";
  if (!placement.policy.empty()) out += "memory policy: " + placement.policy + "\n";
  const std::string balancing = KernelNumaBalancing();
  if (!balancing.empty()) out += "kernel NUMA balancing: " + balancing + "\n";
  return out;
}

// One line of the watch: how many threads last ran on each node, and the pages on each.
std::string Sample(std::uint64_t ms, const ProgramPlacement& placement) {
  std::map<int, int> threads;
  for (const ThreadPlace& thread : placement.threads) ++threads[thread.node];
  std::string line = "at " + std::to_string(ms) + " ms: threads";
  const char* separator = " ";
  for (const auto& [node, count] : threads) {
    line += separator + NodeName(node) + ": " + std::to_string(count);
    separator = ", ";
  }
  line += "; pages";
  separator = " ";
  for (const auto& [node, pages] : placement.pages_by_node) {
    line += separator + NodeName(node) + ": " + std::to_string(pages.pages);
    separator = ", ";
  }
  return line + "\n";
}

bool Print(const std::string& text) {
  return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

}  // namespace

int ReportProgram(unsigned long pid, std::uint64_t watch_seconds) {
  ProgramPlacement placement;
  PlacementFailure failure;
  if (!LookAtProgram(pid, placement, failure)) return ReportFailure(failure);
  if (!Print(Report(pid, placement))) {
    return ReportFailure({"write to standard output", std::strerror(errno)});
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  for (std::uint64_t half_seconds = 1; half_seconds <= 2 * watch_seconds; ++half_seconds) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(500 * half_seconds));
    // A program that ends while watched has been seen: that is the end of the watch.
    const bool looked = LookAtProgram(pid, placement, failure);
    if (!looked && !failure.ended) return ReportFailure(failure);
    const std::string line = looked ? Sample(half_seconds * 500, placement)
                                    : "at " + std::to_string(half_seconds * 500) + " ms: process " +
                                          std::to_string(pid) + " has ended\n";
    if (!Print(line)) return ReportFailure({"write to standard output", std::strerror(errno)});
    if (!looked) break;
  }
  return 0;
}
