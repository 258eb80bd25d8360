#include <unistd.h>

#include <climits>
#include <stdexcept>

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
