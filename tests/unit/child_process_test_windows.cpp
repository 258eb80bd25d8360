// The Windows launch against stand-ins for the kernel32 calls it makes, linked in place of their
// import-table entries: they answer as scripted and record every call with its arguments.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/child_process.h"

namespace {

using Calls = std::vector<std::string>;

const HANDLE kChildProcess = reinterpret_cast<HANDLE>(0x1234);
const HANDLE kJob = reinterpret_cast<HANDLE>(0x9abc);

struct Kernel {
  // The script.
  bool active = false;  // outside a launch, the calls other tests make pass through to kernel32
  BOOL sizing_result = FALSE;
  SIZE_T sizing_size = 48;
  DWORD sizing_error = ERROR_INSUFFICIENT_BUFFER;
  DWORD init_error = 0;    // non-zero: the initialising call fails with it
  DWORD update_error = 0;  // likewise for UpdateProcThreadAttribute
  DWORD create_error = 0;  // likewise for CreateProcessW
  DWORD job_error = 0;     // likewise for CreateJobObjectW
  // The job the tool runs in, as QueryInformationJobObject(NULL, ...) reads it: none where
  // `in_job` is false. SetInformationJobObject refuses limits with any of `refused_limits`.
  bool in_job = false;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION callers_limits = {};
  JOBOBJECT_CPU_RATE_CONTROL_INFORMATION callers_rate = {};
  DWORD refused_limits = 0;
  DWORD child_exit_code = 0;
  bool child_on_console = true;  // GetConsoleProcessList lists the child
  bool no_system_text = false;   // FormatMessageW finds no text

  // The record.
  Calls calls;
  struct {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    DWORD count;
    DWORD flags;
    SIZE_T size_in;
  } init[2] = {};
  struct {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    DWORD flags;
    DWORD_PTR attribute;
    SIZE_T size;
    PVOID previous_value;
    SIZE_T* return_size;
    std::uint16_t node_then;
  } update = {};
  struct {
    std::wstring application_name;
    std::wstring command_line;
    bool command_line_writable;
    LPSECURITY_ATTRIBUTES process_attributes;
    LPSECURITY_ATTRIBUTES thread_attributes;
    BOOL inherit_handles;
    DWORD creation_flags;
    LPVOID environment;
    LPCWSTR current_directory;
    STARTUPINFOEXW startup;
    bool zero_elsewhere;      // every other field of the startup record
    std::uint16_t node_then;  // read through the address the list recorded
  } create = {};
  PHANDLER_ROUTINE handler = nullptr;
  struct {
    DWORD limit_flags;
    DWORD length;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;  // as last set
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate;
    HANDLE assigned_process;
  } job = {};
  HANDLE waited_handle = nullptr;
  DWORD waited_milliseconds = 0;
  HANDLE exit_code_handle = nullptr;
  LPPROC_THREAD_ATTRIBUTE_LIST deleted_list = nullptr;
  struct {
    DWORD flags;
    LPCVOID source;
    DWORD message_id;
    DWORD language_id;
    DWORD size;
    va_list* arguments;
  } format = {};
} kernel;

BOOL Fail(DWORD error_code) {
  SetLastError(error_code);
  return FALSE;
}

std::wstring TextOf(DWORD code) { return L"text of " + std::to_wstring(code) + L"\r\n"; }

// One launch as the tool makes it, under the script set beforehand.
std::int32_t Launch(const std::wstring& application_name, std::wstring command_line,
                    std::uint16_t node) {
  kernel.active = true;
  StartChild(application_name, command_line, node);
  const std::int32_t code = WaitForChild();
  EndAsTheChildEnded();
  kernel.active = false;
  return code;
}

class ChildProcessTest : public testing::Test {
 protected:
  void SetUp() override { kernel = Kernel{}; }
  void TearDown() override { kernel.active = false; }
};

TEST_F(ChildProcessTest, PassesEveryCallTheArgumentsOfTheLaunch) {
  kernel.child_exit_code = 3;
  EXPECT_EQ(Launch(L"indigo benchmark.exe", L"\"indigo benchmark.exe\" a b", 7), 3);

  EXPECT_EQ(kernel.calls,
            (Calls{"InitializeProcThreadAttributeList(sizing)", "InitializeProcThreadAttributeList",
                   "UpdateProcThreadAttribute", "SetConsoleCtrlHandler", "CreateProcessW",
                   "CreateJobObjectW", "QueryInformationJobObject", "SetInformationJobObject",
                   "QueryInformationJobObject", "AssignProcessToJobObject", "WaitForSingleObject",
                   "GetExitCodeProcess", "DeleteProcThreadAttributeList"}));
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
  EXPECT_TRUE(create.zero_elsewhere);
  EXPECT_EQ(create.node_then, 7) << "the node's address must still hold it when the child starts";

  // Ends with the tool; the program's own children do not.
  EXPECT_EQ(kernel.job.limit_flags, 0x3000u);
  EXPECT_EQ(kernel.job.length, sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION));
  EXPECT_EQ(kernel.job.assigned_process, kChildProcess);

