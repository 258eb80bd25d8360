// A running program seen through its folder in /proc, held open so that every look is at the
// same program: its resident pages per node from numa_maps, read as it comes; each thread's last
// processor, and its processors and policy where they differ from the program's; the nodes'
// processors from /sys.
#include "platform/program_placement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/node_facts.h"
#include "platform/linux/program_maps.h"

namespace {

constexpr unsigned long kKernelThread = 0x00200000;  // PF_KTHREAD in a task's flags

std::string ProcessName(unsigned long pid) { return "process " + std::to_string(pid); }

bool Ended(unsigned long pid, const std::string& call, PlacementFailure& failure) {
  failure = {call, "no " + ProcessName(pid) + " is running (it may have ended during the look)",
             true};
  return false;
}

// Field `number` of a stat, as proc(5) numbers them, from 3 on; 0 where it is not there.
unsigned long StatNumber(const std::vector<std::string>& fields, std::size_t number) {
  return number - 3 < fields.size() ? std::strtoul(fields[number - 3].c_str(), nullptr, 10) : 0;
}

// Why the program behind `folder` may not be read, as far as its files tell.
std::string WhyRefused(int folder, unsigned long pid) {
  const std::string process = ProcessName(pid);
  if (geteuid() == 0) {
    return "not permitted to inspect " + process +
           ", even as root: a security module (AppArmor, SELinux) or the container's limits (no "
           "CAP_SYS_PTRACE) refuse it";
  }
  std::string status;
  if (!ReadWholeFile(folder, "status", status)) {
    return "not permitted to inspect " + process +
           ": /proc hides other users' programs from this user (mounted with hidepid); run the "
           "probe as its user, or as root";
  }
  const std::vector<unsigned long> users = NumberList(StatusValue(status, "Uid"), ~0UL);
  for (const unsigned long user : users) {
    if (user != getuid()) {
      return "not permitted to inspect " + process + ": it runs as another user (uid " +
             std::to_string(users.size() > 1 ? users[1] : user) +
             "); run the probe as that user, or as root";
    }
  }
  // The kernel gives the files of a process that is not dumpable to root.
  struct stat owner = {};
  if (fstatat(folder, "stat", &owner, 0) == 0 && owner.st_uid == 0) {
    return "not permitted to inspect " + process +
           ": it made itself not dumpable (as ssh-agent and programs that change user do), which "
           "only root may look past; run the probe as root";
  }
  return "not permitted to inspect " + process +
         ": it holds groups or capabilities this user lacks; run the probe as root";
}

// A read of `name` that failed, in terms the user can act on.
bool Refused(const OpenedProgram& program, const std::string& name, PlacementFailure& failure) {
  const std::string call = "read /proc/" + std::to_string(program.pid) + "/" + name;
  if (errno == ENOENT || errno == ESRCH) return Ended(program.pid, call, failure);
  if (errno == EACCES || errno == EPERM) {
    failure = {call, WhyRefused(static_cast<int>(program.handle), program.pid)};
  } else {
    failure = {call, std::strerror(errno)};
  }
  return false;
}

// The node of each processor, from the nodes' lists of processors.
std::map<int, int> NodesOfProcessors() {
  const NodeFacts facts;
  std::map<int, int> nodes;
  std::string online;
  facts.Online(online);
  for (const unsigned long node : NodeNumbers(online)) {
    std::string cpus;
    facts.Cpus(node, cpus);
    for (const unsigned long cpu : NumberList(cpus, 1UL << 20)) {
      nodes[static_cast<int>(cpu)] = static_cast<int>(node);
    }
  }
  return nodes;
}

}  // namespace

OpenedProgram::~OpenedProgram() {
  if (handle >= 0) close(static_cast<int>(handle));
}

