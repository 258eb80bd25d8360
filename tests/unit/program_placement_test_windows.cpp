// Looking at a running program on Windows, with stand-ins for the calls Wine lacks on another
// process (each page's node, the threads' ideal processors), linked in place of kernel32's
// import-table entries; the process looked at is the test's own, its memory regions and threads
// real.
#define PSAPI_VERSION 2
#include <windows.h>
// After windows.h.
#include <psapi.h>

#include <gtest/gtest.h>

#include "platform/program_placement.h"

namespace {

constexpr SIZE_T kLarge = 2 << 20;
char* small_pages = nullptr;  // 3 pages: on node 0, on node 1, not resident
char* large_pages = nullptr;  // 2 large pages on node 1

BOOL WINAPI WorkingSetExStandIn(HANDLE, PVOID buffer, DWORD size) {
  auto* pages = static_cast<PSAPI_WORKING_SET_EX_INFORMATION*>(buffer);
  for (DWORD i = 0; i < size / sizeof *pages; ++i) {
    const auto* address = static_cast<const char*>(pages[i].VirtualAddress);
    PSAPI_WORKING_SET_EX_BLOCK& block = pages[i].VirtualAttributes;
    block.Flags = 0;
    if (address >= large_pages && address < large_pages + 2 * kLarge) {
      block.Valid = 1;
      block.LargePage = 1;
      block.Node = 1;
    } else if (address >= small_pages && address < small_pages + 8192) {
      block.Valid = 1;
      block.Node = address < small_pages + 4096 ? 0 : 1;
    }
  }
  return TRUE;
}

BOOL WINAPI IdealProcessorStandIn(HANDLE, PPROCESSOR_NUMBER ideal) {
  *ideal = {1, 3, 0};
  return TRUE;
}

BOOL WINAPI NodeOfProcessorStandIn(PPROCESSOR_NUMBER processor, PUSHORT node) {
  *node = processor->Group == 1 && processor->Number == 3 ? 1 : 0;
  return TRUE;
}

TEST(ProgramPlacement, GivesEachResidentPagesNodeAtItsSizeAndEachThreadsIdealProcessor) {
  small_pages = static_cast<char*>(VirtualAlloc(nullptr, 12288, MEM_COMMIT, PAGE_READWRITE));
  large_pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * kLarge, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_EQ(GetLargePageMinimum(), kLarge);
  OpenedProgram program;
  ProgramPlacement placement;
  PlacementFailure failure;
  ASSERT_TRUE(OpenProgram(GetCurrentProcessId(), program, failure)) << failure.reason;
  ASSERT_TRUE(LookAtProgram(program, placement, failure)) << failure.reason;
  using Sizes = std::map<std::uint64_t, std::uint64_t>;
  EXPECT_EQ(placement.pages_by_node[0].pages_by_size, (Sizes{{4096, 1}}));
  EXPECT_EQ(placement.pages_by_node[1].pages_by_size, (Sizes{{4096, 1}, {kLarge, 2}}));
  EXPECT_EQ(placement.pages_by_node.size(), 2u);
  ASSERT_FALSE(placement.threads.empty());
  for (const ThreadPlace& thread : placement.threads) {
    EXPECT_EQ(thread.ideal_group, 1);
    EXPECT_EQ(thread.ideal_processor, 3);
    EXPECT_EQ(thread.ideal_node, 1);
  }
}

TEST(ProgramPlacement, SaysAProgramHasEndedNotThatItIsRefused) {
  PlacementFailure failure;
  {
    OpenedProgram never;
    EXPECT_FALSE(OpenProgram(0xFFFFFFF0, never, failure));
    EXPECT_TRUE(failure.ended) << failure.call << ": " << failure.reason;
  }
  // One that ends while its handle is held: its number cannot pass to another program meanwhile.
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessW(path, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                             nullptr, &startup, &child));
  OpenedProgram program;
  ASSERT_TRUE(OpenProgram(child.dwProcessId, program, failure)) << failure.reason;
  TerminateProcess(child.hProcess, 1);
  WaitForSingleObject(child.hProcess, INFINITE);
  ProgramPlacement placement;
  EXPECT_FALSE(LookAtProgram(program, placement, failure));
  EXPECT_TRUE(failure.ended) << failure.call << ": " << failure.reason;
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
}

}  // namespace

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
extern "C" decltype(&GetThreadIdealProcessorEx) __imp_GetThreadIdealProcessorEx;
decltype(&GetThreadIdealProcessorEx) __imp_GetThreadIdealProcessorEx = IdealProcessorStandIn;
extern "C" decltype(&GetNumaProcessorNodeEx) __imp_GetNumaProcessorNodeEx;
decltype(&GetNumaProcessorNodeEx) __imp_GetNumaProcessorNodeEx = NodeOfProcessorStandIn;
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

// psapi.h declares it without dllimport: the calls go to the function itself. Named as psapi.h
// names it.
BOOL WINAPI K32QueryWorkingSetEx(HANDLE hProcess, PVOID pv, DWORD cb) {
  return WorkingSetExStandIn(hProcess, pv, cb);
}
