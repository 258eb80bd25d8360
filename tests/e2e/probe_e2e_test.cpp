// The built probe looking at running programs the test starts, as a user would: programs whose
// threads differ, whose first thread has left, that end while watched, that the user may not
// inspect for one reason or another. Every line it prints is one key and one value.
#include <unistd.h>

#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "support/started_process_posix.h"
#include "support/system_facts.h"

namespace {

// The first line that is not one key and one value, or whose key came before; empty if none:
// what a script or a YAML reader takes whole.
std::string NotOneKeyAndValue(const std::string& output) {
  std::set<std::string> keys;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos || line.find(": ", colon + 1) != std::string::npos ||
        line.back() == ':' || !keys.insert(line.substr(0, colon)).second) {
      return line;
    }
  }
  return {};
}

TEST(ProbeEndToEnd, TellsWhatIsSoOfARunningProgram) {
  if (!MemoryPoliciesWork()) {
    GTEST_SKIP() << "no memory policies here (qemu-user has no move_pages or set_mempolicy): the "
                    "probe cannot measure, nor the test child bind a thread";
  }
  const bool root = geteuid() == 0;
  const char* const kNobody = "--reuid=65534 --regid=65534 --clear-groups";
  const char* const kThreads =
      "out=$($probe --pid=$pid) && echo \"threads: $(echo \"$out\" | grep -c '^thread ')\" && "
      "echo \"$out\" | grep policy";
  const char* const kThreadLines =
      "^threads: 2002$\n^memory policy: default$\n"
      "^thread [0-9]+: ran on processor 0(, node [0-9]+)?; may run on processors 0; memory "
      "policy preferred 0$";
  const struct {
    const char* child;     // its options; none: no program of the test's
    const char* start_as;  // setpriv's options for the program, where the test runs as root
    const char* command;   // $probe, $pid; `as UID` runs as UID where the test is root
    int status;
    const char* lines;  // each matches a line ("!": none does); {pid} is the child's
  } cases[] = {
      // However many threads, each has its line, and one that differs is told apart, first or
      // last.
      {"--ready --threads=2000 --pin-thread=0", "", kThreads, 0, kThreadLines},
      {"--ready --pin-thread=0 --threads=2000", "", kThreads, 0, kThreadLines},
      // A look the program cuts short, as it starts another or ends, is never given as its memory
      // (32 MiB of it read first, 90 in all), nor is a thread that leaves taken for its end.
      {"--ready --mappings=60000 --huge=thp:32:0 --on-look=exec", "", "$probe --pid=$pid", 0,
       "^nodestart-probe: process {pid}, ([0-9]|9[0-9])\\.[0-9] MiB resident"},
      {"--ready --mappings=60000 --huge=thp:32:0 --on-look=exit", "", "$probe --pid=$pid", 2,
       "^nodestart-probe: read /proc/{pid}/task[^:]*: process {pid} ended during the look$"},
      {"--ready --leader-leaves --on-look=leave", "", "$probe --pid=$pid", 0,
       "^nodestart-probe: process {pid}, [0-9.]+ MiB resident"},
      {"--ready", "", "$probe --pid=$pid --watch=1", 0,
       "^nodestart-probe: process {pid}, [0-9.]+ MiB resident in [0-9]+ pages of [0-9]+ KiB$\n"
       "^at [0-9]+ ms: threads 1 on node [0-9]+; memory [0-9.]+ MiB on node [0-9]+ "
       "\\(100\\.0%\\)$"},
      {"", "", "$probe 1 --watch=1", 0,
       "^started on: processor [0-9]+\n^at [0-9]+ ms: processor\n^at the end, node"},
      {"--ready --pin-thread=0 --leader-leaves", "", "$probe --pid=$pid", 0,
       "^nodestart-probe: process {pid}, [1-9][0-9.]* MiB resident in \n!^thread {pid}:\n"
       "^memory policy: default$\n"
       "^thread [0-9]+: ran on processor 0(, node [0-9]+)?; may run on processors 0; memory "
       "policy preferred 0$"},
      {"--ready --pin-thread=0", "", "$probe --pid=$(ls /proc/$pid/task | tail -n 1)", 0,
       "^nodestart-probe: process {pid}, \n^memory policy: default$\n"
       "^thread {pid}: ran on processor [0-9]+(, node [0-9]+)?$\n"
       "^thread [0-9]+: ran on processor 0(, node [0-9]+)?; may run on processors 0; memory "
       "policy preferred 0$"},
      {"--ready --run-ms=700", "", "$probe --watch=3 --pid=$pid", 0,
       "^at [0-9]+ ms: process {pid} has ended$"},
      {"--ready --non-dumpable", kNobody, "as 65534 $probe --pid=$pid", 2,
       "^nodestart-probe: read /proc/{pid}/task/{pid}/numa_maps: not permitted to inspect process "
       "{pid}: it made itself not dumpable .*; run the probe as root$"},
      // Where the test runs as root only: another user's program, a set-user-ID one (effective
      // uid 0) its user looks at, and one /proc hides.
      {"--ready", kNobody, "as 65533 $probe --pid=$pid", 2,
       ": not permitted to inspect process {pid}: it runs as another user \\(uid 65534\\); run the "
       "probe as that user, or as root$"},
      {"--ready", "--ruid=65534 --rgid=65534 --clear-groups", "as 65534 $probe --pid=$pid", 2,
       ": not permitted to inspect process {pid}: it runs as another user \\(uid 0\\); run the "
       "probe as that user, or as root$"},
      {"--ready", kNobody,
       "unshare -m bash -c 'mount -t proc -o hidepid=1 proc /proc && as 65533 $probe --pid=$pid'",
       2,
       "^nodestart-probe: open /proc/{pid}: process {pid} runs, but /proc hides it from this user "
       "\\(mounted with hidepid\\); run the probe as its user, or as root$"},
      {"--ready", kNobody,
       "unshare -m bash -c 'mount -t proc -o hidepid=2 proc /proc && as 65533 $probe --pid=$pid'",
       2,
       "^nodestart-probe: open /proc/{pid}: process {pid} runs, but /proc hides it from this user "
       "\\(mounted with hidepid\\); run the probe as its user, or as root$"},
      // The machine's nodes, and each device they list named back to its node.
      {"", "",
       "out=$($probe --nodes) && echo \"$out\" && echo \"$out\" | sed -nE 's/^(node ([0-9]+)|no "
       "node) .*\\((.*)\\)$/x\\2 \\3/p' | tr -d , | while read node names; do for n in $names; "
       "do [ \"x$($probe --node-of=$n 2>/dev/null)\" = $node ] || echo mismatch $n; done; done",
       0,
       "^nodestart-probe: [0-9]+ nodes? \\(\n^node 0 processors: [0-9]\n"
       "^node 0 memory: [0-9.]+ [MG]iB, [0-9.]+ [MG]iB free$\n^node 0 distances: 10( "
       "|$)\n!mismatch"},
      // A virtual device is on the one node there is, else on none.
      {"", "",
       "$probe --node-of=lo; echo status $? on $(cat /sys/devices/system/node/online); "
       "$probe --node-of=no-such-device",
       2,
       "^([0-9]+\\nstatus 0 on [0-9]+|nodestart-probe: lo is on no PCI bus \\(a virtual device\\): "
       "it has no NUMA node\\nstatus 2 on .*[,-].*)$\n^nodestart-probe: no device no-such-device "
       "here: "},
      {"", "", "$probe --nodes 5; echo status $?; $probe --node-of= --nodes", 1,
       "^status 1$\n^ +nodestart-probe --nodes$"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    if ((std::string(c.command).find("65533") != std::string::npos ||
         std::string(c.start_as).find("--ruid") != std::string::npos) &&
        !root) {
      continue;
    }
    const std::string child = BuiltProgram("probe_child");
    std::vector<std::string> arguments = {"--run-ms=10000"};  // a row's own time comes later
    std::istringstream options(c.child);
    for (std::string option; options >> option;) arguments.push_back(option);
    const bool as_other = *c.start_as != '\0' && root;
    if (as_other) {
      std::istringstream start_as(c.start_as);
      std::vector<std::string> setpriv;
      for (std::string option; start_as >> option;) setpriv.push_back(option);
      setpriv.push_back(child);
      arguments.insert(arguments.begin(), setpriv.begin(), setpriv.end());
    }
    std::string pid = "0";
    std::unique_ptr<StartedProcess> started;
    if (*c.child != '\0') {
      started = std::make_unique<StartedProcess>(as_other ? "/usr/bin/setpriv" : child, arguments,
                                                 StartOptions{});
      ASSERT_TRUE(started->ReadUntil("probe ready")) << started->Output();
      const std::size_t at = started->Output().find("pid:") + 4;
      pid = started->Output().substr(at, started->Output().find('\n', at) - at);
    }
    const ProcessResult result = RunProcess(
        "/bin/bash", {"-c",
                      "probe=$1 pid=$2; export probe pid; as() { if [ $(id -u) = 0 ]; then u=$1; "
                      "shift; setpriv --reuid=$u --regid=$u --clear-groups \"$@\"; else shift; "
                      "\"$@\"; fi; }; export -f as; { " +
                          std::string(c.command) + "\n} 2>&1",
                      "bash", BuiltProgram("nodestart-probe"), pid});
    EXPECT_EQ(result.exit_status, c.status) << result.output;
    std::istringstream patterns(c.lines);
    for (std::string line; std::getline(patterns, line);) {
      const bool absent = line[0] == '!';
      const std::regex pattern(
          std::regex_replace(line.substr(absent ? 1 : 0), std::regex("\\{pid\\}"), pid),
          std::regex::multiline);
      EXPECT_NE(std::regex_search(result.output, pattern), absent) << line << "\n" << result.output;
    }
    if (c.status == 0) {
      EXPECT_EQ(NotOneKeyAndValue(result.output), "") << result.output;
    }
  }
}

}  // namespace
