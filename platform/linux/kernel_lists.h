// The kernel's small text files under /sys and /proc, and the lists of numbers it writes there
// ("0-2,8").
#pragma once

#include <string>
#include <vector>

// A file of the kernel's, whole; false if it cannot be read. Plain reads: streams would double
// the size of the static tool and of what it keeps resident while it waits.
bool ReadWholeFile(const std::string& path, std::string& text);

// The first line of such a file; false if it cannot be read.
bool ReadFirstLine(const std::string& path, std::string& line);

// A list as the kernel writes it ("0-2,8"), in its order; numbers above `most` are left out.
std::vector<unsigned long> NumberList(const std::string& list, unsigned long most);

// The numbers below `end` for which `member` holds, written as the kernel writes a list.
template <typename Member>
std::string ListText(unsigned long end, Member member) {
  std::string list;
  for (unsigned long first = 0; first < end; ++first) {
    if (!member(first)) continue;
    unsigned long last = first;
    while (last + 1 < end && member(last + 1)) ++last;
    list += (list.empty() ? "" : ",") + std::to_string(first);
    if (last != first) list += "-" + std::to_string(last);
    first = last;
  }
  return list;
}
