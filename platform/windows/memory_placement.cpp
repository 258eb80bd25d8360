#include "platform/memory_placement.h"

#include <windows.h>
// After windows.h; PSAPI_VERSION 2 takes QueryWorkingSetEx from kernel32.
#include <psapi.h>

namespace {

bool Fail(const char* call, PlacementFailure& failure) {
  const DWORD error = GetLastError();
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0x400, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  failure = {call, length > 0 ? std::string(text, length) : "error " + std::to_string(error)};
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
  std::vector<PSAPI_WORKING_SET_EX_INFORMATION> pages_info(pages);
  for (std::size_t i = 0; i < pages; ++i) pages_info[i].VirtualAddress = memory + i * PageSize();
  const auto size = static_cast<DWORD>(pages_info.size() * sizeof pages_info[0]);
  if (!QueryWorkingSetEx(GetCurrentProcess(), pages_info.data(), size)) {
    return Fail("QueryWorkingSetEx", failure);
  }
  nodes.assign(pages, -1);
  for (std::size_t i = 0; i < pages; ++i) {
    const PSAPI_WORKING_SET_EX_BLOCK& block = pages_info[i].VirtualAttributes;
    if (block.Valid) nodes[i] = static_cast<int>(block.Node);
  }
  return true;
}

RunningOn Running() {
  PROCESSOR_NUMBER number = {};
  GetCurrentProcessorNumberEx(&number);
  RunningOn running;
  running.processor = number.Group * 64u + number.Number;
  USHORT node = 0;
  if (GetNumaProcessorNodeEx(&number, &node) && node != 0xFFFF) running.node = node;
  return running;
}

std::string MemoryPolicy() { return ""; }

std::string AllowedProcessors() { return ""; }
