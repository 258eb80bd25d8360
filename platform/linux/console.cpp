#include <poll.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/console.h"
#include "platform/linux/kernel_signal_set.h"
#include "text/lossless_utf8.h"

namespace {

// A harness may hand the tool a non-blocking standard output: wait for room, lose nothing.
bool AwaitRoom() {
  pollfd output = {STDOUT_FILENO, POLLOUT, 0};
  for (;;) {
    const int ready = poll(&output, 1, -1);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

void WriteToStdout(const WideText& text) {
  const std::string bytes = EncodeLossless(text);
  // A write to a reader that is gone raises SIGPIPE, which would end the tool before the child
  // starts or before its end is reported. Held for the write alone, so that the child still
  // starts with the tool's own SIGPIPE, and taken back if this write raised it.
  sigset_t pipe_signal;
  sigset_t pending;
  sigset_t mask;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigpending(&pending);
  const bool pending_before = sigismember(&pending, SIGPIPE) == 1;
  SetKernelMask(SIG_BLOCK, pipe_signal, &mask);  // glibc's own call would drop signals 32 and 33
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t result = write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
    if (result > 0) {
      written += static_cast<std::size_t>(result);
      continue;
    }
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && AwaitRoom()) continue;
    // Standard output is gone; there is nobody left to tell.
    const timespec now = {0, 0};
    if (result < 0 && errno == EPIPE && !pending_before) sigtimedwait(&pipe_signal, nullptr, &now);
    break;
  }
  SetKernelMask(SIG_SETMASK, mask, nullptr);
}

bool WriteUtf8(StandardStream stream, const std::string& text, std::string& reason) {
  std::FILE* const file = stream == StandardStream::kOutput ? stdout : stderr;
  if (std::fputs(text.c_str(), file) >= 0 && std::fflush(file) == 0) return true;
  reason = std::strerror(errno);
  return false;
}

void WriteNoteToStderr(const char* line) noexcept {
  const iovec parts[] = {{const_cast<char*>(line), std::strlen(line)},
                         {const_cast<char*>("\n"), 1}};
  // Nobody is left to tell if it fails.
  [[maybe_unused]] const ssize_t written = writev(STDERR_FILENO, parts, 2);
}
