#include "platform/linux/program_maps.h"

#include <linux/mempolicy.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/memory_policy.h"

namespace {

// The next word of `line` from `at` on, which moves past it.
std::string_view NextWord(std::string_view line, std::size_t& at) {
  while (at < line.size() && line[at] == ' ') ++at;
  const std::size_t from = at;
  while (at < line.size() && line[at] != ' ') ++at;
  return line.substr(from, at - from);
}

std::uint64_t Number(std::string_view text) {
  std::uint64_t number = 0;
  std::from_chars(text.data(), text.data() + text.size(), number);
  return number;
}

// The policy's words after the address: two for "prefer (many)=..." and "weighted interleave".
std::string_view ModeWords(std::string_view line, std::size_t& at) {
  NextWord(line, at);  // the address
  while (at < line.size() && line[at] == ' ') ++at;
  const std::size_t from = at;
  const std::string_view mode = NextWord(line, at);
  if (mode == "prefer" || mode == "weighted") {
    std::size_t next = at;
    const std::string_view second = NextWord(line, next);
    if (second.rfind("(many)", 0) == 0 || second.rfind("interleave", 0) == 0) at = next;
  }
  return line.substr(from, at - from);
}

// The kernel's name of a mode, as MemoryPolicy() names it.
std::string ModeName(std::string_view mode) {
  if (mode == "prefer") return "preferred";
  if (mode == "prefer (many)") return "preferred-many";
  if (mode == "weighted interleave") return "weighted-interleave";
  return std::string(mode);  // default, bind, interleave, local
}

// "prefer (many)=static|balancing:0-1" as the probe says it: "preferred-many 0,1 with static
// nodes and NUMA balancing".
std::string PolicyName(std::string_view policy) {
  const std::size_t nodes_at = policy.find(':');
  const std::string_view head = policy.substr(0, nodes_at);
  const std::size_t flags_at = std::min(head.find('='), head.size());
  const std::string_view flags = head.substr(flags_at);
  const auto has = [flags](std::string_view flag) {
    return flags.find(flag) != std::string_view::npos;
  };
  return PolicyText(
      ModeName(head.substr(0, flags_at)),
      nodes_at == std::string_view::npos ? std::vector<unsigned long>()
                                         : NodeNumbers(std::string(policy.substr(nodes_at + 1))),
      (has("static") ? MPOL_F_STATIC_NODES : 0) | (has("relative") ? MPOL_F_RELATIVE_NODES : 0) |
          (has("balancing") ? MPOL_F_NUMA_BALANCING : 0));
}

// A line's address and policy: "55a65ff20000 bind:1".
std::string_view AddressAndPolicy(std::string_view line) {
  std::size_t at = 0;
  const std::string_view mode = ModeWords(line, at);
  return line.substr(0, mode.empty() ? 0 : at);  // `at` is past the policy
}

}  // namespace

void NumaMapsTally::Take(std::string_view part) {
  for (std::size_t end = part.find('\n'); end != std::string_view::npos; end = part.find('\n')) {
    if (partial_.empty()) {
      TakeLine(part.substr(0, end));
    } else {
      partial_.append(part.substr(0, end));
      TakeLine(partial_);
      partial_.clear();
    }
    part.remove_prefix(end + 1);
  }
  partial_.append(part);
}

void NumaMapsTally::TakeLine(std::string_view line) {
  std::size_t at = 0;
  const std::string_view mode = ModeWords(line, at);
  if (mode.empty()) return;
  if (first_mode_.empty()) first_mode_ = mode;
  // Few policies in a program: a short list of where each is first seen.
  if (std::none_of(first_lines_.begin(), first_lines_.end(),
                   [mode](const auto& seen) { return seen.first == mode; })) {
    first_lines_.emplace_back(mode, lines_);
  }
  ++lines_;
  std::uint64_t page_bytes = 4096;
  // A few nodes per mapping: a small list, not a map, keeps the walk cheap.
  std::vector<std::pair<int, std::uint64_t>> counts;
  for (std::string_view word = NextWord(line, at); !word.empty(); word = NextWord(line, at)) {
    if (word == "stack") {
      stack_mode_ = mode;
    } else if (file_mode_.empty() && !program_file_.empty() && word.rfind("file=", 0) == 0 &&
               word.substr(5) == program_file_) {
      file_mode_ = mode;
    } else if (word.rfind("kernelpagesize_kB=", 0) == 0) {
      page_bytes = Number(word.substr(18)) * 1024;
    } else if (word.size() > 3 && word[0] == 'N' && word[1] >= '0' && word[1] <= '9') {
      const std::size_t equals = word.find('=');
      if (equals == std::string_view::npos) continue;
      counts.emplace_back(static_cast<int>(Number(word.substr(1, equals - 1))),
                          Number(word.substr(equals + 1)));
    }
  }
  for (const auto& [node, pages] : counts) pages_by_node_[node].Add(page_bytes, pages);
}

std::string NumaMapsTally::Policy() const {
  return PolicyName(!file_mode_.empty()   ? file_mode_
                    : stack_mode_.empty() ? first_mode_
                                          : stack_mode_);
}

std::size_t NumaMapsTally::PolicyLine() const {
  const std::string& own = !file_mode_.empty()   ? file_mode_
                           : stack_mode_.empty() ? first_mode_
                                                 : stack_mode_;
  for (const auto& [mode, line] : first_lines_) {
    if (mode == own) return line;
  }
  return 0;
}

std::string MappingPolicy(std::string_view numa_maps, std::size_t line) {
  for (; line > 0; --line) {
    const std::size_t end = numa_maps.find('\n');
    if (end == std::string_view::npos) return {};
    numa_maps.remove_prefix(end + 1);
  }
  // A line cut short will do once a word follows its policy.
  const std::size_t end = numa_maps.find('\n');
  if (end == std::string_view::npos && std::count(numa_maps.begin(), numa_maps.end(), ' ') < 3) {
    return {};
  }
  return std::string(AddressAndPolicy(numa_maps.substr(0, end)));
}

std::string OwnPolicy(const std::string& own, const std::string& program) {
  const std::size_t space = own.find(' ');
  if (space == std::string::npos || own == program) return {};
  const std::size_t address = space + 1;
  if (program.compare(0, address, own, 0, address) != 0) return {};
  return PolicyName(std::string_view(own).substr(address));
}
