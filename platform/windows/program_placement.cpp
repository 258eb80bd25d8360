// A running program seen with a normal user's rights over it: its working set, page by page with
// the node of each, and its threads from a snapshot with the ideal processor of each, which the
// preferred-node attribute sets.
#include "platform/program_placement.h"

#include <windows.h>
// After windows.h; PSAPI_VERSION 2 takes the working-set calls from kernel32.
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

#include "platform/windows/system_text.h"

namespace {

// Why `call` failed for `pid`, in terms the user can act on.
bool Fail(const char* call, unsigned long pid, PlacementFailure& failure) {
  const DWORD error = GetLastError();
  const std::string process = "process " + std::to_string(pid);
  if (error == ERROR_INVALID_PARAMETER && std::string(call) == "OpenProcess") {
    failure = {call, "no " + process + " is running (it may have ended during the look)", true};
  } else if (error == ERROR_ACCESS_DENIED) {
    failure = {call, "not permitted to inspect " + process +
                         ": it runs elevated, as another user or protected; run the probe as its "
                         "user, or elevated"};
  } else {
    failure = {call, SystemText(error)};
  }
  return false;
}

// The addresses of the pages in the working set of `process`.
bool WorkingSetPages(HANDLE process, unsigned long pid, std::vector<ULONG_PTR>& addresses,
                     PlacementFailure& failure) {
  // A count, then one entry a page; the set may grow between a look and the next.
  std::vector<ULONG_PTR> buffer(1 + 4096);
  while (!QueryWorkingSet(process, buffer.data(), static_cast<DWORD>(buffer.size() * 8))) {
    if (GetLastError() != ERROR_BAD_LENGTH) return Fail("QueryWorkingSet", pid, failure);
    buffer.resize(1 + buffer[0] + buffer[0] / 4 + 256);
  }
  const auto* set = reinterpret_cast<const PSAPI_WORKING_SET_INFORMATION*>(buffer.data());
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  addresses.clear();
  for (ULONG_PTR i = 0; i < set->NumberOfEntries; ++i) {
    addresses.push_back(set->WorkingSetInfo[i].VirtualPage * system.dwPageSize);
  }
  return true;
}

}  // namespace

bool LookAtProgram(unsigned long pid, ProgramPlacement& placement, PlacementFailure& failure) {
  placement = {};
  const HANDLE process =
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return Fail("OpenProcess", pid, failure);
  std::vector<ULONG_PTR> addresses;
  const bool listed = WorkingSetPages(process, pid, addresses, failure);
  // Each page's node, in parts, as the query's size is a DWORD of bytes.
  constexpr std::size_t kPagesAtOnce = 1 << 16;
  std::vector<PSAPI_WORKING_SET_EX_INFORMATION> pages(std::min(addresses.size(), kPagesAtOnce));
  const std::size_t page_size = PageSize();
  bool placed = listed;
  for (std::size_t first = 0; placed && first < addresses.size(); first += pages.size()) {
    const std::size_t count = std::min(addresses.size() - first, pages.size());
    for (std::size_t i = 0; i < count; ++i) {
      pages[i].VirtualAddress = reinterpret_cast<PVOID>(addresses[first + i]);
    }
    placed = QueryWorkingSetEx(process, pages.data(), static_cast<DWORD>(count * sizeof pages[0]));
    for (std::size_t i = 0; placed && i < count; ++i) {
      const PSAPI_WORKING_SET_EX_BLOCK& block = pages[i].VirtualAttributes;
      ResidentPages& on_node =
          placement.pages_by_node[block.Valid ? static_cast<int>(block.Node) : -1];
      ++on_node.pages;
      on_node.bytes += page_size;
    }
  }
  if (listed && !placed) Fail("QueryWorkingSetEx", pid, failure);
  CloseHandle(process);
  if (!placed) return false;

  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return Fail("CreateToolhelp32Snapshot", pid, failure);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != pid) continue;
    ThreadPlace thread;
    thread.id = entry.th32ThreadID;
    const HANDLE handle = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
    PROCESSOR_NUMBER ideal = {};
    if (handle != nullptr && GetThreadIdealProcessorEx(handle, &ideal)) {
      thread.ideal_processor = ideal.Group * 64 + ideal.Number;
      USHORT node = 0;
      if (GetNumaProcessorNodeEx(&ideal, &node) && node != 0xFFFF) thread.ideal_node = node;
    }
    if (handle != nullptr) CloseHandle(handle);
    placement.threads.push_back(thread);
  }
  CloseHandle(snapshot);
  return true;
}
