#include <cerrno>
#include <string>

#include <unistd.h>

#include "platform/console.h"
#include "text/lossless_utf8.h"

void WriteToStdout(const WideText& text) {
  const std::string bytes = EncodeLossless(text);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t result = write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return;  // standard output is gone; there is nobody left to tell
    written += static_cast<std::size_t>(result);
  }
}
