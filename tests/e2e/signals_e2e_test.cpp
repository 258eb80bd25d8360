// The built tool and a probe child under real signals: typed at a terminal, sent by other
// processes, inherited, and a reader that goes away.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "support/scratch_folder.h"
#include "support/started_process_posix.h"
#include "support/system_facts.h"
#include "support/terminal_session_posix.h"

namespace {

namespace fs = std::filesystem;

const std::string kTool = BuiltProgram("nodestart");
const std::string kProbe = BuiltProgram("probe_child");

std::string ExitLine(int code) {
  return "\n Child process exited with code " + std::to_string(code);
}

std::string Caught(int signal_number, int times) {
  return "caught " + std::to_string(signal_number) + " x" + std::to_string(times) + "\n";
}

// The tool on the probe with `probe_arguments`, as arguments for StartedProcess.
std::vector<std::string> ToolOnProbe(const std::vector<std::string>& probe_arguments) {
  std::vector<std::string> arguments = {"0", kProbe};
  arguments.insert(arguments.end(), probe_arguments.begin(), probe_arguments.end());
  return arguments;
}

// The same as a command typed at a shell; `directly`: the probe alone.
std::string Typed(const std::vector<std::string>& probe_arguments, bool directly = false) {
  std::string command = "'" + (directly ? kProbe : kTool) + "'";
  for (const std::string& argument : directly ? probe_arguments : ToolOnProbe(probe_arguments)) {
    command += " '" + argument + "'";
  }
  return command;
}

struct ShellResult {
  std::string screen;  // what the terminal showed from the command on, CR LF made LF
  std::string status;  // the tool's status as the shell saw it
};

// Typed after a command: the shell shows the status it ended with.
const char kShowStatus[] = "; echo \"<status $?>\"\n";

// Types `typed` at the prompt, then, once the probe is ready, each of `keys_in_turn` and waits
// for what follows it, and reads on until the shell has shown a status.
testing::AssertionResult RunAtTerminal(TerminalSession& terminal, const std::string& typed,
                                       const std::vector<std::string>& keys_in_turn,
                                       ShellResult& result) {
  const std::size_t start = terminal.Screen().size();
  terminal.Type(typed);
  if (!terminal.WaitFor("probe ready")) return testing::AssertionFailure() << "never ready";
  for (std::size_t i = 0; i + 1 < keys_in_turn.size(); i += 2) {
    terminal.Type(keys_in_turn[i]);
    if (!terminal.WaitFor(keys_in_turn[i + 1])) {
      return testing::AssertionFailure() << "no \"" << keys_in_turn[i + 1] << "\" after keys "
                                         << i / 2 << " in: " << terminal.Screen();
    }
  }
  if (!terminal.WaitFor("<status ") || !terminal.WaitFor(">")) {
    return testing::AssertionFailure() << "the command did not end: " << terminal.Screen();
  }
  std::string screen;
  for (std::size_t i = start; i < terminal.Screen().size(); ++i) {
    if (terminal.Screen().compare(i, 2, "\r\n") != 0) screen += terminal.Screen()[i];
  }
  const std::size_t status = screen.rfind("<status ");
  result.status = screen.substr(status + 8, screen.find('>', status) - status - 8);
  result.screen = screen.substr(0, status);
  return testing::AssertionSuccess();
}

TEST(SignalsEndToEnd, TerminalInterruptsAreTheChildsAlone) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const struct {
    const char* name;
    const char* key;
    std::vector<std::string> probe;
    std::string child_shows;
    int code;
    const char* setup = "";  // typed before the command
  } cases[] = {
      {"Ctrl+C, trapped, exit 7",
       "\x03",
       {"--catch=2", "--until-caught", "--exit=7"},
       Caught(SIGINT, 1),
       7},
      {"Ctrl+\\, trapped, exit 8",
       "\x1c",
       {"--catch=3", "--until-caught", "--exit=8"},
       Caught(SIGQUIT, 1),
       8},
      {"Ctrl+C, counted, the child ends later by itself",
       "\x03",
       {"--catch=2", "--run-ms=700"},
       Caught(SIGINT, 1),
       0},
      {"Ctrl+C, the child dies by it", "\x03", {}, "", 130},
      {"Ctrl+\\, the child dies by it", "\x1c", {}, "", 131},
      {"Ctrl+C, the program makes a process group of its own",
       "\x03",
       {"--own-group", "--catch=2", "--until-caught", "--exit=7"},
       Caught(SIGINT, 1),
       7},
      {"Ctrl+C, with stty tostop", "\x03", {}, "", 130, "stty tostop; "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> probe = {"--ready", "--run-ms=10000"};
    probe.insert(probe.end(), c.probe.begin(), c.probe.end());
    for (const bool directly : {true, false}) {
      SCOPED_TRACE(directly ? "started directly" : "under the tool");
      TerminalSession terminal;
      ShellResult result;
      // Typed after the key: an interactive shell drops the rest of a line whose command died of
      // Ctrl+C.
      ASSERT_TRUE(RunAtTerminal(terminal, c.setup + Typed(probe, directly) + "\n",
                                {c.key, "", "echo \"<status $?>\"\n", ""}, result));
      EXPECT_NE(result.screen.find(c.child_shows), std::string::npos) << result.screen;
      if (directly) {
        EXPECT_EQ(result.status, std::to_string(c.code));
        continue;
      }
      // The terminal discards what it has not yet shown when the key is typed (its output queue is
      // flushed, as NOFLSH is unset), the "Waiting" line among it at times: not looked for here.
      // The exit line last, then what the shell shows; a program that died of the key ends the
      // tool by it too, so that the shell sees the interruption.
      const std::size_t end = result.screen.rfind("\n Child process exited");
      EXPECT_EQ(
          result.screen.substr(std::min(end, result.screen.size())).rfind(ExitLine(c.code), 0), 0u);
      EXPECT_EQ(result.status, std::to_string(c.code > 128 ? c.code : 0));
    }
  }
}

TEST(SignalsEndToEnd, CtrlZStopsBothAndFgOrBgResumesTheWait) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  // The shell's "fg" shows the status of the job it resumed; after "bg", "wait" does.
  const std::vector<std::string> fg = {"\x1a", "Stopped", std::string("fg") + kShowStatus, ""};
  const std::vector<std::string> bg = {
      "\x1a", "Stopped", "bg\n", "caught 18 x1", std::string("wait %1") + kShowStatus, ""};
  const struct {
    const char* name;
    std::vector<std::string> keys;
    std::vector<std::string> probe;
    int code;
  } cases[] = {
      {"fg", fg, {"--until-caught", "--exit=5"}, 5},
      {"fg, the program makes a process group of its own",
       fg,
       {"--own-group", "--until-caught", "--exit=5"},
       5},
      {"bg, then the child ends in the background", bg, {"--run-ms=1500"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> probe = {"--ready", "--run-ms=10000", "--catch=18"};
    probe.insert(probe.end(), c.probe.begin(), c.probe.end());
    for (const bool directly : {true, false}) {
      SCOPED_TRACE(directly ? "started directly" : "under the tool");
      TerminalSession terminal;
      ShellResult result;
      ASSERT_TRUE(RunAtTerminal(terminal, Typed(probe, directly) + "\n", c.keys, result));
      EXPECT_NE(result.screen.find(Caught(18, 1)), std::string::npos) << result.screen;
      EXPECT_LT(result.screen.find("Stopped"), result.screen.find(Caught(18, 1)));
      if (directly) {
        EXPECT_EQ(result.status, std::to_string(c.code));
        continue;
      }
      EXPECT_EQ(result.screen.find("Child process exited"),
                result.screen.rfind(ExitLine(c.code)) + 2)
          << "the end only, once: " << result.screen;
      EXPECT_EQ(result.status, "0");
    }
  }
}

// How often `text` holds `part`.
std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The pids the probes printed once ready.
std::vector<pid_t> ProbePids(const std::string& output) {
  std::vector<pid_t> pids;
  for (std::size_t at = output.find("pid:"); at != std::string::npos;
       at = output.find("pid:", at + 1)) {
    pids.push_back(static_cast<pid_t>(std::stol(output.substr(at + 4))));
  }
  return pids;
}

bool Ended(pid_t pid);

TEST(SignalsEndToEnd, TheJobAroundTheProgramMeetsTheFateItWouldStartedDirectly) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const std::vector<std::string> interrupt = {"\x03", "", std::string("true") + kShowStatus, ""};
  const std::string harness =
      "python3 -c \"import subprocess, sys, time; p = subprocess.Popen(sys.argv[1:]); "
      "time.sleep(1); p.kill(); p.wait(); print('got', input())\" ";
  const struct {
    const char* name;
    std::string typed;  // RUN stands for the probe, started directly or under the tool
    std::vector<std::string> keys;
    std::vector<std::string> probe;
    const char* shows = "";  // by both
    bool timed = true;       // ends within 2 s of the direct start's time (not: 100 starts)
  } cases[] = {
      {"Ctrl+C on a loop in a script",
       "bash -c \"for i in 1 2; do RUN; echo iteration; done\"",
       interrupt,
       {"--ready", "--run-ms=10000"}},
      {"Ctrl+C on a loop at the prompt",
       "for i in 1 2; do RUN; echo iteration; done",
       interrupt,
       {"--ready", "--run-ms=10000"}},
      {"Ctrl+C on make -j2 of two runs",
       "printf 'all: a b\\na b:\\n\\t%s\\n' \"RUN\" | make -s -j2 -f -",
       {"", "probe ready", "\x03", "", std::string("true") + kShowStatus, ""},
       {"--ready", "--run-ms=10000"}},
      {"Ctrl+C on a script that runs it in the background",
       "bash -c \"RUN & sleep 6\"",
       interrupt,
       {"--ready", "--run-ms=1500"}},
      {"kill -STOP %1, then -CONT",
       "RUN &",
       {"kill -STOP %1; sleep 0.5; ps -o stat=,comm= -s $$ | awk '/probe/ { print \"state:\" $1 "
        "}'\n",
        "state:", std::string("kill -CONT %1; wait %1") + kShowStatus, ""},
       {"--ready", "--run-ms=1500"},
       "state:T\n"},
      {"a background script's program reads the terminal, then fg",
       "bash -c \"RUN\" &",
       {"sleep 0.5; jobs\n", "Stopped", "fg\n", "", "hello\n", "read:hello",
        std::string("true") + kShowStatus, ""},
       {"--ready", "--read"}},
      {"a harness kills the run at its timeout, then reads the terminal",
       harness + "RUN",
       {"hello\n", "got hello", std::string("true") + kShowStatus, ""},
       {"--ready", "--run-ms=5000"}},
      {"Ctrl+Z on a program that catches it and goes on",
       "RUN; echo iteration",
       {"\x1a", "caught 20 x1", std::string("true") + kShowStatus, ""},
       {"--ready", "--catch=20", "--until-caught", "--run-ms=5000"}},
      {"100 runs in the background of subshells",
       "for i in $(seq 100); do (RUN >/dev/null 2>&1 &); done; sleep 1; echo probe ready",
       {std::string("true") + kShowStatus, ""},
       {"--run-ms=200"},
       "",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    struct Fate {
      std::string status;
      std::size_t iterations;  // and, in hundreds, jobs shown stopped
      std::vector<bool> ended;
      bool shown;
      std::chrono::steady_clock::duration took;
    } fates[2];
    for (const bool directly : {true, false}) {
      SCOPED_TRACE(directly ? "started directly" : "under the tool");
      TerminalSession terminal;
      ShellResult result;
      std::string typed = c.typed;
      typed.replace(typed.find("RUN"), 3, Typed(c.probe, directly));
      const auto start = std::chrono::steady_clock::now();
      ASSERT_TRUE(RunAtTerminal(terminal, typed + "\n", c.keys, result));
      Fate& fate = fates[directly];
      fate = {result.status,
              Count(result.screen, "iteration") + 100 * Count(result.screen, "Stopped"),
              {},
              result.screen.find(c.shows) != std::string::npos,
              std::chrono::steady_clock::now() - start};
      for (const pid_t pid : ProbePids(result.screen)) fate.ended.push_back(Ended(pid));
      EXPECT_TRUE(fate.shown) << result.screen;
    }
    EXPECT_EQ(fates[0].status, fates[1].status);
    EXPECT_EQ(fates[0].iterations, fates[1].iterations);
    EXPECT_EQ(fates[0].ended, fates[1].ended);
    if (c.timed) {
      EXPECT_LT(fates[0].took, fates[1].took + std::chrono::seconds(2)) << "under the tool";
    }
  }
}

// The tool as a job of its own, as a shell with job control starts it.
const StartOptions kJob = {true, {}, {}};

// The processes `pid` has started that are still its children.
std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::ifstream list("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<pid_t> children;
  for (pid_t child = 0; list >> child;) children.push_back(child);
  return children;
}

// The state letter of `pid` from /proc ('R', 'S', 'T', 'Z', ...); 0 where it is gone.
char StateOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t name_end = line.rfind(')');
  return name_end == std::string::npos || line.size() < name_end + 3 ? '\0' : line[name_end + 2];
}

bool IsZombie(pid_t pid) { return StateOf(pid) == 'Z'; }

// Sends `signal_number` to `pid` from a new process that joins the process group `group`. The
// sender stays a while: the tool can only tell the group of a sender that still exists.
void SignalFromGroup(pid_t group, pid_t pid, int signal_number) {
  const pid_t sender = fork();
  if (sender == 0) {
    const bool sent = setpgid(0, group) == 0 && kill(pid, signal_number) == 0;
    usleep(300000);
    _exit(sent ? 0 : 1);
  }
  int status = 0;
  waitpid(sender, &status, 0);
  ASSERT_EQ(status, 0) << "the sender could not join the group";
}

// Who stops the tool, and how it was started.
enum class Sender {
  kOutsider,           // the test, the tool a job of its own
  kPidNamespace,       // the tool first in a PID namespace: the sender shows as pid 0
  kParentInItsGroup,   // Popen().terminate(): the test leads the tool's group
  kMemberOfItsGroup,   // another process of the tool's group
  kTimeoutForeground,  // timeout --foreground, which signals the tool alone
  kScriptWithoutJobs,  // sh -c 'nodestart ... & ...; kill $!'
  kWholeGroup,         // kill -TERM -PGID: the tool's group, the tool a job of its own
  kAlarmBeforeExec,    // an alarm armed, then the tool exec'd: the kernel signals the tool
  kQueuedWithValue,    // sigqueue from an outsider, with the value 42
};

const char* const kSenderNames[] = {
    "an outsider", "outside its PID namespace", "its parent", "its group", "timeout --foreground",
    "a script",    "kill to a group",           "an alarm",   "sigqueue"};

TEST(SignalsEndToEnd, SignalsSentToTheToolReachTheChildOnce) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  // In a PID namespace of its own, as a container's first process, the tool hears a sender
  // outside it as pid 0, and it takes in the orphans of the child's tree.
  const bool namespaces =
      RunProcess("/usr/bin/unshare", {"--pid", "--fork", "true"}).exit_status == 0;
  const struct {
    int signal_number;
    Sender sender;
  } cases[] = {
      {SIGHUP, Sender::kOutsider},
      {SIGINT, Sender::kOutsider},
      {SIGQUIT, Sender::kOutsider},
      {SIGTERM, Sender::kOutsider},
      {SIGUSR1, Sender::kOutsider},
      {SIGUSR2, Sender::kOutsider},
      {SIGALRM, Sender::kOutsider},
      {SIGTERM, Sender::kPidNamespace},
      {SIGHUP, Sender::kPidNamespace},
      {SIGTERM, Sender::kParentInItsGroup},
      {SIGINT, Sender::kParentInItsGroup},
      {SIGHUP, Sender::kParentInItsGroup},
      {SIGUSR1, Sender::kMemberOfItsGroup},
      {SIGTERM, Sender::kTimeoutForeground},
      {SIGTERM, Sender::kScriptWithoutJobs},
      {SIGTERM, Sender::kWholeGroup},
      {SIGINT, Sender::kWholeGroup},
      {SIGALRM, Sender::kAlarmBeforeExec},
      {SIGTRAP, Sender::kOutsider},
      {SIGABRT, Sender::kOutsider},
      {SIGBUS, Sender::kOutsider},
      {SIGURG, Sender::kOutsider},
      {SIGXCPU, Sender::kOutsider},
      {SIGVTALRM, Sender::kOutsider},
      {SIGPROF, Sender::kOutsider},
      {SIGIO, Sender::kOutsider},
      {SIGPWR, Sender::kOutsider},
      {SIGSYS, Sender::kOutsider},
      {64, Sender::kOutsider},
      {35, Sender::kQueuedWithValue},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.signal_number) + " from " +
                 kSenderNames[static_cast<int>(c.sender)]);
    if (c.sender == Sender::kPidNamespace && !namespaces) {
      std::cout << "[  SKIPPED ] no PID namespace can be made here (unshare --pid failed)\n";
      continue;
    }
    std::vector<std::string> arguments =
        ToolOnProbe({"--orphan", "--ready", "--run-ms=10000", "--until-caught", "--exit=7",
                     "--catch=" + std::to_string(c.signal_number)});
    std::string program = kTool;
    if (c.sender == Sender::kPidNamespace) {
      program = "/usr/bin/unshare";
      arguments.insert(arguments.begin(), {"--pid", "--fork", kTool});
    } else if (c.sender == Sender::kTimeoutForeground) {
      program = "/usr/bin/timeout";
      arguments.insert(arguments.begin(), {"--foreground", "--preserve-status", "1", kTool});
    } else if (c.sender == Sender::kScriptWithoutJobs) {
      program = "/bin/sh";
      arguments.insert(arguments.begin(),
                       {"-c", "\"$0\" \"$@\" & sleep 1; kill -TERM $!; wait $!", kTool});
    } else if (c.sender == Sender::kAlarmBeforeExec) {
      program = "/usr/bin/python3";
      arguments.insert(arguments.begin(),
                       {"-c",
                        "import os, signal, sys; signal.alarm(2); os.execv(sys.argv[1], "
                        "sys.argv[1:])",
                        kTool});
    }
    StartedProcess started(program, arguments, {c.sender != Sender::kParentInItsGroup, {}, {}});
    ASSERT_TRUE(started.ReadUntil("probe ready"));
    const pid_t tool =
        c.sender == Sender::kPidNamespace ? ChildrenOf(started.pid()).at(0) : started.pid();
    usleep(300000);  // the orphan has ended meanwhile
    for (const pid_t child : ChildrenOf(tool)) EXPECT_FALSE(IsZombie(child)) << "pid " << child;
    if (c.sender == Sender::kMemberOfItsGroup) {
      SignalFromGroup(tool, tool, c.signal_number);
    } else if (c.sender == Sender::kWholeGroup) {
      kill(-tool, c.signal_number);
    } else if (c.sender == Sender::kQueuedWithValue) {
      sigqueue(tool, c.signal_number, sigval{42});
    } else if (c.sender != Sender::kTimeoutForeground && c.sender != Sender::kScriptWithoutJobs &&
               c.sender != Sender::kAlarmBeforeExec) {
      kill(tool, c.signal_number);
    }
    const ProcessResult result = started.Finish();
    // Sent to the whole group from outside, it reaches the program directly too: the tool cannot
    // tell, so the program may hear it twice, as under sudo.
    std::string once = Caught(c.signal_number, 1);
    if (c.sender == Sender::kQueuedWithValue) once.insert(once.size() - 1, " value 42");
    EXPECT_TRUE(result.output.find(once) != std::string::npos ||
                (c.sender == Sender::kWholeGroup &&
                 result.output.find(Caught(c.signal_number, 2)) != std::string::npos))
        << result.output;
    EXPECT_EQ(result.output.substr(result.output.size() - ExitLine(7).size() - 1),
              ExitLine(7) + "\n");
    EXPECT_EQ(result.exit_status, 0);
  }
}

