// A running program seen through /proc: its resident pages per node from numa_maps, its threads'
// last processors from their stat, its policy and processors; the nodes' processors from /sys.
#include "platform/program_placement.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/node_topology.h"
#include "platform/linux/program_maps.h"

namespace {

std::string ProcFile(unsigned long pid, const std::string& name) {
  return "/proc/" + std::to_string(pid) + "/" + name;
}

// Why `pid` could not be read (errno as the read left it), in terms the user can act on.
bool Refused(unsigned long pid, const std::string& call, PlacementFailure& failure) {
  const std::string process = "process " + std::to_string(pid);
  struct stat status = {};
  if (errno == ENOENT || errno == ESRCH || stat(ProcFile(pid, "").c_str(), &status) != 0) {
    failure = {call, "no " + process + " is running (it may have ended during the look)", true};
  } else if (errno == EACCES || errno == EPERM) {
    failure = {call, "not permitted to inspect " + process +
                         ": it is another user's, /proc hides it (hidepid), or ptrace is "
                         "restricted (kernel.yama.ptrace_scope); run the probe as its user or "
                         "as root"};
  } else {
    failure = {call, std::strerror(errno)};
  }
  return false;
}

// The node of each processor, from the nodes' lists of processors.
std::map<int, int> NodesOfProcessors() {
  std::map<int, int> nodes;
  std::string online;
  if (!ReadFirstLine(std::string(kSystemNodes) + "/online", online)) return nodes;
  for (const unsigned long node : NumberList(online, 0xFFFF)) {
    std::string cpus;
    if (!ReadFirstLine(std::string(kSystemNodes) + "/node" + std::to_string(node) + "/cpulist",
                       cpus)) {
      continue;
    }
    for (const unsigned long cpu : NumberList(cpus, 1UL << 20)) {
      nodes[static_cast<int>(cpu)] = static_cast<int>(node);
    }
  }
  return nodes;
}

// The processor a thread ran on last: field 39 of its stat, counted after the name, which may
// hold any byte.
int LastProcessor(const std::string& stat) {
  const std::size_t after_name = stat.rfind(')');
  if (after_name == std::string::npos) return -1;
  const char* at = stat.c_str() + after_name + 1;
  for (int field = 3; field < 39 && at != nullptr; ++field) at = std::strchr(at + 1, ' ');
  return at == nullptr ? -1 : static_cast<int>(std::strtol(at + 1, nullptr, 10));
}

}  // namespace

bool LookAtProgram(unsigned long pid, ProgramPlacement& placement, PlacementFailure& failure) {
  placement = {};
  std::string maps;
  if (!ReadWholeFile(ProcFile(pid, "numa_maps"), maps)) {
    return Refused(pid, "read " + ProcFile(pid, "numa_maps"), failure);
  }
  // A program that has ended leaves its files empty.
  if (maps.empty()) {
    errno = ESRCH;
    return Refused(pid, "read " + ProcFile(pid, "numa_maps"), failure);
  }
  placement.pages_by_node = ResidentPagesByNode(maps);
  placement.policy = PolicyOfProgram(maps);

  const std::map<int, int> nodes = NodesOfProcessors();
  const std::string tasks = ProcFile(pid, "task");
  DIR* folder = opendir(tasks.c_str());
  if (folder == nullptr) return Refused(pid, "opendir " + tasks, failure);
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    std::string stat;
    if (!ReadWholeFile(tasks + "/" + entry->d_name + "/stat", stat)) continue;  // it ended
    ThreadPlace thread;
    thread.id = std::strtoul(entry->d_name, nullptr, 10);
    thread.processor = LastProcessor(stat);
    const auto node = nodes.find(thread.processor);
    if (node != nodes.end()) thread.node = node->second;
    placement.threads.push_back(thread);
  }
  closedir(folder);
  if (placement.threads.empty()) {
    errno = ESRCH;
    return Refused(pid, "read " + tasks, failure);
  }

  std::string status;
  if (ReadWholeFile(ProcFile(pid, "status"), status)) {
    const std::string key = "\nCpus_allowed_list:\t";
    const std::size_t at = status.find(key);
    if (at != std::string::npos) {
      const std::size_t from = at + key.size();
      placement.processors = status.substr(from, status.find('\n', from) - from);
    }
  }
  return true;
}
