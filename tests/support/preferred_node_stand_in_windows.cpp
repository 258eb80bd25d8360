// Test-only: Wine has no preferred-node attribute, so this build of the tool stands in for
// UpdateProcThreadAttribute alone; every other call still goes to the real kernel32.
#include <windows.h>

#include <string>

namespace {

BOOL WINAPI AcceptPreferredNode(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
                                PVOID value, SIZE_T size, PVOID previous_value,
                                PSIZE_T return_size) {
  if (list == nullptr || flags != 0 || attribute != PROC_THREAD_ATTRIBUTE_PREFERRED_NODE ||
      value == nullptr || size != sizeof(USHORT) || previous_value != nullptr ||
      return_size != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Record the node where the test can see it: in the environment the child inherits.
  const std::wstring node = std::to_wstring(*static_cast<const USHORT*>(value));
  return SetEnvironmentVariableW(L"NODESTART_STAND_IN_NODE", node.c_str());
}

}  // namespace

// The import-table entry the tool's call goes through: defined here, it is not taken from
// kernel32's import library.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's name
extern "C" decltype(&UpdateProcThreadAttribute) __imp_UpdateProcThreadAttribute;
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
decltype(&UpdateProcThreadAttribute) __imp_UpdateProcThreadAttribute = AcceptPreferredNode;
