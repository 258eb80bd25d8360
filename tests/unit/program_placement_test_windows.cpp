// Looking at a running program on Windows, with stand-ins for the calls Wine lacks on another
// process (the working set, the threads' ideal processors), linked in place of kernel32's
// import-table entries; the process looked at is the test's own, its threads from a real
// snapshot.
#define PSAPI_VERSION 2
#include <windows.h>
// After windows.h.
#include <psapi.h>

#include <gtest/gtest.h>

#include "platform/program_placement.h"

namespace {

const ULONG_PTR kPages[] = {0x10000, 0x11000, 0x12000};  // on node 0, on node 1, not placed

BOOL WINAPI WorkingSetStandIn(HANDLE, PVOID buffer, DWORD size) {
  auto* set = static_cast<PSAPI_WORKING_SET_INFORMATION*>(buffer);
  set->NumberOfEntries = 3;
  if (size < sizeof(ULONG_PTR) * 4) {
    SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
  }
  for (int i = 0; i < 3; ++i) set->WorkingSetInfo[i].VirtualPage = (kPages[i] / 4096) & 0xFFFFF;
  return TRUE;
}

BOOL WINAPI WorkingSetExStandIn(HANDLE, PVOID buffer, DWORD size) {
  auto* pages = static_cast<PSAPI_WORKING_SET_EX_INFORMATION*>(buffer);
  for (DWORD i = 0; i < size / sizeof *pages; ++i) {
    const auto address = reinterpret_cast<ULONG_PTR>(pages[i].VirtualAddress);
    pages[i].VirtualAttributes.Flags = 0;
    pages[i].VirtualAttributes.Valid = address != kPages[2];
    pages[i].VirtualAttributes.Node = address == kPages[1] ? 1 : 0;
  }
  return TRUE;
}

BOOL WINAPI IdealProcessorStandIn(HANDLE, PPROCESSOR_NUMBER ideal) {
  *ideal = {0, 3, 0};
  return TRUE;
}

BOOL WINAPI NodeOfProcessorStandIn(PPROCESSOR_NUMBER processor, PUSHORT node) {
  *node = processor->Number == 3 ? 1 : 0;
  return TRUE;
}

TEST(ProgramPlacement, GivesEachPagesNodeAndEachThreadsIdealNode) {
  ProgramPlacement placement;
  PlacementFailure failure;
  ASSERT_TRUE(LookAtProgram(GetCurrentProcessId(), placement, failure)) << failure.reason;
  ASSERT_EQ(placement.pages_by_node.size(), 3u);
  for (const int node : {-1, 0, 1}) EXPECT_EQ(placement.pages_by_node[node].pages, 1u) << node;
  ASSERT_FALSE(placement.threads.empty());
  for (const ThreadPlace& thread : placement.threads) {
    EXPECT_EQ(thread.ideal_processor, 3);
    EXPECT_EQ(thread.ideal_node, 1);
  }
  // A process that does not run: its own text, which says so.
  EXPECT_FALSE(LookAtProgram(0xFFFFFFF0, placement, failure));
  EXPECT_TRUE(failure.ended) << failure.call << ": " << failure.reason;
}

}  // namespace

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
extern "C" decltype(&GetThreadIdealProcessorEx) __imp_GetThreadIdealProcessorEx;
decltype(&GetThreadIdealProcessorEx) __imp_GetThreadIdealProcessorEx = IdealProcessorStandIn;
extern "C" decltype(&GetNumaProcessorNodeEx) __imp_GetNumaProcessorNodeEx;
decltype(&GetNumaProcessorNodeEx) __imp_GetNumaProcessorNodeEx = NodeOfProcessorStandIn;
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

// psapi.h declares these without dllimport: the calls go to the functions themselves.
// Named as psapi.h names them.
BOOL WINAPI K32QueryWorkingSet(HANDLE hProcess, PVOID pv, DWORD cb) {
  return WorkingSetStandIn(hProcess, pv, cb);
}
BOOL WINAPI K32QueryWorkingSetEx(HANDLE hProcess, PVOID pv, DWORD cb) {
  return WorkingSetExStandIn(hProcess, pv, cb);
}