// Real-time signals count against the user's RLIMIT_SIGPENDING, the tool's held ones too: every
// one the kernel accepted reaches the program, once the queue has room.
TEST(SignalsEndToEnd, NoQueuedSignalIsLostForWantOfRoom) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  std::vector<std::string> arguments = {"--sigpending=6", kTool};
  for (const std::string& argument : ToolOnProbe({"--ready", "--run-ms=2000", "--catch=35"})) {
    arguments.push_back(argument);
  }
  StartedProcess started("/usr/bin/prlimit", arguments, kJob);
  ASSERT_TRUE(started.ReadUntil("probe ready"));
  int accepted = 0;
  // As fast as it can, so that what the tool frees is taken again before it passes its signal on;
  // 200 are passed on within the program's run.
  for (int i = 1; accepted < 200 && i < 1000000; ++i) {
    accepted += sigqueue(started.pid(), 35, sigval{i}) == 0 ? 1 : 0;
  }
  const ProcessResult result = started.Finish();
  EXPECT_NE(result.output.find("caught 35 x" + std::to_string(accepted) + " "), std::string::npos)
      << accepted << " accepted: " << result.output;
}

// Whether `pid` has ended (gone, or a zombie its new parent has yet to reap) within `ms`.
bool EndsWithin(pid_t pid, int ms) {
  for (int waited = 0; waited <= ms; waited += 10) {
    if (kill(pid, 0) != 0 || IsZombie(pid)) return true;
    usleep(10000);
  }
  return false;
}

