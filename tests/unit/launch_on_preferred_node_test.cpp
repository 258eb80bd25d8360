// The launch against the recording double of the kernel interface.
#include "launch/launch_on_preferred_node.h"

#include <gtest/gtest.h>

#include "launch/system_error_report.h"
#include "support/recording_kernel.h"

namespace {

using Calls = std::vector<std::string>;

class LaunchTest : public testing::Test {
 protected:
  void SetUp() override { ResetRecording(); }
};

TEST_F(LaunchTest, PassesEveryCallTheArgumentsOfTheLaunch) {
  kernel.child_exit_code = 3;
  EXPECT_EQ(LaunchOnPreferredNode(L"indigo benchmark.exe", L"\"indigo benchmark.exe\" a b", 7), 0);

  EXPECT_EQ(
      kernel.calls,
      (Calls{"InitializeProcThreadAttributeList(sizing)", "InitializeProcThreadAttributeList",
             "UpdateProcThreadAttribute", "SetConsoleCtrlHandler", "CreateProcessW",
             "CreateJobObjectW", "QueryInformationJobObject", "SetInformationJobObject",
             "QueryInformationJobObject", "AssignProcessToJobObject", "WaitForSingleObject",
             "GetExitCodeProcess", "DeleteProcThreadAttributeList", "EndAsAnInterruptedChild"}));
  const auto& sizing = kernel.init[0];
  EXPECT_EQ(sizing.count, 1u);
  EXPECT_EQ(sizing.flags, 0u);
  const auto& init = kernel.init[1];
  EXPECT_NE(init.list, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(init.list) % 16, 0u);
  EXPECT_EQ(init.count, 1u);
  EXPECT_EQ(init.flags, 0u);
  EXPECT_EQ(init.size_in, kernel.sizing_size);

  const auto& update = kernel.update;
  EXPECT_EQ(update.list, init.list);
  EXPECT_EQ(update.flags, 0u);
  EXPECT_EQ(update.attribute, 0x20004u);
  EXPECT_EQ(update.size, 2u);
  EXPECT_EQ(update.node_then, 7);
  EXPECT_EQ(update.previous_value, nullptr);
  EXPECT_EQ(update.return_size, nullptr);

  const auto& create = kernel.create;
  EXPECT_EQ(create.application_name, L"indigo benchmark.exe");
  EXPECT_EQ(create.command_line, L"\"indigo benchmark.exe\" a b");
  EXPECT_TRUE(create.command_line_writable);
  EXPECT_EQ(create.process_attributes, nullptr);
  EXPECT_EQ(create.thread_attributes, nullptr);
  EXPECT_EQ(create.inherit_handles, FALSE);
  EXPECT_EQ(create.creation_flags, 0x80000u);
  EXPECT_EQ(create.environment, nullptr);
  EXPECT_EQ(create.current_directory, nullptr);
  EXPECT_EQ(create.startup.StartupInfo.cb, 112u);
  EXPECT_EQ(create.startup.lpAttributeList, init.list);
  EXPECT_TRUE(create.startup_extended_zero_elsewhere);
  EXPECT_EQ(create.node_then, 7) << "the node's address must still hold it when the child starts";
  EXPECT_NE(create.process_information, nullptr);

  // Ends with the tool; the program's own children do not.
  EXPECT_EQ(kernel.job.information_class, JobObjectExtendedLimitInformation);
  EXPECT_EQ(kernel.job.limit_flags, 0x3000u);
  EXPECT_EQ(kernel.job.length, sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION));
  EXPECT_EQ(kernel.job.assigned_process, reinterpret_cast<HANDLE>(0x1234));

  EXPECT_EQ(kernel.waited_handle, reinterpret_cast<HANDLE>(0x1234));
  EXPECT_EQ(kernel.waited_milliseconds, 0xFFFFFFFFu);
  EXPECT_EQ(kernel.exit_code_handle, reinterpret_cast<HANDLE>(0x1234));
  EXPECT_EQ(kernel.deleted_list, init.list);
  EXPECT_EQ(console_output,
            L"\n Waiting for child process to exit ...\n Child process exited with code 3\n");
}