  EXPECT_EQ(kernel.waited_handle, kChildProcess);
  EXPECT_EQ(kernel.waited_milliseconds, INFINITE);
  EXPECT_EQ(kernel.exit_code_handle, kChildProcess);
  EXPECT_EQ(kernel.deleted_list, init.list);
}

TEST_F(ChildProcessTest, WaitsForTheChildWhateverHappensAroundIt) {
  const struct {
    const char* name;
    void (*script)(Kernel&);
    DWORD exit_code;
    std::int32_t reported;  // as the report prints it: signed
  } cases[] = {
      {"the sizing call succeeds", [](Kernel& k) { k.sizing_result = TRUE; }, 0, 0},
      {"no job can be made", [](Kernel& k) { k.job_error = ERROR_NOT_SUPPORTED; }, 0xC0000005,
       -1073741819},
      {"the top code", [](Kernel&) {}, 0xFFFFFFFF, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kernel = Kernel{};
    c.script(kernel);
    kernel.child_exit_code = c.exit_code;
    EXPECT_EQ(Launch(L"t", L"\"t\"", 0), c.reported);
    EXPECT_EQ(kernel.calls.size(), kernel.job_error != 0 ? 9u : 13u);
    EXPECT_EQ(kernel.calls.back(), "DeleteProcThreadAttributeList");
  }
}

// The console host signals its processes in turn, oldest or newest first: the tool never waits
// for the child, so that the child meets each event in its own turn.
TEST_F(ChildProcessTest, ConsoleEventsLeaveTheChildItsFate) {
  kernel.in_job = true;
  kernel.callers_limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
  kernel.callers_limits.ProcessMemoryLimit = SIZE_T{512} << 20;
  Launch(L"t", L"\"t\"", 0);
  ASSERT_NE(kernel.handler, nullptr);
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
    kernel.active = true;
    kernel.waited_handle = nullptr;
    kernel.job.limit_flags = kill_on_close;
    kernel.job.limits.ProcessMemoryLimit = 0;
    kernel.child_on_console = c.on_console;
    EXPECT_EQ(kernel.handler(c.event), c.handled);
    kernel.active = false;
    EXPECT_EQ(kernel.waited_handle, nullptr) << "the handler waited for the child";
    EXPECT_EQ(kernel.job.limit_flags & kill_on_close, c.lifted ? 0 : kill_on_close);
    if (c.lifted) {
      EXPECT_EQ(kernel.job.limits.ProcessMemoryLimit, SIZE_T{512} << 20);
    }
  }
}

// A program reads its immediate job's limits to size itself: the tool's job carries those of the
// job the tool runs in, where the system takes them.
TEST_F(ChildProcessTest, TheChildsJobCarriesTheLimitsOfTheToolsJob) {
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
    kernel = Kernel{};
    kernel.in_job = c.in_job;
    kernel.refused_limits = c.refused;
    auto& callers = kernel.callers_limits;
    callers.BasicLimitInformation.LimitFlags = kSizing | JOB_OBJECT_LIMIT_PRIORITY_CLASS;
    callers.BasicLimitInformation.ActiveProcessLimit = 4;
    callers.BasicLimitInformation.Affinity = 0xF;
    callers.ProcessMemoryLimit = SIZE_T{512} << 20;
    callers.JobMemoryLimit = SIZE_T{2} << 30;
    kernel.callers_rate = {c.rate_flags, {5000}};
    Launch(L"t", L"\"t\"", 0);
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
    EXPECT_EQ(kernel.job.assigned_process, kChildProcess);
  }
}