// Whether `pid` ends within a second.
bool Ended(pid_t pid) { return EndsWithin(pid, 1000); }

// The pid the probe printed once ready.
pid_t ProbePid(const std::string& output) {
  const std::size_t at = output.rfind("pid:");
  return at == std::string::npos ? 0 : static_cast<pid_t>(std::stol(output.substr(at + 4)));
}

// How a harness ends the whole run, whatever was started.
enum class Ending {
  kKill,
  kPythonTimeout,
  kHangUpAsSessionLeader,
  kCtrlZAsSessionLeader,
  kProfilingTimer,  // setitimer(ITIMER_PROF, 0.5 s) before exec
  kVirtualTimer,    // setitimer(ITIMER_VIRTUAL, 0.5 s) before exec
};

TEST(SignalsEndToEnd, TheProgramMeetsTheFateItWouldStartedDirectly) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const struct {
    const char* name;
    Ending ending;
    std::string mark_shows;  // "": the program ends within the second, unmarked
  } cases[] = {
      {"SIGKILL to what was started", Ending::kKill, ""},
      {"subprocess.run(timeout=1)", Ending::kPythonTimeout, ""},
      {"the terminal hangs up on its session's leader", Ending::kHangUpAsSessionLeader,
       Caught(SIGHUP, 1) + "ended\n"},
      // The kernel discards the stop in the session leader's orphaned group: the program runs on.
      {"Ctrl+Z to its session's leader, the program in a group of its own",
       Ending::kCtrlZAsSessionLeader, Caught(SIGHUP, 0) + "ended\n"},
      {"a CPU-time timer armed before exec", Ending::kProfilingTimer, ""},
      {"a virtual-time timer armed before exec", Ending::kVirtualTimer, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool directly : {true, false}) {
      SCOPED_TRACE(directly ? "started directly" : "under the tool");
      ScratchFolder scratch;
      const std::string mark = (scratch.path() / "mark").string();
      const std::vector<std::string> probe = {"--ready", "--run-ms=5000", "--catch=1",
                                              "--until-caught", "--mark=" + mark};
      if (c.ending == Ending::kHangUpAsSessionLeader || c.ending == Ending::kCtrlZAsSessionLeader) {
        std::vector<std::string> leader = probe;
        if (c.ending == Ending::kCtrlZAsSessionLeader)
          leader.insert(leader.end(), {"--own-group", "--run-ms=1000"});
        TerminalSession terminal;
        terminal.Type("exec " + Typed(leader, directly) + "\n");
        ASSERT_TRUE(terminal.WaitFor("probe ready"));
        if (c.ending == Ending::kHangUpAsSessionLeader) {
          terminal.HangUp();
        } else {
          terminal.Type("\x1a");
          EXPECT_TRUE(EndsWithin(ProbePid(terminal.Screen()), 3000)) << terminal.Screen();
        }
      } else {
        std::vector<std::string> arguments = directly ? probe : ToolOnProbe(probe);
        arguments.insert(arguments.begin(), directly ? kProbe : kTool);
        if (c.ending == Ending::kPythonTimeout) {
          arguments.insert(arguments.begin(),
                           {"/usr/bin/python3", "-c",
                            "import subprocess, sys; subprocess.run(sys.argv[1:], timeout=1)"});
        }
        const bool timer = c.ending == Ending::kProfilingTimer || c.ending == Ending::kVirtualTimer;
        if (timer) {
          arguments.push_back("--spin");
          arguments.insert(
              arguments.begin(),
              {"/usr/bin/python3", "-c",
               std::string("import os, signal, sys; signal.setitimer(signal.") +
                   (c.ending == Ending::kProfilingTimer ? "ITIMER_PROF" : "ITIMER_VIRTUAL") +
                   ", 0.5); os.execv(sys.argv[1], sys.argv[1:])"});
        }
        StartedProcess started(arguments[0], {arguments.begin() + 1, arguments.end()}, kJob);
        ASSERT_TRUE(started.ReadUntil("probe ready"));
        const pid_t program = ProbePid(started.Output());
        if (c.ending == Ending::kKill) kill(started.pid(), SIGKILL);
        // Python's timeout counts from the start, a second before its kill; a timer counts the
        // program's CPU time from its start.
        EXPECT_TRUE(EndsWithin(program, c.ending == Ending::kKill ? 1000 : 2500)) << program;
      }
      std::ifstream marked(mark);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(marked), {}), c.mark_shows);
    }
  }
}

