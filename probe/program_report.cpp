#include "probe/program_report.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/program_placement.h"
#include "probe/probe_size.h"
#include "probe/report_failure.h"
#include "probe/shares.h"

namespace {

// "4 KiB", "2 MiB", "1 GiB": a page size as page sizes are named.
std::string SizeName(std::uint64_t bytes) {
  const char* const units[] = {"bytes", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (unit < 3 && bytes >= 1024 && bytes % 1024 == 0) {
    bytes /= 1024;
    ++unit;
  }
  return std::to_string(bytes) + " " + units[unit];
}

// "16384 pages of 4 KiB and 1 page of 2 MiB".
std::string PagesText(const ResidentPages& pages) {
  std::string text;
  for (const auto& [size, count] : pages.pages_by_size) {
    text += (text.empty() ? "" : " and ") + std::to_string(count) +
            (count == 1 ? " page" : " pages") + " of " + SizeName(size);
  }
  return text;
}

ResidentPages AllPages(const ProgramPlacement& placement) {
  ResidentPages all;
  for (const auto& [node, pages] : placement.pages_by_node) {
    for (const auto& [size, count] : pages.pages_by_size) all.Add(size, count);
  }
  return all;
}

// Each node's share of the memory, as "50.3%", in the order of the nodes.
std::vector<std::string> Shares(const ProgramPlacement& placement) {
  std::vector<std::uint64_t> bytes;
  for (const auto& [node, pages] : placement.pages_by_node) bytes.push_back(pages.bytes);
  std::vector<std::string> shares;
  for (const unsigned tenths : TenthsOfPercent(bytes)) {
    shares.push_back(std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%");
  }
  return shares;
}

std::string NodeName(int node) {
  return node < 0 ? std::string("not placed") : "node " + std::to_string(node);
}

std::string ThreadLine(const ThreadPlace& thread) {
  std::string line = "thread " + std::to_string(thread.id) + ": ";
  if (thread.processor >= 0) {
    line += "ran on processor " + std::to_string(thread.processor) +
            (thread.node < 0 ? "" : ", node " + std::to_string(thread.node));
  } else if (thread.ideal_processor >= 0) {
    // Numbered in its group, as Windows numbers processors.
    line += "ideal processor " + std::to_string(thread.ideal_group) + ":" +
            std::to_string(thread.ideal_processor) +
            (thread.ideal_node < 0 ? "" : ", node " + std::to_string(thread.ideal_node));
  } else {
    line += "processor not known";
  }
  if (!thread.own_processors.empty()) line += "; may run on processors " + thread.own_processors;
  if (!thread.own_policy.empty()) line += "; memory policy " + thread.own_policy;
  return line + "\n";
}

// The whole report: one "key: value" line each, so that a script can keep it beside its results.
std::string Report(unsigned long pid, const ProgramPlacement& placement) {
  const ResidentPages all = AllPages(placement);
  std::string out = "nodestart-probe: process " + std::to_string(pid);
  if (placement.kernel_thread) {
    out += ", a kernel thread, without memory of its own";
  } else if (placement.not_seen.empty()) {
    out +=
        ", " + BytesText(all.bytes) + " resident" + (all.bytes == 0 ? "" : " in " + PagesText(all));
  }
  out += "\n";
  if (!placement.not_seen.empty()) out += "not seen: " + placement.not_seen + "\n";
  if (placement.not_seen.empty() && !placement.threads_not_seen.empty()) {
    out += "not seen: " + placement.threads_not_seen + "\n";
  }
  const std::vector<std::string> shares = Shares(placement);
  std::size_t i = 0;
  for (const auto& [node, pages] : placement.pages_by_node) {
    out += NodeName(node) + ": " + BytesText(pages.bytes) + " (" + shares[i++] + ") in " +
           PagesText(pages) + "\n";
  }
  for (const ThreadPlace& thread : placement.threads) out += ThreadLine(thread);
  if (!placement.processors.empty()) {
    out += "may run on processors: " + placement.processors + "\n";
  }
  if (!placement.policy.empty()) out += "memory policy: " + placement.policy + "\n";
  const std::string balancing = KernelNumaBalancing();
  if (!balancing.empty()) out += "kernel NUMA balancing: " + balancing + "\n";
  return out;
}

// One line of the watch: how many threads are on each node (where they last ran, or on Windows
// their ideal node), and the memory on each.
std::string Sample(long long ms, const ProgramPlacement& placement) {
  std::map<int, int> threads;
  bool ideal = false;
  for (const ThreadPlace& thread : placement.threads) {
    ideal = thread.processor < 0;
    ++threads[ideal ? thread.ideal_node : thread.node];
  }
  std::string line = "at " + std::to_string(ms) + " ms: threads";
  const char* separator = " ";
  for (const auto& [node, count] : threads) {
    line += separator + std::to_string(count) + (ideal ? " with ideal " : " on ") +
            (node < 0 ? std::string("node not known") : "node " + std::to_string(node));
    separator = ", ";
  }
  line += "; memory";
  if (!placement.not_seen.empty()) {
    line += " not seen";
  } else if (placement.pages_by_node.empty()) {
    line += " none";
  }
  const std::vector<std::string> shares = Shares(placement);
  separator = " ";
  std::size_t i = 0;
  for (const auto& [node, pages] : placement.pages_by_node) {
    line += separator + BytesText(pages.bytes) + (node < 0 ? " " : " on ") + NodeName(node) + " (" +
            shares[i++] + ")";
    separator = ", ";
  }
  return line + "\n";
}

}  // namespace

int ReportProgram(unsigned long pid, std::uint64_t watch_seconds) {
  OpenedProgram program;
  ProgramPlacement placement;
  PlacementFailure failure;
  if (!OpenProgram(pid, program, failure) || !LookAtProgram(program, placement, failure)) {
    return ReportFailure(failure);
  }
  pid = program.pid;  // the program a thread's number named
  if (const int status = WriteOut(Report(pid, placement))) return status;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::seconds(watch_seconds);
  constexpr std::chrono::milliseconds kHalfSecond(500);
  int status = 0;
  for (long long tick = 1; start + tick * kHalfSecond <= end; ++tick) {
    std::this_thread::sleep_until(start + tick * kHalfSecond);
    // Labelled with the time it was taken: a slow look makes the watch skip half seconds.
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // A program that ends while watched has been seen: that is the end of the watch. One that
    // changed too fast to be seen whole is watched on, and the watch ends with status 2.
    const bool looked = LookAtProgram(program, placement, failure);
    if (!looked && !failure.ended && !failure.changed) return ReportFailure(failure);
    const std::string at = "at " + std::to_string(ms) + " ms: ";
    const std::string process = "process " + std::to_string(pid);
    const std::string line = looked          ? Sample(ms, placement)
                             : failure.ended ? at + process + " has ended\n"
                                             : at + process + " changed during the look\n";
    if (const int written = WriteOut(line)) return written;
    if (!looked && failure.ended) break;
    if (!looked) status = 2;
    tick = std::max(tick, static_cast<long long>((Clock::now() - start) / kHalfSecond));
  }
  return status;
}