TEST_F(ChildProcessTest, NamesEachFailedStepWithTheSystemsTextAndStartsNothing) {
  const struct {
    const char* name;
    void (*script)(Kernel&);
    const wchar_t* operation;
    DWORD reported_code;
    std::wstring reason;
    Calls calls;  // up to the text's lookup
  } cases[] = {
      {"sizing fails; its code is the one reported",
       [](Kernel& k) { k.sizing_error = 5; },
       L"InitializeProcThreadAttributeList",
       5,
       TextOf(5),
       {"InitializeProcThreadAttributeList(sizing)"}},
      {"sizing asks for more than the buffer holds",
       [](Kernel& k) { k.sizing_size = 4097; },
       L"InitializeProcThreadAttributeList",
       ERROR_INSUFFICIENT_BUFFER,
       TextOf(ERROR_INSUFFICIENT_BUFFER),
       {"InitializeProcThreadAttributeList(sizing)"}},
      {"initialising fails",
       [](Kernel& k) { k.init_error = 8; },
       L"InitializeProcThreadAttributeList",
       8,
       TextOf(8),
       {"InitializeProcThreadAttributeList(sizing)", "InitializeProcThreadAttributeList"}},
      {"setting the node fails",
       [](Kernel& k) { k.update_error = ERROR_NOT_SUPPORTED; },
       L"UpdateProcThreadAttribute",
       ERROR_NOT_SUPPORTED,
       TextOf(ERROR_NOT_SUPPORTED),
       {"InitializeProcThreadAttributeList(sizing)", "InitializeProcThreadAttributeList",
        "UpdateProcThreadAttribute"}},
      {"creating the child fails, with a code the system has no text for",
       [](Kernel& k) {
         k.create_error = 0xE0000001;
         k.no_system_text = true;
       },
       L"CreateProcess",
       0xE0000001,
       L"unknown error 3758096385 (0xE0000001)\n",
       {"InitializeProcThreadAttributeList(sizing)", "InitializeProcThreadAttributeList",
        "UpdateProcThreadAttribute", "SetConsoleCtrlHandler", "CreateProcessW"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kernel = Kernel{};
    c.script(kernel);
    kernel.active = true;
    try {
      std::wstring command_line = L"\"t\"";
      StartChild(L"t", command_line, 1);
      ADD_FAILURE() << "started";
    } catch (const ChildStartFailure& failure) {
      EXPECT_STREQ(failure.operation, c.operation);
      EXPECT_EQ(failure.reason, c.reason);
    }
    kernel.active = false;
    Calls expected_calls = c.calls;
    expected_calls.push_back("FormatMessageW");
    EXPECT_EQ(kernel.calls, expected_calls);  // no wait, no exit code, list not released
    EXPECT_EQ(kernel.format.flags, 0x1200u);
    EXPECT_EQ(kernel.format.source, nullptr);
    EXPECT_EQ(kernel.format.message_id, c.reported_code);
    EXPECT_EQ(kernel.format.language_id, 0x400u);
    EXPECT_EQ(kernel.format.size, 65536u);
    EXPECT_EQ(kernel.format.arguments, nullptr);
  }
}

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

}  // namespace

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
#define STAND_IN(call)                       \
  extern "C" decltype(&(call)) __imp_##call; \
  decltype(&(call)) __imp_##call
STAND_IN(InitializeProcThreadAttributeList) = [](LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD count,
                                                 DWORD flags, PSIZE_T size) -> BOOL {
  const bool sizing = list == nullptr;
  kernel.calls.push_back(sizing ? "InitializeProcThreadAttributeList(sizing)"
                                : "InitializeProcThreadAttributeList");
  kernel.init[sizing ? 0 : 1] = {list, count, flags, *size};
  if (sizing) {
    *size = kernel.sizing_size;
    return kernel.sizing_result ? TRUE : Fail(kernel.sizing_error);
  }
  if (kernel.init_error != 0) return Fail(kernel.init_error);
  std::memset(list, 0, sizeof(const std::uint16_t*));
  return TRUE;
};
// The list, the caller's storage, records where the node is, as Windows' does.
STAND_IN(UpdateProcThreadAttribute) = [](LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags,
                                         DWORD_PTR attribute, PVOID value, SIZE_T size,
                                         PVOID previous_value, PSIZE_T return_size) -> BOOL {
  kernel.calls.push_back("UpdateProcThreadAttribute");
  kernel.update = {list,
                   flags,
                   attribute,
                   size,
                   previous_value,
                   return_size,
                   *static_cast<const std::uint16_t*>(value)};
  if (kernel.update_error != 0) return Fail(kernel.update_error);
  std::memcpy(list, &value, sizeof value);
  return TRUE;
};
STAND_IN(DeleteProcThreadAttributeList) = [](LPPROC_THREAD_ATTRIBUTE_LIST list) {
  kernel.calls.push_back("DeleteProcThreadAttributeList");
  kernel.deleted_list = list;
};
STAND_IN(CreateProcessW) =
    [](LPCWSTR application_name, LPWSTR command_line, LPSECURITY_ATTRIBUTES process_attributes,
       LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles, DWORD creation_flags,
       LPVOID environment, LPCWSTR current_directory, LPSTARTUPINFOW startup_info,
       LPPROCESS_INFORMATION process_information) -> BOOL {
  if (!kernel.active) {
    return Real<decltype(&CreateProcessW)>("CreateProcessW")(
        application_name, command_line, process_attributes, thread_attributes, inherit_handles,
        creation_flags, environment, current_directory, startup_info, process_information);
  }
  kernel.calls.push_back("CreateProcessW");
  auto& c = kernel.create;
  c.application_name = application_name;
  c.command_line = command_line;
  // The system may write into the command line: prove that it can, then put it back.
  const wchar_t first = command_line[0];
  command_line[0] = L'#';
  c.command_line_writable = command_line[0] == L'#';
  command_line[0] = first;
  c.process_attributes = process_attributes;
  c.thread_attributes = thread_attributes;
  c.inherit_handles = inherit_handles;
  c.creation_flags = creation_flags;
  c.environment = environment;
  c.current_directory = current_directory;
  std::memcpy(&c.startup, startup_info, sizeof c.startup);
  const STARTUPINFOW& s = c.startup.StartupInfo;
  const DWORD numbers = s.dwX | s.dwY | s.dwXSize | s.dwYSize | s.dwXCountChars | s.dwYCountChars |
                        s.dwFillAttribute | s.dwFlags | s.wShowWindow | s.cbReserved2;
  c.zero_elsewhere = numbers == 0 && !s.lpReserved && !s.lpDesktop && !s.lpTitle &&
                     !s.lpReserved2 && !s.hStdInput && !s.hStdOutput && !s.hStdError;
  const std::uint16_t* node = nullptr;
  if (c.startup.lpAttributeList != nullptr) {
    std::memcpy(&node, c.startup.lpAttributeList, sizeof node);
  }
  c.node_then = node != nullptr ? *node : 0xDEAD;
  if (kernel.create_error != 0) return Fail(kernel.create_error);
  *process_information = {kChildProcess, reinterpret_cast<HANDLE>(0x5678), 42, 43};
  return TRUE;
};
STAND_IN(SetConsoleCtrlHandler) = [](PHANDLER_ROUTINE handler, BOOL add) -> BOOL {
  kernel.calls.push_back("SetConsoleCtrlHandler");
  if (add) kernel.handler = handler;
  return TRUE;
};
STAND_IN(GetConsoleProcessList) = [](LPDWORD process_ids, DWORD count) -> DWORD {
  const DWORD attached[] = {7, 42};  // the tool, and the child where it is attached
  const DWORD listed = kernel.child_on_console ? 2 : 1;
  std::copy(attached, attached + std::min(listed, count), process_ids);
  return listed;
};
STAND_IN(CreateJobObjectW) = [](LPSECURITY_ATTRIBUTES attributes, LPCWSTR name) -> HANDLE {
  kernel.calls.push_back("CreateJobObjectW");
  if (kernel.job_error != 0 || attributes != nullptr || name != nullptr) {
    Fail(kernel.job_error);
    return nullptr;
  }
  return kJob;
};
STAND_IN(SetInformationJobObject) = [](HANDLE job, JOBOBJECTINFOCLASS information_class,
                                       LPVOID information, DWORD length) -> BOOL {
  kernel.calls.push_back("SetInformationJobObject");
  if (job != kJob) return Fail(ERROR_INVALID_HANDLE);
  if (information_class == JobObjectCpuRateControlInformation) {
    std::memcpy(&kernel.job.rate, information, sizeof kernel.job.rate);
    return TRUE;
  }
  const auto* limits = static_cast<const JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(information);
  if (information_class != JobObjectExtendedLimitInformation ||
      (limits->BasicLimitInformation.LimitFlags & kernel.refused_limits) != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  kernel.job.limit_flags = limits->BasicLimitInformation.LimitFlags;
  kernel.job.length = length;
  kernel.job.limits = *limits;
  return TRUE;
};
STAND_IN(QueryInformationJobObject) = [](HANDLE job, JOBOBJECTINFOCLASS information_class,
                                         LPVOID information, DWORD length, LPDWORD) -> BOOL {
  kernel.calls.push_back("QueryInformationJobObject");
  if (job != nullptr || !kernel.in_job) return Fail(ERROR_INVALID_PARAMETER);
  const bool rate = information_class == JobObjectCpuRateControlInformation;
  const void* record = rate ? static_cast<const void*>(&kernel.callers_rate)
                            : static_cast<const void*>(&kernel.callers_limits);
  const DWORD size = rate ? sizeof kernel.callers_rate : sizeof kernel.callers_limits;
  if (length != size) return Fail(ERROR_BAD_LENGTH);
  std::memcpy(information, record, size);
  return TRUE;
};
STAND_IN(AssignProcessToJobObject) = [](HANDLE, HANDLE process) -> BOOL {
  kernel.calls.push_back("AssignProcessToJobObject");
  kernel.job.assigned_process = process;
  return TRUE;
};
STAND_IN(WaitForSingleObject) = [](HANDLE handle, DWORD milliseconds) -> DWORD {
  if (!kernel.active) {
    return Real<decltype(&WaitForSingleObject)>("WaitForSingleObject")(handle, milliseconds);
  }
  kernel.calls.push_back("WaitForSingleObject");
  kernel.waited_handle = handle;
  kernel.waited_milliseconds = milliseconds;
  return WAIT_OBJECT_0;
};
STAND_IN(GetExitCodeProcess) = [](HANDLE process, LPDWORD exit_code) -> BOOL {
  if (!kernel.active) {
    return Real<decltype(&GetExitCodeProcess)>("GetExitCodeProcess")(process, exit_code);
  }
  kernel.calls.push_back("GetExitCodeProcess");
  kernel.exit_code_handle = process;
  if (process != kChildProcess) return Fail(ERROR_INVALID_HANDLE);
  *exit_code = kernel.child_exit_code;
  return TRUE;
};
STAND_IN(FormatMessageW) = [](DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                              LPWSTR buffer, DWORD size, va_list* arguments) -> DWORD {
  if (!kernel.active) {
    return Real<decltype(&FormatMessageW)>("FormatMessageW")(flags, source, message_id, language_id,
                                                             buffer, size, arguments);
  }
  kernel.calls.push_back("FormatMessageW");
  kernel.format = {flags, source, message_id, language_id, size, arguments};
  if (kernel.no_system_text) return static_cast<DWORD>(Fail(ERROR_MR_MID_NOT_FOUND));
  const std::wstring text = TextOf(message_id);
  text.copy(buffer, text.size());
  buffer[text.size()] = L'\0';
  return static_cast<DWORD>(text.size());
};
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