TEST(SignalsEndToEnd, NoSequenceOfStopsAndContinuesHangsTheRun) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  constexpr int kUntilStopped = -1;  // the next step once the program has stopped
  // Each step: 't' the tool, 'p' the program (started directly, both are the program), 'g' the
  // group, then the signal.
  const struct {
    std::vector<std::pair<char, int>> steps;
    int gap_ms;
    int runs;  // under the tool
    std::vector<std::string> probe;
  } sequences[] = {
      {{{'p', SIGSTOP}, {'p', SIGCONT}}, 100, 1, {}},
      {{{'t', SIGSTOP}, {'p', SIGSTOP}, {'p', SIGCONT}, {'t', SIGCONT}}, 100, 1, {}},
      {{{'p', SIGSTOP}, {'t', SIGSTOP}, {'t', SIGCONT}, {'p', SIGCONT}}, 100, 1, {}},
      {{{'t', SIGSTOP}, {'p', SIGSTOP}, {'t', SIGCONT}, {'p', SIGCONT}}, 100, 1, {}},
      {{{'p', SIGTSTP}, {'t', SIGCONT}}, 100, 1, {}},
      {{{'t', SIGTSTP}, {'t', SIGCONT}}, 100, 1, {}},
      // A harness's pause and resume: the continue may come before the tool has followed the stop.
      {{{'t', SIGTSTP}, {'t', SIGCONT}}, 0, 20, {}},
      {{{'t', SIGTSTP}, {'t', SIGCONT}}, kUntilStopped, 20, {}},
      // A stop the program ignored is forgotten: a monitor's later stop of it alone is its own.
      {{{'g', SIGTSTP}, {'p', SIGSTOP}, {'p', SIGCONT}}, 700, 1, {"--ignore=20"}},
  };
  for (const auto& sequence : sequences) {
    SCOPED_TRACE(testing::PrintToString(sequence.steps) + " " + std::to_string(sequence.gap_ms));
    for (const bool directly : {true, false}) {
      SCOPED_TRACE(directly ? "started directly" : "under the tool");
      for (int run = 0; run < (directly ? 1 : sequence.runs); ++run) {
        std::vector<std::string> probe = {"--ready", "--run-ms=300"};
        probe.insert(probe.end(), sequence.probe.begin(), sequence.probe.end());
        if (sequence.gap_ms > 100) probe[1] = "--run-ms=2000";
        StartedProcess started(directly ? kProbe : kTool, directly ? probe : ToolOnProbe(probe),
                               kJob);
        ASSERT_TRUE(started.ReadUntil("probe ready"));
        const pid_t program = ProbePid(started.Output());
        for (const auto& [target, signal_number] : sequence.steps) {
          kill(target == 't'   ? started.pid()
               : target == 'p' ? program
                               : -started.pid(),
               signal_number);
          if (sequence.gap_ms == kUntilStopped) {
            for (int ms = 0; signal_number != SIGCONT && StateOf(program) != 'T' && ms < 2000;
                 ++ms) {
              usleep(1000);
            }
          } else {
            usleep(static_cast<useconds_t>(sequence.gap_ms) * 1000);
          }
        }
        EXPECT_TRUE(EndsWithin(started.pid(), 4000)) << "run " << run;
        kill(started.pid(), SIGKILL);  // a hung run must not hang the test
        if (directly) kill(program, SIGKILL);
        const ProcessResult result = started.Finish();
        if (!directly) {
          EXPECT_NE(result.output.find(ExitLine(0) + "\n"), std::string::npos) << result.output;
        }
      }
    }
  }
}

