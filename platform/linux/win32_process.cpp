// Linux stand-in for the Win32 process creation the launch code uses: the attribute list, the
// child's creation with the preferred node as its memory policy and the CPUs it starts on, the
// wait and the exit code.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/interrupted_end.h"
#include "platform/linux/child_signals.h"
#include "platform/linux/child_spawn.h"
#include "platform/linux/command_line_split.h"
#include "platform/linux/memory_policy.h"
#include "platform/linux/system_errors.h"
#include "platform/win32_api.h"
#include "text/lossless_utf8.h"

// Lives in the caller's storage. Like Windows, it records where the value is, not the value.
struct PROC_THREAD_ATTRIBUTE_LIST {
  const std::uint16_t* preferred_node;
};

namespace {

struct ChildProcess {
  pid_t pid;
  bool ended;
  int status;
  ChildSignals signals;  // from its creation, for the wait
};

// The children created, standing in for the kernel's process objects. A handle is an index
// into it, plus one; handles are never closed, as the launch closes none. File-level because
// Win32 hands the caller a bare handle, and the wait must find the child's record from it.
std::vector<ChildProcess> children;

HANDLE NewChildHandle(pid_t pid, const ChildSignals& signals) {
  children.push_back(ChildProcess{pid, false, 0, signals});
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(children.size()));
}

ChildProcess* ChildOf(HANDLE handle) {
  const auto index = reinterpret_cast<std::uintptr_t>(handle);
  return index == 0 || index > children.size() ? nullptr : &children[index - 1];
}

DWORD ExitCodeOf(int status) {
  if (WIFSIGNALED(status)) return 128 + static_cast<DWORD>(WTERMSIG(status));
  return static_cast<DWORD>(WEXITSTATUS(status));
}

DWORD WaitFailed(DWORD error_code) {
  SetLastError(error_code);
  return WAIT_FAILED;
}

bool IsAligned(const void* storage) {
  return reinterpret_cast<std::uintptr_t>(storage) % alignof(PROC_THREAD_ATTRIBUTE_LIST) == 0;
}

}  // namespace

BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD attribute_count,
                                       DWORD flags, SIZE_T* size) {
  if (size == nullptr || flags != 0 || attribute_count == 0) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  const SIZE_T required = sizeof(PROC_THREAD_ATTRIBUTE_LIST);
  if (list == nullptr || *size < required) {
    *size = required;
    return FailWith(ERROR_INSUFFICIENT_BUFFER);
  }
  if (!IsAligned(list)) return FailWith(ERROR_INVALID_PARAMETER);
  new (list) PROC_THREAD_ATTRIBUTE_LIST{nullptr};
  return TRUE;
}

BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
                               PVOID value, SIZE_T size, PVOID previous_value,
                               SIZE_T* return_size) {
  if (list == nullptr || flags != 0 || value == nullptr || previous_value != nullptr ||
      return_size != nullptr) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if (attribute != PROC_THREAD_ATTRIBUTE_PREFERRED_NODE) return FailWith(ERROR_NOT_SUPPORTED);
  if (size != sizeof(std::uint16_t)) return FailWith(ERROR_BAD_LENGTH);
  list->preferred_node = static_cast<const std::uint16_t*>(value);
  return TRUE;
}

void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) {
  if (list != nullptr) list->~PROC_THREAD_ATTRIBUTE_LIST();
}

BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                    LPSECURITY_ATTRIBUTES process_attributes,
                    LPSECURITY_ATTRIBUTES thread_attributes, BOOL /*inherit_handles*/,
                    DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                    LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information) {
  // Only what the launch asks for: anything more would silently mean something else here.
  if (application_name == nullptr || command_line == nullptr || startup_info == nullptr ||
      process_information == nullptr) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if (process_attributes != nullptr || thread_attributes != nullptr || environment != nullptr ||
      current_directory != nullptr || (creation_flags & ~EXTENDED_STARTUPINFO_PRESENT) != 0 ||
      startup_info->dwFlags != 0) {
    return FailWith(ERROR_NOT_SUPPORTED);
  }
  const std::uint16_t* preferred_node = nullptr;
  if ((creation_flags & EXTENDED_STARTUPINFO_PRESENT) != 0) {
    if (startup_info->cb != sizeof(STARTUPINFOEXW)) return FailWith(ERROR_INVALID_PARAMETER);
    const auto* extended = reinterpret_cast<const STARTUPINFOEXW*>(startup_info);
    if (extended->lpAttributeList != nullptr) {
      preferred_node = extended->lpAttributeList->preferred_node;
    }
  }

  try {
    const std::string program = EncodeLossless(application_name);
    const std::vector<WideText> split = SplitCommandLine(command_line);
    std::vector<std::string> arguments;
    arguments.reserve(split.size());
    for (const WideText& argument : split) {
      arguments.push_back(EncodeLossless(argument));
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    ScopedPreferredNode preference;
    if (preferred_node != nullptr) {
      if (const int error = preference.Prefer(*preferred_node)) {
        return FailWith(MemoryPolicyError(error, *preferred_node));
      }
    }
    // Windows' ideal node has the child's threads prefer the node's processors: here it starts
    // on one of them, free to go elsewhere.
    const StartCpus cpus = preferred_node != nullptr ? StartCpusFor(*preferred_node) : StartCpus{};
    children.reserve(children.size() + 1);  // so that recording the child cannot fail
    // The tool's signals are held from the first child on; a later one starts as the first did.
    const bool first = children.empty();
    const ChildSignals signals = first ? ChildSignals::Hold() : children.front().signals;
    // A name without a slash is looked up in PATH, as POSIX launchers do.
    const ChildStart start = {program.c_str(),
                              argv.data(),
                              &signals.ChildMask(),
                              &signals.ChildDefaults(),
                              signals.ChildIgnoresSigchld(),
                              &cpus};
    pid_t pid = 0;
    if (const int error = SpawnChild(start, &pid)) {
      if (first) signals.Release();
      return FailWithErrno(error);
    }
    const HANDLE child = NewChildHandle(pid, signals);
    process_information->hProcess = child;
    process_information->hThread = child;  // the child's first thread is the process itself here
    process_information->dwProcessId = static_cast<DWORD>(pid);
    process_information->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
  } catch (const std::bad_alloc&) {
    return FailWithErrno(ENOMEM);
  }
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL /*add*/) {
  // POSIX has no console control events: their counterparts, the terminal's signals, reach the
  // child in the tool's process group, and the wait passes on what it missed. Refused as Windows
  // refuses it: no routine.
  return handler == nullptr ? FailWith(ERROR_INVALID_PARAMETER) : TRUE;
}

DWORD GetConsoleProcessList(DWORD* /*process_ids*/, DWORD /*count*/) {
  return static_cast<DWORD>(FailWith(ERROR_NOT_SUPPORTED));  // no console, no list
}

HANDLE CreateJobObjectW(LPSECURITY_ATTRIBUTES /*job_attributes*/, LPCWSTR /*name*/) {
  FailWith(ERROR_NOT_SUPPORTED);
  return nullptr;
}

BOOL SetInformationJobObject(HANDLE /*job*/, JOBOBJECTINFOCLASS /*information_class*/,
                             LPVOID /*information*/, DWORD /*information_length*/) {
  return FailWith(ERROR_INVALID_HANDLE);  // no job handle exists here
}

BOOL AssignProcessToJobObject(HANDLE /*job*/, HANDLE /*process*/) {
  return FailWith(ERROR_INVALID_HANDLE);
}

BOOL QueryInformationJobObject(HANDLE /*job*/, JOBOBJECTINFOCLASS /*information_class*/,
                               LPVOID /*information*/, DWORD /*information_length*/,
                               DWORD* /*return_length*/) {
  return FailWith(ERROR_INVALID_HANDLE);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  ChildProcess* child = ChildOf(handle);
  if (child == nullptr) return WaitFailed(ERROR_INVALID_HANDLE);
  if (milliseconds != INFINITE) return WaitFailed(ERROR_NOT_SUPPORTED);
  if (!child->ended) {
    if (const int error = child->signals.Wait(child->pid, &child->status)) {
      return WaitFailed(ErrorCodeFromErrno(error));
    }
    child->ended = true;
  }
  return WAIT_OBJECT_0;
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exit_code) {
  ChildProcess* child = ChildOf(process);
  if (child == nullptr || exit_code == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (!child->ended) {
    const pid_t result = waitpid(child->pid, &child->status, WNOHANG);
    if (result < 0) return FailWithErrno(errno);
    child->ended = result == child->pid;
  }
  *exit_code = child->ended ? ExitCodeOf(child->status) : STILL_ACTIVE;
  return TRUE;
}

void EndAsAnInterruptedChild(HANDLE child) {
  const ChildProcess* record = ChildOf(child);
  if (record != nullptr && record->ended) ChildSignals::EndAsTheChildEnded(record->status);
}
