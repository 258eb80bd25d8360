// A running program seen with a normal user's rights over it, its handle held for the whole look
// so that its number cannot pass to another program meanwhile: the node of every resident page of
// its committed memory, large pages at their size (they are in no working set), and its threads
// from a snapshot with the ideal processor of each, which the preferred-node attribute sets.
#include "platform/program_placement.h"

#include <windows.h>
// After windows.h; PSAPI_VERSION 2 takes the working-set calls from kernel32.
#include <psapi.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "platform/windows/system_text.h"

namespace {

HANDLE ProcessOf(const OpenedProgram& program) {
  return reinterpret_cast<HANDLE>(program.handle);  // NOLINT(performance-no-int-to-ptr)
}

// Why `call` failed for `pid`, in terms the user can act on. A program that is ending refuses
// queries as if the user lacked the rights: its handle says it has ended.
bool Fail(const char* call, unsigned long pid, HANDLE process, PlacementFailure& failure) {
  const DWORD error = GetLastError();
  const std::string name = "process " + std::to_string(pid);
  if ((error == ERROR_INVALID_PARAMETER && process == nullptr) ||
      (process != nullptr && WaitForSingleObject(process, 0) == WAIT_OBJECT_0)) {
    failure = {call, "no " + name + " is running (it may have ended during the look)", true};
  } else if (error == ERROR_ACCESS_DENIED) {
    failure = {call, "not permitted to inspect " + name +
                         ": it runs elevated, as another user or protected; run the probe as its "
                         "user, or elevated"};
  } else {
    failure = {call, SystemText(error)};
  }
  return false;
}

// Pages to ask QueryWorkingSetEx about, in batches: its size is a DWORD of bytes.
class PageQuestions {
 public:
  PageQuestions(HANDLE process, ProgramPlacement& placement)
      : process_(process), placement_(placement) {}

  bool Ask(void* address, SIZE_T page_size) {
    PSAPI_WORKING_SET_EX_INFORMATION page = {};
    page.VirtualAddress = address;
    pages_.push_back(page);
    sizes_.push_back(page_size);
    return pages_.size() < kAtOnce || Answer();
  }

  bool Answer() {
    if (pages_.empty()) return true;
    if (!QueryWorkingSetEx(process_, pages_.data(),
                           static_cast<DWORD>(pages_.size() * sizeof pages_[0]))) {
      return false;
    }
    for (std::size_t i = 0; i < pages_.size(); ++i) {
      const PSAPI_WORKING_SET_EX_BLOCK& block = pages_[i].VirtualAttributes;
      if (block.Valid) placement_.pages_by_node[static_cast<int>(block.Node)].Add(sizes_[i], 1);
    }
    pages_.clear();
    sizes_.clear();
    return true;
  }

 private:
  static constexpr std::size_t kAtOnce = 1 << 16;
  HANDLE process_;
  ProgramPlacement& placement_;
  std::vector<PSAPI_WORKING_SET_EX_INFORMATION> pages_;
  std::vector<SIZE_T> sizes_;
};

// Every committed region's pages, each asked where it lies; a large-page region says so on its
// first page and is asked at that size.
bool CountResidentPages(const OpenedProgram& program, ProgramPlacement& placement,
                        PlacementFailure& failure) {
  const HANDLE process = ProcessOf(program);
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const SIZE_T large = GetLargePageMinimum();
  PageQuestions questions(process, placement);
  MEMORY_BASIC_INFORMATION region = {};
  auto* at = static_cast<char*>(system.lpMinimumApplicationAddress);
  for (; at < system.lpMaximumApplicationAddress; at += region.RegionSize) {
    if (VirtualQueryEx(process, at, &region, sizeof region) != sizeof region) {
      return Fail("VirtualQueryEx", program.pid, process, failure);
    }
    at = static_cast<char*>(region.BaseAddress);
    if (region.State != MEM_COMMIT) continue;
    SIZE_T step = system.dwPageSize;
    PSAPI_WORKING_SET_EX_INFORMATION first = {};
    first.VirtualAddress = at;
    if (!QueryWorkingSetEx(process, &first, sizeof first)) {
      return Fail("QueryWorkingSetEx", program.pid, process, failure);
    }
    if (large != 0 && first.VirtualAttributes.Valid && first.VirtualAttributes.LargePage) {
      step = large;
    }
    for (SIZE_T offset = 0; offset < region.RegionSize; offset += step) {
      if (!questions.Ask(at + offset, step)) {
        return Fail("QueryWorkingSetEx", program.pid, process, failure);
      }
    }
  }
  return questions.Answer() || Fail("QueryWorkingSetEx", program.pid, process, failure);
}

}  // namespace

OpenedProgram::~OpenedProgram() {
  if (handle != -1) CloseHandle(ProcessOf(*this));
}

bool OpenProgram(unsigned long pid, OpenedProgram& program, PlacementFailure& failure) {
  program.pid = pid;
  const HANDLE process =
      OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return Fail("OpenProcess", pid, nullptr, failure);
  program.handle = reinterpret_cast<std::intptr_t>(process);
  return true;
}

bool LookAtProgram(const OpenedProgram& program, ProgramPlacement& placement,
                   PlacementFailure& failure) {
  placement = {};
  const HANDLE process = ProcessOf(program);
  if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
    return Fail("WaitForSingleObject", program.pid, process, failure);
  }
  if (!CountResidentPages(program, placement, failure)) return false;

  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return Fail("CreateToolhelp32Snapshot", program.pid, process, failure);
  }
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != program.pid) continue;
    ThreadPlace thread;
    thread.id = entry.th32ThreadID;
    const HANDLE handle = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    PROCESSOR_NUMBER ideal = {};
    if (handle != nullptr && GetThreadIdealProcessorEx(handle, &ideal)) {
      thread.ideal_group = ideal.Group;
      thread.ideal_processor = ideal.Number;
      USHORT node = 0;
      if (GetNumaProcessorNodeEx(&ideal, &node) && node != 0xFFFF) thread.ideal_node = node;
    }
    if (handle != nullptr) CloseHandle(handle);
    placement.threads.push_back(thread);
  }
  CloseHandle(snapshot);
  if (placement.threads.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return Fail("Thread32First", program.pid, process, failure);
  }
  return true;
}