// A Ctrl+C in the first milliseconds of a run ends it as it would end the program started
// directly: the tool ends by it, whether the program existed yet or not. The long PATH makes the
// time before the program exists long.
TEST(SignalsEndToEnd, AnEarlyCtrlCIsNeverLost) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  StartOptions options;
  options.terminal = ptsname(master);
  const std::string path = std::getenv("PATH");
  std::string long_path;
  for (int i = 0; i < 2000; ++i) long_path += "/nonexistent/" + std::to_string(i) + ":";
  setenv("PATH", (long_path + fs::path(kProbe).parent_path().string()).c_str(), 1);
  int lost = 0;
  for (int run = 0; run < 300; ++run) {
    StartedProcess started(kTool, {"0", "probe_child", "--run-ms=1000"}, options);
    while (tcgetpgrp(master) != started.pid()) {
    }
    usleep(static_cast<useconds_t>(run % 30) * 100);
    EXPECT_EQ(write(master, "\x03", 1), 1);
    const ProcessResult result = started.Finish();
    if (result.exit_status != 128 + SIGINT) ++lost;
  }
  setenv("PATH", path.c_str(), 1);
  close(master);
  EXPECT_EQ(lost, 0) << "of 300";
}

TEST(SignalsEndToEnd, AProgramThatLeavesTheJobIsWaitedForAndItsScriptEnded) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const ScratchFolder scratch;
  const std::string script = (scratch.path() / "script").string();
  std::ofstream(script) << "sleep 8 & echo pid:$!; wait\n";
  const struct {
    const char* name;
    std::vector<std::string> directly;
    std::vector<std::string> under_the_tool;
    bool sid_is_pid;  // else: the script's sleep is gone with it
  } cases[] = {
      {"setsid",
       {"/usr/bin/setsid", kProbe, "--ready", "--status"},
       {kTool, "0", "/usr/bin/setsid", kProbe, "--ready", "--status"},
       true},
      {"timeout's TERM to its command, then its group",
       {"/usr/bin/timeout", "1", "/bin/sh", script},
       {"/usr/bin/timeout", "1", kTool, "0", "/bin/sh", script},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto* command : {&c.directly, &c.under_the_tool}) {
      SCOPED_TRACE(command->front());
      StartedProcess started(command->front(), {command->begin() + 1, command->end()}, {});
      const ProcessResult result = started.Finish();
      const pid_t program = ProbePid(result.output);
      if (c.sid_is_pid) {
        EXPECT_NE(result.output.find("sid:" + std::to_string(program) + "\n"), std::string::npos)
            << result.output;
        // The tool waited for the program, which did not leave its start behind to do so.
        EXPECT_GE(result.output.find("Child process exited"), result.output.find("probe ready"));
      } else {
        EXPECT_TRUE(EndsWithin(program, 1000)) << "the script's sleep is left";
      }
    }
  }
}

