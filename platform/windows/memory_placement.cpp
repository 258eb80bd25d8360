#include "platform/memory_placement.h"

#include <windows.h>
// After windows.h; PSAPI_VERSION 2 takes QueryWorkingSetEx from kernel32.
#include <psapi.h>

#include <algorithm>

#include "platform/windows/system_text.h"

namespace {

bool Fail(const char* call, PlacementFailure& failure) {
  failure = {call, SystemText(GetLastError())};
  return false;
}

}  // namespace

std::size_t PageSize() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  return system.dwPageSize;
}

unsigned char* FreshPages(std::size_t pages, PlacementFailure& failure) {
  void* memory =
      VirtualAlloc(nullptr, pages * PageSize(), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (memory != nullptr) return static_cast<unsigned char*>(memory);
  Fail("VirtualAlloc", failure);
  return nullptr;
}

bool NodesOfPages(unsigned char* memory, std::size_t pages, std::vector<int>& nodes,
                  PlacementFailure& failure) {
  // The query's size is a DWORD of bytes: a tebibyte of pages is asked about a part at a time.
  constexpr std::size_t kPagesAtOnce = 1 << 20;
  std::vector<PSAPI_WORKING_SET_EX_INFORMATION> pages_info(std::min(pages, kPagesAtOnce));
  const std::size_t page = PageSize();
  nodes.assign(pages, -1);
  for (std::size_t first = 0; first < pages; first += pages_info.size()) {
    const std::size_t count = std::min(pages - first, pages_info.size());
    for (std::size_t i = 0; i < count; ++i) {
      pages_info[i].VirtualAddress = memory + (first + i) * page;
    }
    const auto size = static_cast<DWORD>(count * sizeof pages_info[0]);
    if (!QueryWorkingSetEx(GetCurrentProcess(), pages_info.data(), size)) {
      return Fail("QueryWorkingSetEx", failure);
    }
    for (std::size_t i = 0; i < count; ++i) {
      const PSAPI_WORKING_SET_EX_BLOCK& block = pages_info[i].VirtualAttributes;
      if (block.Valid) nodes[first + i] = static_cast<int>(block.Node);
    }
  }
  return true;
}

RunningOn Running() {
  PROCESSOR_NUMBER number = {};
  GetCurrentProcessorNumberEx(&number);
  RunningOn running;
  running.processor = std::to_string(number.Group) + ":" + std::to_string(number.Number);
  USHORT node = 0;
  if (GetNumaProcessorNodeEx(&number, &node) && node != 0xFFFF) running.node = node;
  return running;
}

std::string MemoryPolicy() { return ""; }

std::string KernelNumaBalancing() { return ""; }

std::string AllowedProcessors() { return ""; }
