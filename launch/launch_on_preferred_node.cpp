#include "launch/launch_on_preferred_node.h"

#include "launch/exit_status.h"
#include "launch/system_error_report.h"
#include "platform/child_process.h"
#include "platform/console.h"

namespace {

// Once the child exists nothing may end the run before its end is waited for and reported: a
// line that cannot be made (memory gone, say) is dropped, as one that cannot be written is.
template <typename... Args>
void PrintOnceTheChildExists(const wchar_t* format, const Args&... args) noexcept {
  try {
    ConsolePrint(format, args...);
  } catch (...) {  // NOLINT(bugprone-empty-catch): whatever it was, the wait must come
  }
}

}  // namespace

int LaunchOnPreferredNode(const WideText& application_name, WideText command_line,
                          std::uint16_t node) {
  try {
    StartChild(application_name, command_line, node);
  } catch (const ChildStartFailure& failure) {
    throw CErr(failure.operation, failure.reason);
  }
  PrintOnceTheChildExists(L"\n Waiting for child process to exit ...");
  const std::int32_t exit_code = WaitForChild();
  PrintOnceTheChildExists(L"\n Child process exited with code %d\n", exit_code);
  EndAsTheChildEnded();
  return kExitChildEnded;
}
