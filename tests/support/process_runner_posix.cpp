#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <stdexcept>

#include "support/process_runner.h"

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (error != 0) {
    close(pipe_ends[0]);
    throw std::runtime_error("cannot start " + program);
  }
  ProcessResult result;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(pipe_ends[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipe_ends[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string BuiltProgram(const std::string& name) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) throw std::runtime_error("cannot find the test's own path");
  const std::string path(self, static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1) + name;
}