TEST_F(LaunchTest, WaitsForTheChildWhateverHappensAroundIt) {
  const struct {
    const char* name;
    void (*script)(RecordingKernel&);
  } cases[] = {
      {"the sizing call succeeds", [](RecordingKernel& k) { k.sizing_result = TRUE; }},
      {"memory runs out once the child exists",
       [](RecordingKernel& k) { k.console_out_of_memory = true; }},
      {"no job can be made", [](RecordingKernel& k) { k.job_error = ERROR_NOT_SUPPORTED; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRecording();
    c.script(kernel);
    EXPECT_EQ(LaunchOnPreferredNode(L"t", L"\"t\"", 0), 0);
    EXPECT_EQ(kernel.calls.size(), kernel.job_error != 0 ? 10u : 14u);
    EXPECT_EQ(kernel.calls.back(), "EndAsAnInterruptedChild");
  }
}

TEST_F(LaunchTest, PrintsTheExitCodeAsASigned32BitNumber) {
  const struct {
    DWORD code;
    const wchar_t* line;
  } cases[] = {
      {0, L"\n Child process exited with code 0\n"},
      {0xC0000005, L"\n Child process exited with code -1073741819\n"},
      {0xFFFFFFFF, L"\n Child process exited with code -1\n"},
      {0x7FFFFFFF, L"\n Child process exited with code 2147483647\n"},
  };
  for (const auto& c : cases) {
    ResetRecording();
    kernel.child_exit_code = c.code;
    EXPECT_EQ(LaunchOnPreferredNode(L"t", L"\"t\"", 1), 0);
    EXPECT_EQ(console_output, WideText(L"\n Waiting for child process to exit ...") + c.line);
  }
}

// The console host signals its processes in turn, oldest or newest first: the tool never waits
// for the child, so that the child meets each event in its own turn.
TEST_F(LaunchTest, ConsoleEventsLeaveTheChildItsFateAndTheToolItsLastLine) {
  kernel.in_job = true;
  kernel.callers_limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
  kernel.callers_limits.ProcessMemoryLimit = SIZE_T{512} << 20;
  EXPECT_EQ(LaunchOnPreferredNode(L"t", L"\"t\"", 0), 0);
  EXPECT_EQ(kernel.ended_as_child, reinterpret_cast<HANDLE>(0x1234));
  const auto& installed = kernel.control_handler;
  ASSERT_NE(installed.handler, nullptr);
  EXPECT_EQ(installed.add, TRUE);
  const DWORD kill_on_close = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  const struct {
    DWORD event;
    bool on_console;  // the child is attached to the tool's console
    BOOL handled;     // TRUE: the tool goes on; FALSE: the default ends it
    bool lifted;      // the job's kill-on-close, so that the child outlives the tool
  } cases[] = {
      {CTRL_C_EVENT, true, TRUE, false},        {CTRL_BREAK_EVENT, true, TRUE, false},
      {CTRL_C_EVENT, false, FALSE, true},       {CTRL_BREAK_EVENT, false, FALSE, true},
      {CTRL_CLOSE_EVENT, true, FALSE, true},    {CTRL_CLOSE_EVENT, false, FALSE, true},
      {CTRL_LOGOFF_EVENT, true, TRUE, true},    {CTRL_LOGOFF_EVENT, false, TRUE, true},
      {CTRL_SHUTDOWN_EVENT, true, FALSE, true}, {CTRL_SHUTDOWN_EVENT, false, FALSE, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.event) + (c.on_console ? " on the console" : " off it"));
    kernel.waited_handle = nullptr;
    kernel.job.limit_flags = kill_on_close;
    kernel.job.limits.ProcessMemoryLimit = 0;
    kernel.child_on_console = c.on_console;
    EXPECT_EQ(installed.handler(c.event), c.handled);
    EXPECT_EQ(kernel.waited_handle, nullptr) << "the handler waited for the child";
    EXPECT_EQ(kernel.job.limit_flags & kill_on_close, c.lifted ? 0 : kill_on_close);
    if (c.lifted) {
      EXPECT_EQ(kernel.job.limits.ProcessMemoryLimit, SIZE_T{512} << 20);
    }
  }
}

// A program reads its immediate job's limits to size itself: the tool's job carries those of the
// job the tool runs in, where the system takes them.
TEST_F(LaunchTest, TheChildsJobCarriesTheLimitsOfTheToolsJob) {
  constexpr DWORD kBinding = 0x3000;
  constexpr DWORD kSizing = JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_JOB_MEMORY |
                            JOB_OBJECT_LIMIT_ACTIVE_PROCESS | JOB_OBJECT_LIMIT_AFFINITY;
  constexpr DWORD kRate = JOB_OBJECT_CPU_RATE_CONTROL_ENABLE | JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP;
  const struct {
    const char* name;
    bool in_job;
    DWORD refused;
    DWORD rate_flags;
    DWORD flags;  // the child's job's
    SIZE_T process_memory;
    DWORD rate;
  } cases[] = {
      {"no job around the tool", false, 0, kRate, kBinding, 0, 0},
      {"its memory, processes and processors; not its priority", true, 0, 0, kBinding | kSizing,
       SIZE_T{512} << 20, 0},
      {"copying refused: the tool's own alone", true, JOB_OBJECT_LIMIT_JOB_MEMORY, 0, kBinding, 0,
       0},
      {"a CPU rate, without its notices", true, 0, kRate | JOB_OBJECT_CPU_RATE_CONTROL_NOTIFY,
       kBinding | kSizing, SIZE_T{512} << 20, 5000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRecording();
    kernel.in_job = c.in_job;
    kernel.refused_limits = c.refused;
    auto& callers = kernel.callers_limits;
    callers.BasicLimitInformation.LimitFlags = kSizing | JOB_OBJECT_LIMIT_PRIORITY_CLASS;
    callers.BasicLimitInformation.ActiveProcessLimit = 4;
    callers.BasicLimitInformation.Affinity = 0xF;
    callers.ProcessMemoryLimit = SIZE_T{512} << 20;
    callers.JobMemoryLimit = SIZE_T{2} << 30;
    kernel.callers_rate = {c.rate_flags, 5000};
    EXPECT_EQ(LaunchOnPreferredNode(L"t", L"\"t\"", 0), 0);
    const auto& limits = kernel.job.limits;
    EXPECT_EQ(limits.BasicLimitInformation.LimitFlags, c.flags);
    EXPECT_EQ(limits.ProcessMemoryLimit, c.process_memory);
    if ((c.flags & kSizing) != 0) {
      EXPECT_EQ(limits.JobMemoryLimit, SIZE_T{2} << 30);
      EXPECT_EQ(limits.BasicLimitInformation.ActiveProcessLimit, 4u);
      EXPECT_EQ(limits.BasicLimitInformation.Affinity, 0xFu);
    }
    EXPECT_EQ(kernel.job.rate.ControlFlags, c.rate == 0 ? 0 : kRate);
    EXPECT_EQ(kernel.job.rate.CpuRate, c.rate);
    EXPECT_EQ(kernel.job.assigned_process, reinterpret_cast<HANDLE>(0x1234));
  }
}

struct FailureCase {
  const char* name;
  void (*script)(RecordingKernel&);
  const wchar_t* operation;
  DWORD reported_code;
  Calls calls;  // up to the report
};

const FailureCase kFailureCases[] = {
    {"sizing fails; its code is passed explicitly though the last error changes",
     [](RecordingKernel& k) {
       k.sizing_error = 5;
       k.last_error_after_read = 1450;
     },
     L"InitializeProcThreadAttributeList",
     5,
     {"InitializeProcThreadAttributeList(sizing)"}},
    {"sizing asks for more than the buffer holds",
     [](RecordingKernel& k) { k.sizing_size = 4097; },
     L"InitializeProcThreadAttributeList",
     ERROR_INSUFFICIENT_BUFFER,
     {"InitializeProcThreadAttributeList(sizing)"}},
    {"initialising fails",
     [](RecordingKernel& k) { k.init_error = 8; },
     L"InitializeProcThreadAttributeList",
     8,
     {"InitializeProcThreadAttributeList(sizing)", "InitializeProcThreadAttributeList"}},
    {"setting the node fails",
     [](RecordingKernel& k) { k.update_error = ERROR_NOT_SUPPORTED; },
     L"UpdateProcThreadAttribute",
     ERROR_NOT_SUPPORTED,
     {"InitializeProcThreadAttributeList(sizing)", "InitializeProcThreadAttributeList",
      "UpdateProcThreadAttribute"}},
    {"creating the child fails",
     [](RecordingKernel& k) { k.create_error = 2; },
     L"CreateProcess",
     2,
     {"InitializeProcThreadAttributeList(sizing)", "InitializeProcThreadAttributeList",
      "UpdateProcThreadAttribute", "SetConsoleCtrlHandler", "CreateProcessW"}},
};

TEST_F(LaunchTest, ReportsEachFailedStepAndStartsNothing) {
  for (const FailureCase& c : kFailureCases) {
    SCOPED_TRACE(c.name);
    ResetRecording();
    c.script(kernel);
    EXPECT_THROW(LaunchOnPreferredNode(L"t", L"\"t\"", 1), CErr);
    Calls expected_calls = c.calls;
    expected_calls.push_back("FormatMessageW");
    EXPECT_EQ(kernel.calls, expected_calls);  // no wait, no exit code, list not released
    EXPECT_EQ(kernel.format.message_id, c.reported_code);
    EXPECT_EQ(console_output,
              L"\n ERROR - " + WideText(c.operation) + L": " + RecordedSystemText(c.reported_code));
  }
}

}  // namespace
