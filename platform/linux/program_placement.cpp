// A running program seen through its folder in /proc, held open so that every look is at the
// same program: its resident pages per node from numa_maps, read once a look as it comes, and
// checked against the resident size the kernel counts; each thread's last processor, and its
// processors and policy where they differ from the program's, at the cost of one line a thread;
// the nodes' processors from /sys.
#include "platform/program_placement.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/node_facts.h"
#include "platform/linux/program_maps.h"

namespace {

constexpr unsigned long kKernelThread = 0x00200000;  // PF_KTHREAD in a task's flags
constexpr unsigned long kExiting = 0x00000004;       // PF_EXITING: it has begun to end

std::string ProcessName(unsigned long pid) { return "process " + std::to_string(pid); }

bool Ended(unsigned long pid, const std::string& call, PlacementFailure& failure) {
  failure = {call, "no " + ProcessName(pid) + " is running (it may have ended during the look)",
             true};
  return false;
}

// The first of a status line's real, effective and saved ids ("1000\t0\t0\t0", tabs between)
// that is not `own`, the effective first: what a set-user-ID program takes from its file. Empty
// where all three are `own`, as the kernel wants of a user who looks.
std::string OtherId(const std::string& value, unsigned long own) {
  unsigned long ids[3] = {own, own, own};
  const char* at = value.c_str();
  for (unsigned long& id : ids) {
    char* end = nullptr;
    const unsigned long read = std::strtoul(at, &end, 10);
    if (end == at) break;
    id = read;
    at = end;
  }
  for (const unsigned long id : {ids[1], ids[0], ids[2]}) {
    if (id != own) return std::to_string(id);
  }
  return {};
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
  const std::string user = OtherId(StatusValue(status, "Uid"), getuid());
  if (!user.empty()) {
    return "not permitted to inspect " + process + ": it runs as another user (uid " + user +
           "); run the probe as that user, or as root";
  }
  const std::string group = OtherId(StatusValue(status, "Gid"), getgid());
  if (!group.empty()) {
    return "not permitted to inspect " + process + ": it runs as another group (gid " + group +
           "); run the probe as root";
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
  if (error == ENOENT) {
    failure = {"open " + path, "no " + ProcessName(pid) + " is running", true};
    return false;
  }
  failure = {"open " + path, std::strerror(error)};
  return false;
}

namespace {

constexpr int kMostLooks = 4;  // looks at a program that changes as it is read, before saying so
// Lines of each thread's numa_maps read at most to find its policy: beyond, a look would cost
// threads times mappings.
constexpr std::size_t kMostPolicyLines = 64;

// The address and policy on line `line` of a numa_maps, as MappingPolicy gives them, read in
// small parts and no further: the kernel walks the pages of each mapping whose line it writes,
// and writes more lines into a larger read (a sanitizer's shadow of terabytes among them). Empty
// where the thread has gone.
std::string PolicyOnLine(int folder, const std::string& name, std::size_t line) {
  std::string text;
  std::string policy;
  const int file = openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return policy;
  char part[32];
  for (ssize_t got = 0; policy.empty() && (got = read(file, part, sizeof part)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(part, static_cast<std::size_t>(got));
    policy = MappingPolicy(text, line);
  }
  close(file);
  return policy;
}

enum class MapsRead { kWhole, kCutShort, kFailed };

// The whole numa_maps `name`, taken by `tally`. Where the program's memory goes as it is read (it
// started another program, or ended), the kernel ends the file early: from its start, it then
// reads empty. kFailed: errno says why.
MapsRead ReadAllMaps(int folder, const std::string& name, NumaMapsTally& tally) {
  const int file = openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return MapsRead::kFailed;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(file, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    tally.Take(std::string_view(buffer, static_cast<std::size_t>(got)));
  }
  const int error = errno;
  bool whole = got == 0;
  if (whole && !tally.Empty()) {
    whole = lseek(file, 0, SEEK_SET) == 0 && read(file, buffer, 1) == 1;
  }
  close(file);
  errno = error;
  return got < 0 ? MapsRead::kFailed : whole ? MapsRead::kWhole : MapsRead::kCutShort;
}

// A program's resident size as the kernel counts it, its hugetlbfs pages with it, from a thread's
// status; false where it has no memory.
bool ResidentBytes(int folder, const std::string& task, std::uint64_t& bytes) {
  std::string status;
  if (!ReadWholeFile(folder, task + "/status", status)) return false;
  const std::string resident = StatusValue(status, "VmRSS");
  if (resident.empty()) return false;
  bytes = (std::strtoull(resident.c_str(), nullptr, 10) +
           std::strtoull(StatusValue(status, "HugetlbPages").c_str(), nullptr, 10)) *
          1024;
  return true;
}

// How far the kernel's count of resident memory may be from the pages a look found, for a program
// of `threads` threads that had at most `most` bytes: it keeps its counts per processor (Linux
// 6.2 on) or per thread (before) and adds them up late; and a running program changes a little
// between the counts and the read.
std::uint64_t Slack(std::uint64_t most, std::size_t threads) {
  const std::uint64_t processors = static_cast<std::uint64_t>(sysconf(_SC_NPROCESSORS_CONF));
  std::uint64_t pages = processors * std::max<std::uint64_t>(32, 2 * processors);
  utsname system = {};
  char* dot = nullptr;
  const unsigned long major = uname(&system) == 0 ? std::strtoul(system.release, &dot, 10) : 0;
  const unsigned long minor =
      dot != nullptr && *dot == '.' ? std::strtoul(dot + 1, nullptr, 10) : 0;
  if (major < 6 || (major == 6 && minor < 2)) {
    pages += 64 * threads;
  }
  return most / 64 + (std::uint64_t{1} << 20) + 3 * pages * PageSize();
}

std::string MiB(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// The processors each thread may run on: a mask to tell threads apart by, named once for each
// kind. From the kernel's call where /proc numbers threads as this process does (its own pid
// namespace), else from each thread's status file.
class ThreadProcessors {
 public:
  ThreadProcessors() {
    char self[32] = {};
    direct_ = readlink("/proc/self", self, sizeof self - 1) > 0 &&
              std::strtol(self, nullptr, 10) == static_cast<long>(getpid());
  }

  // False where the thread has gone.
  bool Read(int folder, const std::string& id, std::string& mask) {
    if (!direct_) {
      std::string status;
      if (!ReadWholeFile(folder, "task/" + id + "/status", status)) return false;
      mask = StatusValue(status, "Cpus_allowed_list");
      return true;
    }
    for (;;) {
      mask.assign(bytes_, '\0');
      if (sched_getaffinity(static_cast<pid_t>(std::strtol(id.c_str(), nullptr, 10)), bytes_,
                            reinterpret_cast<cpu_set_t*>(mask.data())) == 0) {
        return true;
      }
      // A mask smaller than the machine's processors.
      if (errno != EINVAL || bytes_ >= (std::size_t{1} << 17)) return false;
      bytes_ *= 2;
    }
  }

  // "0-3,8", as the kernel writes a list.
  std::string Text(const std::string& mask) const {
    if (!direct_) return mask;
    const auto* set = reinterpret_cast<const cpu_set_t*>(mask.data());
    return ListText(mask.size() * 8,
                    [&](unsigned long cpu) { return CPU_ISSET_S(cpu, mask.size(), set); });
  }

 private:
  bool direct_ = false;
  std::size_t bytes_ = CPU_SETSIZE / 8;
};

// Threads alike in their processors and in their policy, as the line of their numa_maps that
// shows a thread's own gives it.
struct ThreadKind {
  std::string mask;
  std::string policy;
  std::size_t threads = 0;
  std::size_t first = 0;  // its first thread
};

enum class Look { kWhole, kAgain, kTorn, kFailed };

// What a look leaves to the next.
struct LookState {
  std::size_t policy_line = 0;  // the line of numa_maps on which a thread shows its own policy
  bool line_moved = false;      // a look found another such line: the next looks there
  std::string call;             // a look that was not whole: the read, and why
  std::string torn;
};

// Threads of a program read side by side at most: more would take processors from the
// program looked at, for little.
constexpr std::size_t kMostReaders = 4;

std::size_t ProcessorsOfThisProcess() {
  cpu_set_t set;
  return sched_getaffinity(0, sizeof set, &set) == 0
             ? static_cast<std::size_t>(std::max(1, CPU_COUNT(&set)))
             : 1;
}

constexpr std::size_t kGone = static_cast<std::size_t>(-1);  // a thread's kind: it does not run

// Kinds of threads, numbered in the order they are first met.
class ThreadKinds {
 public:
  // The number of the kind of `mask` and `policy`, which has `threads` more.
  std::size_t Add(const std::string& mask, const std::string& policy, std::size_t threads) {
    const auto number =
        numbers_.emplace(std::string(mask).append(1, '\n').append(policy), kinds.size())
            .first->second;
    if (number == kinds.size()) kinds.push_back({mask, policy, 0, kGone});
    kinds[number].threads += threads;
    return number;
  }

  std::vector<ThreadKind> kinds;

 private:
  std::map<std::string, std::size_t> numbers_;
};

// The kinds of the threads ids[begin, end) of the program in `folder`, each thread's place and
// kind in its slot of `places` and `kind_of` (kGone where it does not run).
struct ThreadsPart {
  ThreadKinds kinds;           // `first`: unset
  bool kernel_thread = false;  // its first thread that runs is a kernel thread
  std::string leader_mask;     // the program's first thread's, where the part holds it
};

// `policy_line`: the line of each thread's numa_maps that shows its policy, null where the
// kernel has none.
void ReadThreads(int folder, const std::vector<std::string>& ids, std::size_t begin,
                 std::size_t end, const std::size_t* policy_line, const std::map<int, int>& nodes,
                 ThreadProcessors processors, ThreadsPart& part, ThreadPlace* places,
                 std::size_t* kind_of) {
  bool running = false;
  for (std::size_t i = begin; i < end; ++i) {
    kind_of[i] = kGone;
    const std::string& id = ids[i];
    std::vector<std::string> stat;
    std::string mask;
    if (!ReadStatFields(folder, "task/" + id + "/stat", stat) ||
        !processors.Read(folder, id, mask)) {
      continue;
    }
    // A first thread that left (pthread_exit) keeps its place in /proc, without memory, and its
    // processors.
    if (i == 0) part.leader_mask = mask;
    // Ended, waiting to be collected, or ending.
    if (stat.empty() || stat[0][0] == 'Z' || stat[0][0] == 'X' ||
        (StatNumber(stat, 9) & kExiting) != 0) {
      continue;
    }
    if (!running) part.kernel_thread = (StatNumber(stat, 9) & kKernelThread) != 0;
    running = true;
    ThreadPlace& thread = places[i];
    thread.id = std::strtoul(id.c_str(), nullptr, 10);
    thread.processor = static_cast<int>(StatNumber(stat, 39));
    const auto node = nodes.find(thread.processor);
    if (node != nodes.end()) thread.node = node->second;
    const std::string policy = policy_line != nullptr
                                   ? PolicyOnLine(folder, "task/" + id + "/numa_maps", *policy_line)
                                   : std::string();
    kind_of[i] = part.kinds.Add(mask, policy, 1);
  }
}

Look LookOnce(const OpenedProgram& program, LookState& state, ProgramPlacement& placement,
              PlacementFailure& failure) {
  placement = {};
  const int folder = static_cast<int>(program.handle);
  std::vector<std::string> ids;
  // In the kernel's order: the first thread first.
  if (!ReadFolder(folder, "task", ids)) {
    Refused(program, "task", failure);
    return Look::kFailed;
  }
  const bool numa = access("/proc/self/numa_maps", F_OK) == 0;

  // Each thread that runs, with its processors and the line of its numa_maps that shows its
  // policy: one line each, however many threads. Thousands of threads are read in parts, side by
  // side, each read costing the kernel far more than the probe.
  const std::map<int, int> nodes = NodesOfProcessors();
  ThreadProcessors processors;
  const std::size_t count =
      std::min<std::size_t>({kMostReaders, ProcessorsOfThisProcess(), 1 + ids.size() / 2000});
  std::vector<ThreadsPart> parts(count);
  placement.threads.resize(ids.size());
  std::vector<std::size_t> kind_of(ids.size());  // each thread's
  const auto part_begin = [&](std::size_t part) { return ids.size() * part / count; };
  std::vector<std::thread> readers;
  for (std::size_t part = 0; part < count; ++part) {
    const auto read = [&, part, processors] {
      ReadThreads(folder, ids, part_begin(part), part_begin(part + 1),
                  numa ? &state.policy_line : nullptr, nodes, processors, parts[part],
                  placement.threads.data(), kind_of.data());
    };
    try {
      if (part + 1 < count) {
        readers.emplace_back(read);
        continue;
      }
    } catch (const std::system_error&) {  // no thread to be had: this one reads the part
    }
    read();
  }
  for (std::thread& reader : readers) reader.join();

  // The parts' kinds joined in order, a kind first met in a later part numbered after the
  // earlier's; the threads that do not run left out.
  ThreadKinds all;
  std::vector<ThreadKind>& kinds = all.kinds;
  std::size_t kept = 0;
  bool running = false;
  for (std::size_t part = 0; part < count; ++part) {
    if (!running) placement.kernel_thread = parts[part].kernel_thread;
    std::vector<std::size_t> numbers;
    for (const ThreadKind& local : parts[part].kinds.kinds) {
      numbers.push_back(all.Add(local.mask, local.policy, local.threads));
    }
    for (std::size_t i = part_begin(part); i < part_begin(part + 1); ++i) {
      if (kind_of[i] == kGone) continue;
      running = true;
      kind_of[kept] = numbers[kind_of[i]];
      if (kinds[kind_of[kept]].first == kGone) kinds[kind_of[kept]].first = kept;
      if (kept != i) placement.threads[kept] = std::move(placement.threads[i]);
      ++kept;
    }
  }
  placement.threads.resize(kept);
  kind_of.resize(kept);
  const std::string& first_thread_mask = parts.front().leader_mask;
  if (placement.threads.empty()) {
    errno = ESRCH;  // every thread gone, or only the first, waiting to be collected
    Refused(program, ids.empty() ? "task" : "task/" + ids.front() + "/stat", failure);
    return Look::kFailed;
  }

  // The program's processors and policy are what most of its threads share; where as many share
  // others, those of the first thread, or the processors it had.
  std::size_t chosen = 0;
  for (std::size_t kind = 1; kind < kinds.size(); ++kind) {
    if (kinds[kind].threads > kinds[chosen].threads ||
        (kinds[kind].threads == kinds[chosen].threads && kinds[chosen].mask != first_thread_mask &&
         kinds[kind].mask == first_thread_mask)) {
      chosen = kind;
    }
  }

  // Its memory, seen through a thread of that kind, whole: the kernel's count of it read before
  // and after agrees. A thread that leaves is not the program's end: another of the kind will do.
  char program_file[4096] = {};
  if (readlinkat(folder, "exe", program_file, sizeof program_file - 1) < 0) *program_file = '\0';
  NumaMapsTally tally(program_file);
  if (!numa) {
    placement.not_seen = "memory per node, as this kernel has no NUMA support (no numa_maps)";
  } else {
    MapsRead read = MapsRead::kFailed;
    std::string task;
    std::uint64_t before = 0;
    std::uint64_t after = 0;
    bool counted = false;
    for (std::size_t i = kinds[chosen].first; i < placement.threads.size(); ++i) {
      if (kind_of[i] != chosen) continue;
      task = "task/" + std::to_string(placement.threads[i].id);
      tally = NumaMapsTally(program_file);
      counted = ResidentBytes(folder, task, before);
      read = ReadAllMaps(folder, task + "/numa_maps", tally);
      if (read != MapsRead::kFailed || (errno != ENOENT && errno != ESRCH)) break;
    }
    state.call = "read /proc/" + std::to_string(program.pid) + "/" + task + "/numa_maps";
    if (read == MapsRead::kFailed && errno != ENOENT && errno != ESRCH) {
      Refused(program, task + "/numa_maps", failure);
      return Look::kFailed;
    }
    // A program that is ending, or starting another, lets its memory go.
    if (read != MapsRead::kWhole || (tally.Empty() && !placement.kernel_thread)) {
      state.torn = read == MapsRead::kFailed ? "(its threads left as it was read)"
                                             : "(it started another program as it was read)";
      return Look::kTorn;
    }
    std::uint64_t total = 0;
    for (const auto& [node, pages] : tally.PagesByNode()) total += pages.bytes;
    if (counted && ResidentBytes(folder, task, after)) {
      const std::uint64_t slack = Slack(std::max(before, after), placement.threads.size());
      if (total + slack < std::min(before, after) || total > std::max(before, after) + slack) {
        state.torn = "(its mappings showed " + MiB(total) + " resident where the kernel counted " +
                     MiB(before) + " before and " + MiB(after) + " after)";
        return Look::kTorn;
      }
    }
    if (tally.PolicyLine() >= kMostPolicyLines) {
      placement.threads_not_seen = "each thread's own memory policy, as the program's first " +
                                   std::to_string(tally.PolicyLine()) +
                                   " mappings have policies of their own";
    } else if (tally.PolicyLine() != state.policy_line && !state.line_moved) {
      state.policy_line = tally.PolicyLine();
      state.line_moved = true;
      return Look::kAgain;
    }
  }
  placement.pages_by_node = tally.PagesByNode();
  placement.policy = tally.Policy();
  placement.processors = processors.Text(kinds[chosen].mask);
  std::vector<std::string> kind_processors(kinds.size());
  for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
    if (kinds[kind].mask != kinds[chosen].mask)
      kind_processors[kind] = processors.Text(kinds[kind].mask);
  }
  for (std::size_t i = 0; i < placement.threads.size(); ++i) {
    const ThreadKind& kind = kinds[kind_of[i]];
    placement.threads[i].own_processors = kind_processors[kind_of[i]];
    placement.threads[i].own_policy = OwnPolicy(kind.policy, kinds[chosen].policy);
  }
  return Look::kWhole;
}

}  // namespace

bool LookAtProgram(const OpenedProgram& program, ProgramPlacement& placement,
                   PlacementFailure& failure) {
  LookState state;
  for (int torn = 0;;) {
    switch (LookOnce(program, state, placement, failure)) {
      case Look::kWhole:
        return true;
      case Look::kAgain:
        continue;
      case Look::kFailed:
        // The end of a program whose last look it cut short.
        if (failure.ended && torn > 0)
          failure.reason = ProcessName(program.pid) + " ended during the look";
        return false;
      case Look::kTorn:
        if (++torn < kMostLooks) continue;
        failure = {state.call,
                   ProcessName(program.pid) + " changed during the look " + state.torn + ", " +
                       std::to_string(kMostLooks) + " looks in a row; look again",
                   false, true};
        return false;
    }
  }
}
