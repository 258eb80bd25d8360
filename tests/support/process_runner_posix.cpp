#include <unistd.h>

#include <climits>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "support/started_process_posix.h"

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments) {
  return StartedProcess(program, arguments, StartOptions{}).Finish();
}

std::string BuiltProgram(const std::string& name) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) throw std::runtime_error("cannot find the test's own path");
  const std::string path(self, static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1) + name;
}

namespace {

// A cross-built test runs its programs through the kernel's binfmt_misc; without an emulator
// registered there, none of them starts, and every case is skipped, saying why.
class BuiltProgramsRun : public testing::Environment {
 public:
  void SetUp() override {
    if (RunProcess(BuiltProgram("probe_child"), {}).exit_status == 127) {
      GTEST_SKIP() << "this build's programs do not run here (no emulator in binfmt_misc)";
    }
  }
};

[[maybe_unused]] testing::Environment* const kBuiltProgramsRun =
    testing::AddGlobalTestEnvironment(new BuiltProgramsRun);

}  // namespace