TEST(SignalsEndToEnd, SignalsTheChildHasAlreadyOrIgnoresAreNotRelayed) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const struct {
    const char* name;
    StartOptions start;
    std::vector<std::string> probe;
    int from_outside;  // sent to the tool by the test
    std::string child_shows;
  } cases[] = {
      {"sent by the child", kJob, {"--catch=15", "--signal-parent=15"}, 0, Caught(SIGTERM, 0)},
      {"ignored when the tool started",
       {true, {SIGHUP}, {}},
       {"--status"},
       SIGHUP,
       "SigIgn:\t0000000000000001\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> probe = {"--ready", "--run-ms=600"};
    probe.insert(probe.end(), c.probe.begin(), c.probe.end());
    StartedProcess tool(kTool, ToolOnProbe(probe), c.start);
    ASSERT_TRUE(tool.ReadUntil("probe ready"));
    if (c.from_outside != 0) kill(tool.pid(), c.from_outside);
    const ProcessResult result = tool.Finish();
    EXPECT_NE(result.output.find(c.child_shows), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(ExitLine(0) + "\n"), std::string::npos) << result.output;
    EXPECT_EQ(result.exit_status, 0);
  }
}

// The lines of the probe's --status report, less the process group and the pid, which `group`
// and `pid` get.
std::string StatusLines(const std::string& output, std::string& group, std::string& pid) {
  const std::size_t from = output.find("SigBlk:");
  std::string lines =
      from == std::string::npos ? "" : output.substr(from, output.find("probe ready") - from);
  for (auto* const field : {&group, &pid}) {
    const std::string name = field == &group ? "pgrp:" : "pid:";
    const std::size_t at = lines.find("\n" + name);
    if (at == std::string::npos) continue;
    const std::size_t end = lines.find('\n', at + 1);
    *field = lines.substr(at + 1 + name.size(), end - at - 1 - name.size());
    lines.erase(at, end - at);
  }
  return lines;
}