bool OpenProgram(unsigned long pid, OpenedProgram& program, PlacementFailure& failure) {
  program.pid = pid;
  const std::string path = "/proc/" + std::to_string(pid);
  const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int error = errno;
  if (folder >= 0) {
    program.handle = folder;
    // A thread's number opens its folder too: the program is the one it belongs to.
    std::string status;
    const unsigned long group = ReadWholeFile(folder, "status", status)
                                    ? std::strtoul(StatusValue(status, "Tgid").c_str(), nullptr, 10)
                                    : pid;
    if (group == pid || group == 0) return true;
    close(folder);
    program.handle = -1;
    return OpenProgram(group, program, failure);
  }
  // A program /proc does not show (hidepid=2), or shows but keeps closed (hidepid=1), may still
  // run: the kernel knows it.
  if ((error == ENOENT || error == EPERM || error == EACCES) && pid <= 0x7FFFFFFF &&
      (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
    failure = {"open " + path, ProcessName(pid) +
                                   " runs, but /proc hides it from this user (mounted with "
                                   "hidepid); run the probe as its user, or as root"};
    return false;
  }
  if (error == ENOENT) return Ended(pid, "open " + path, failure);
  failure = {"open " + path, std::strerror(error)};
  return false;
}

bool LookAtProgram(const OpenedProgram& program, ProgramPlacement& placement,
                   PlacementFailure& failure) {
  placement = {};
  const int folder = static_cast<int>(program.handle);
  std::vector<std::string> ids;
  // In the kernel's order: the first thread first.
  if (!ReadFolder(folder, "task", ids)) return Refused(program, "task", failure);

  // Each thread that runs, with the start of its numa_maps: its mappings without a policy of
  // their own show its own policy. A first thread that left (pthread_exit) keeps its place in
  // /proc, without memory.
  const std::map<int, int> nodes = NodesOfProcessors();
  std::vector<std::vector<std::string>> policies;
  std::vector<std::string> kinds;            // each thread's processors and policies
  std::map<std::string, std::size_t> alike;  // how many threads share them
  std::string first_thread_processors;       // kept by a first thread that left, too
  for (const std::string& id : ids) {
    std::vector<std::string> stat;
    std::string status;
    std::string maps;
    if (!ReadStatFields(folder, "task/" + id + "/stat", stat) ||
        !ReadWholeFile(folder, "task/" + id + "/status", status)) {
      continue;
    }
    if (id == ids.front()) first_thread_processors = StatusValue(status, "Cpus_allowed_list");
    // Ended, waiting to be collected: a first thread that left keeps its place.
    if (stat.empty() || stat[0][0] == 'Z' || stat[0][0] == 'X') continue;
    ReadParts(folder, "task/" + id + "/numa_maps", 4096,
              [&](std::string_view part) { maps.append(part); });
    if (placement.threads.empty()) {
      placement.kernel_thread = (StatNumber(stat, 9) & kKernelThread) != 0;
    }
    ThreadPlace thread;
    thread.id = std::strtoul(id.c_str(), nullptr, 10);
    thread.processor = static_cast<int>(StatNumber(stat, 39));
    const auto node = nodes.find(thread.processor);
    if (node != nodes.end()) thread.node = node->second;
    thread.own_processors = StatusValue(status, "Cpus_allowed_list");
    placement.threads.push_back(thread);
    policies.push_back(MappingPolicies(maps));
    kinds.push_back(thread.own_processors);
    for (const std::string& policy : policies.back()) kinds.back() += "\n" + policy;
    ++alike[kinds.back()];
  }
  if (placement.threads.empty()) {
    errno = ESRCH;  // every thread gone, or only the first, waiting to be collected
    return Refused(program, ids.empty() ? "task" : "task/" + ids.front() + "/stat", failure);
  }

  // The program's processors and policy are what most of its threads share; where as many share
  // others, those of the first thread, or the processors it had. Its memory is seen through a
  // thread of that kind.
  std::size_t first = 0;
  for (std::size_t i = 1; i < kinds.size(); ++i) {
    const auto& processors = [&](std::size_t thread) -> const std::string& {
      return placement.threads[thread].own_processors;
    };
    if (alike[kinds[i]] > alike[kinds[first]] ||
        (alike[kinds[i]] == alike[kinds[first]] && processors(first) != first_thread_processors &&
         processors(i) == first_thread_processors)) {
      first = i;
    }
  }
  const std::string name = "task/" + std::to_string(placement.threads[first].id) + "/numa_maps";
  NumaMapsTally tally;
  if (!ReadParts(folder, name, ~std::size_t{0}, [&](std::string_view part) { tally.Take(part); })) {
    if (errno != ENOENT || access("/proc/self/numa_maps", F_OK) == 0) {
      return Refused(program, name, failure);
    }
    placement.not_seen = "memory per node, as this kernel has no NUMA support (no numa_maps)";
  } else if (tally.Empty() && !placement.kernel_thread) {
    errno = ESRCH;  // a program that is ending has let its memory go
    return Refused(program, name, failure);
  }
  placement.pages_by_node = tally.PagesByNode();
  placement.policy = tally.Policy();
  placement.processors = placement.threads[first].own_processors;
  for (std::size_t i = 0; i < placement.threads.size(); ++i) {
    ThreadPlace& thread = placement.threads[i];
    if (thread.own_processors == placement.processors) thread.own_processors.clear();
    thread.own_policy = OwnPolicy(policies[i], policies[first]);
  }
  return true;
}
