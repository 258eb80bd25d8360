#include "platform/linux/kernel_lists.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>

bool ReadWholeFile(int folder, const std::string& name, std::string& text) {
  text.clear();
  return ReadParts(folder, name, ~std::size_t{0},
                   [&text](std::string_view part) { text.append(part); });
}

bool ReadWholeFile(const std::string& path, std::string& text) {
  return ReadWholeFile(AT_FDCWD, path, text);
}

bool ReadFirstLine(const std::string& path, std::string& line) {
  if (!ReadWholeFile(path, line)) return false;
  line.resize(std::min(line.find('\n'), line.size()));
  return true;
}

bool ReadFolder(int folder, const std::string& name, std::vector<std::string>& names) {
  const int opened = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* entries = opened < 0 ? nullptr : fdopendir(opened);
  if (entries == nullptr) {
    if (opened >= 0) close(opened);
    return false;
  }
  while (const dirent* entry = readdir(entries)) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  closedir(entries);
  return true;
}

std::string StatusValue(const std::string& status, const std::string& key) {
  const std::size_t at = status.find("\n" + key + ":\t");
  if (at == std::string::npos) return {};
  const std::size_t from = at + key.size() + 3;
  return status.substr(from, status.find('\n', from) - from);
}

bool ReadStatFields(int folder, const std::string& name, std::vector<std::string>& fields) {
  fields.clear();
  std::string stat;
  // The kernel writes a stat whole in one read, well within a page.
  if (!ReadParts(folder, name, 1, [&stat](std::string_view part) { stat.append(part); })) {
    return false;
  }
  // "1234 (name) S 1 ...": the name ends at the last parenthesis.
  const std::size_t after_name = stat.rfind(')');
  if (after_name == std::string::npos || after_name + 2 >= stat.size()) return true;
  stat.resize(std::min(stat.find('\n', after_name), stat.size()));
  for (std::size_t from = after_name + 2;;) {
    const std::size_t end = std::min(stat.find(' ', from), stat.size());
    fields.push_back(stat.substr(from, end - from));
    if (end == stat.size()) return true;
    from = end + 1;
  }
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