TEST(SignalsEndToEnd, TheChildStartsAsIfStartedDirectly) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const struct {
    const char* name;
    StartOptions start;
    const char* ignored;  // as /proc shows it
  } cases[] = {
      {"all at their default", {true, {}, {}}, "0000000000000000"},
      {"SIGHUP ignored (nohup), SIGUSR1 and SIGTERM blocked",
       {true, {SIGHUP}, {SIGUSR1, SIGTERM}},
       "0000000000000001"},
      {"SIGINT and SIGQUIT ignored (a background job), SIGPIPE too",
       {true, {SIGINT, SIGQUIT, SIGPIPE}, {}},
       "0000000000001006"},
      {"glibc's signals 32 and 33 ignored, as its posix_spawn leaves them",
       {true, {32, 33}, {}},
       "0000000180000000"},
      {"glibc's signals 32 and 33 blocked, through the tool's writes",
       {true, {}, {32, 33}},
       "0000000000000000"},
      {"in the caller's process group", {false, {}, {SIGCHLD}}, "0000000000000000"},
      {"SIGCHLD ignored, as exec keeps it", {true, {SIGCHLD}, {}}, "0000000000010000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartedProcess direct(kProbe, {"--status", "--ready"}, c.start);
    const pid_t direct_pid = direct.pid();
    const ProcessResult direct_result = direct.Finish();
    StartedProcess tool(kTool, ToolOnProbe({"--status", "--ready"}), c.start);
    const pid_t tool_pid = tool.pid();
    const ProcessResult tool_result = tool.Finish();

    std::string group;
    std::string pid;
    const std::string expected = StatusLines(direct_result.output, group, pid);
    EXPECT_NE(expected.find(std::string("SigIgn:\t") + c.ignored), std::string::npos) << expected;
    EXPECT_EQ(group, std::to_string(c.start.own_process_group ? direct_pid : getpgrp()));
    // Under the tool the child stays in the tool's process group, the job's.
    EXPECT_EQ(StatusLines(tool_result.output, group, pid), expected);
    EXPECT_EQ(group, std::to_string(c.start.own_process_group ? tool_pid : getpgrp()));
    EXPECT_EQ(tool_result.exit_status, 0);
  }
}

