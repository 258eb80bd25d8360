// Reading a child's output with a deadline, for the helpers that watch a running program.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

// Appends what `fd` has to `into`, waiting for it until `end` at the latest; false when nothing
// came by then or the output has ended.
inline bool ReadMoreBefore(int fd, std::chrono::steady_clock::time_point end, std::string& into) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  pollfd readable = {fd, POLLIN, 0};
  if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
  char buffer[4096];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got <= 0) return false;
  into.append(buffer, static_cast<std::size_t>(got));
  return true;
}
