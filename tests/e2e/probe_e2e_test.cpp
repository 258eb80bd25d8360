// The built probe looking at running programs the test starts, as a user would: programs whose
// threads differ, whose first thread has left, that end while watched, that the user may not
// inspect for one reason or another. Every line it prints is one key and one value.
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "support/started_process_posix.h"

namespace {

const std::string kProbe = BuiltProgram("nodestart-probe");
const std::string kChild = BuiltProgram("probe_child");

// Every line one key and one value, each key once: what a script or a YAML reader takes whole.
testing::AssertionResult OneKeyAndValueEach(const std::string& output) {
  std::set<std::string> keys;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos || line.find(": ", colon + 1) != std::string::npos ||
        line.back() == ':' || !keys.insert(line.substr(0, colon)).second) {
      return testing::AssertionFailure() << "not one key and one value: " << line;
    }
  }
  return testing::AssertionSuccess();
}

TEST(ProbeEndToEnd, TellsWhatIsSoOfARunningProgram) {
  const bool root = geteuid() == 0;
  const struct {
    const char* what;
    std::vector<std::string> child;  // its options; empty: no program of the test's
    bool child_as_nobody;            // where the test runs as root
    bool root_only;
    const char* command;  // $probe, $pid; `as UID` runs as UID where the test is root
    int status;
    std::vector<std::string> lines;  // each matches a line ("!": none does); {pid} is the child's
  } cases[] = {
      {"options in any order",
       {"--ready"},
       false,
       false,
       "$probe --pid=$pid --watch=1",
       0,
       {"^nodestart-probe: process {pid}, [0-9.]+ MiB resident in [0-9]+ pages of [0-9]+ KiB$",
        "^thread {pid}: ran on processor [0-9]+",
        "^at [0-9]+ ms: threads 1 on node [0-9]+; memory [0-9.]+ MiB on node [0-9]+ "
        "\\(100\\.0%\\)$"}},
      {"its own memory, options after it",
       {},
       false,
       false,
       "$probe 1 --watch=1",
       0,
       {"^nodestart-probe: 1 MiB, ", "^started on: processor [0-9]+", "^at [0-9]+ ms: processor",
        "^at the end, node [0-9]+: [0-9]+ pages$"}},
      {"its first thread left",
       {"--ready", "--leader-leaves"},
       false,
       false,
       "$probe --pid=$pid",
       0,
       {"^nodestart-probe: process {pid}, [1-9][0-9.]* MiB resident in ",
        "!^thread {pid}:", "^thread [0-9]+: ran on processor"}},
      {"a thread pinned apart",
       {"--ready", "--pin-thread=0"},
       false,
       false,
       "$probe --pid=$pid",
       0,
       {"^thread {pid}: ran on processor [0-9]+(, node [0-9]+)?$",
        "^thread [0-9]+: ran on processor 0(, node [0-9]+)?; may run on processors 0; memory "
        "policy preferred 0$",
        "^memory policy: default$"}},
      {"it ends while watched",
       {"--ready", "--run-ms=700"},
       false,
       false,
       "$probe --watch=3 --pid=$pid",
       0,
       {"^at [0-9]+ ms: process {pid} has ended$"}},
      {"not dumpable",
       {"--ready", "--non-dumpable"},
       true,
       false,
       "as 65534 $probe --pid=$pid",
       2,
       {"^nodestart-probe: read /proc/{pid}/task/{pid}/numa_maps: not permitted to inspect process "
        "{pid}: it made itself not dumpable .*; run the probe as root$"}},
      {"another user's",
       {"--ready"},
       true,
       true,
       "as 65533 $probe --pid=$pid",
       2,
       {": not permitted to inspect process {pid}: it runs as another user \\(uid 65534\\); run "
        "the probe as that user, or as root$"}},
      {"hidden by /proc",
       {"--ready"},
       true,
       true,
       "unshare -m bash -c 'mount -t proc -o hidepid=2 proc /proc && as 65533 $probe --pid=$pid'",
       2,
       {"^nodestart-probe: open /proc/{pid}: process {pid} runs, but /proc hides it from this "
        "user \\(mounted with hidepid\\); run the probe as its user, or as root$"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.root_only && !root) continue;
    if (c.what == std::string("a thread pinned apart") && sysconf(_SC_NPROCESSORS_ONLN) < 2)
      continue;
    std::vector<std::string> child = c.child;
    child.emplace_back("--run-ms=10000");
    std::rotate(child.rbegin(), child.rbegin() + 1, child.rend());  // a row's own time wins
    if (c.child_as_nobody && root) {
      child.insert(child.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", kChild});
    }
    std::string pid = "0";
    std::unique_ptr<StartedProcess> started;
    if (!c.child.empty()) {
      started = std::make_unique<StartedProcess>(
          c.child_as_nobody && root ? "/usr/bin/setpriv" : kChild, child, StartOptions{});
      ASSERT_TRUE(started->ReadUntil("probe ready")) << started->Output();
      const std::size_t at = started->Output().find("pid:") + 4;
      pid = started->Output().substr(at, started->Output().find('\n', at) - at);
    }
    const std::string setting =
        "probe=$1 pid=$2; export probe pid; as() { if [ \"$(id -u)\" = 0 ]; then u=$1; shift; "
        "setpriv --reuid=$u --regid=$u --clear-groups \"$@\"; else shift; \"$@\"; fi; }; "
        "export -f as; ";
    const ProcessResult result =
        RunProcess("/bin/bash", {"-c", setting + c.command + " 2>&1", "bash", kProbe, pid});
    EXPECT_EQ(result.exit_status, c.status) << result.output;
    for (std::string pattern : c.lines) {
      const bool absent = pattern[0] == '!';
      pattern = std::regex_replace(pattern.substr(absent ? 1 : 0), std::regex("\\{pid\\}"), pid);
      bool found = false;
      std::istringstream lines(result.output);
      for (std::string line; std::getline(lines, line) && !found;) {
        found = std::regex_search(line, std::regex(pattern));
      }
      EXPECT_NE(found, absent) << pattern << "\n" << result.output;
    }
    if (c.status == 0) {
      EXPECT_TRUE(OneKeyAndValueEach(result.output));
    }
  }
}

}  // namespace
