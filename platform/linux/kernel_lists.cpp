#include "platform/linux/kernel_lists.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

bool ReadWholeFile(const std::string& path, std::string& text) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  text.clear();
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(file, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno != EINTR) break;
    if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
  }
  close(file);
  return got == 0;
}

bool ReadFirstLine(const std::string& path, std::string& line) {
  if (!ReadWholeFile(path, line)) return false;
  line.resize(std::min(line.find('\n'), line.size()));
  return true;
}

std::vector<unsigned long> NumberList(const std::string& list, unsigned long most) {
  std::vector<unsigned long> numbers;
  for (const char* at = list.c_str();;) {
    char* end = nullptr;
    const unsigned long first = std::strtoul(at, &end, 10);
    if (end == at) break;
    unsigned long last = first;
    if (*end == '-') last = std::strtoul(end + 1, &end, 10);
    for (unsigned long number = first; number <= last && number <= most; ++number) {
      numbers.push_back(number);
    }
    if (*end != ',') break;
    at = end + 1;
  }
  return numbers;
}