TEST(SignalsEndToEnd, AReaderThatGoesAwayOrLagsLosesNoChildAndNoLine) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const std::string long_argument(8000, 'x');  // more than the small pipe holds
  const struct {
    const char* name;
    const char* close_after;  // nullptr: the reader stays
    bool no_reader;           // there is none from the start
    bool slow_non_blocking;   // a one-page, non-blocking pipe, read only after a while
  } cases[] = {
      {"while the child runs", "probe ready", false, false},
      {"before the tool has printed anything", nullptr, true, false},
      {"a non-blocking pipe that is full for a while", nullptr, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder scratch;
    const fs::path mark = scratch.path() / "ended";
    StartOptions start = kJob;
    start.no_reader = c.no_reader;
    start.slow_non_blocking = c.slow_non_blocking;
    // A child that writes nothing itself where the pipe is the tool's test alone.
    const std::vector<std::string> arguments =
        c.slow_non_blocking ? std::vector<std::string>{"0", "/bin/true", long_argument}
                            : ToolOnProbe({"--ready", "--run-ms=300", "--mark=" + mark.string()});
    StartedProcess tool(kTool, arguments, start);
    if (c.close_after != nullptr) {
      ASSERT_TRUE(tool.ReadUntil(c.close_after));
      tool.CloseOutput();
    }
    if (c.slow_non_blocking) usleep(500000);
    const ProcessResult result = tool.Finish();
    EXPECT_EQ(result.exit_status, 0);
    if (c.slow_non_blocking) {
      EXPECT_NE(result.output.find(long_argument + "\n   Preferred NUMA node: 0\n"),
                std::string::npos)
          << "the whole summary";
      EXPECT_EQ(result.output.substr(result.output.size() - ExitLine(0).size() - 1),
                ExitLine(0) + "\n");
    } else {
      // With no reader at all the child dies of its own SIGPIPE as it prints, as it would alone.
      EXPECT_EQ(fs::exists(mark), !c.no_reader);
    }
  }
}

// Open MPI's mpirun starts each rank as `sh -c RANK_LINE`; the rank lines are the README's.
TEST(SignalsEndToEnd, UnderMpirunEachRankHasItsNodeAndItsEnd) {
  SKIP_WITHOUT_MEMORY_POLICIES();
  const std::vector<std::string> mpirun = {"--allow-run-as-root", "--oversubscribe", "-np", "2"};
  std::vector<std::string> trial = mpirun;
  trial.insert(trial.end(), {"true"});
  if (access("/usr/bin/mpirun", X_OK) != 0 || RunProcess("/usr/bin/mpirun", trial).exit_status) {
    GTEST_SKIP() << "Open MPI's mpirun cannot start here";
  }
  const std::string node =
      "$((OMPI_COMM_WORLD_LOCAL_RANK % "
      "$(ls -d /sys/devices/system/node/node[0-9]* | wc -l)))";
  const std::string tool = "'" + kTool + "' " + node + " ";
  const std::string carry_code =
      " | awk '{ print; fflush() } /^ Child process exited with code / { code = $NF } "
      "END { exit code == \"\" ? 2 : code }'";
  const std::string trap =
      "/bin/sh -c '\"trap \\\"echo rank got TERM; exit 9\\\" TERM; "
      "echo rank $OMPI_COMM_WORLD_RANK ready; sleep 10 & wait\"'";
  const struct {
    const char* name;
    std::string rank_line;
    bool terminate;  // SIGTERM to mpirun once both ranks are ready
    std::string each_rank_shows;
    int mpirun_status;
  } cases[] = {
      {"the tool's status, 0", "exec " + tool + kProbe + " --exit=3", false, ExitLine(3), 0},
      {"the child's code, carried out", tool + kProbe + " --exit=3" + carry_code, false,
       ExitLine(3), 3},
      {"mpirun ended by SIGTERM", "exec " + tool + trap, true, ExitLine(9), 1},
  };
  int nodes = 0;
  for (const auto& entry : fs::directory_iterator("/sys/devices/system/node")) {
    nodes += entry.path().filename().string().rfind("node", 0) == 0 &&
             std::isdigit(entry.path().filename().string()[4]);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments = mpirun;
    arguments.insert(arguments.end(), {"sh", "-c", c.rank_line});
    StartedProcess started("/usr/bin/mpirun", arguments, kJob);
    if (c.terminate) {
      ASSERT_TRUE(started.ReadUntil("rank 0 ready") && started.ReadUntil("rank 1 ready"));
      kill(started.pid(), SIGTERM);
    }
    const ProcessResult result = started.Finish();
    // Each rank's summary shows its node: rank 0's and rank 1's, the same one on a 1-node machine.
    for (int rank = 0; rank < 2; ++rank) {
      const std::string summary = "Preferred NUMA node: " + std::to_string(rank % nodes) + "\n";
      EXPECT_EQ(Count(result.output, summary), nodes == 1 ? 2u : 1u) << result.output;
    }
    // mpirun's SIGKILL follows its SIGTERM within a second: on a loaded machine it may end a rank
    // before its trap has run. Whatever end is reported is the program's own.
    const std::size_t ends = Count(result.output, c.each_rank_shows);
    EXPECT_EQ(Count(result.output, "Child process exited with code"), ends) << result.output;
    EXPECT_TRUE(c.terminate ? ends >= 1 : ends == 2) << result.output;
    EXPECT_EQ(result.exit_status, c.mpirun_status);
  }
}

}  // namespace
