// The kernel's small text files under /sys and /proc, and the lists of numbers it writes there
// ("0-2,8").
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

// Reads `name` under the open folder `folder` (AT_FDCWD: a path of its own) in parts, giving each
// to `take`, up to `most` bytes or so. False, errno set, where it cannot. Plain reads: streams
// would double the size of the static tool and of what it keeps resident while it waits.
template <typename Take>
bool ReadParts(int folder, const std::string& name, std::size_t most, Take take) {
  const int file = openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  // The kernel gives a page at most per read; for numa_maps it holds the program's memory-map
  // lock while it walks the pages of the mappings it describes: the program goes on between reads.
  char buffer[4096];
  ssize_t got = 0;
  for (std::size_t done = 0; done < most && (got = read(file, buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    take(std::string_view(buffer, static_cast<std::size_t>(got)));
    done += static_cast<std::size_t>(got);
  }
  const int error = errno;
  close(file);
  errno = error;
  return got >= 0;
}

// A file of the kernel's, whole: `name` under the open folder `folder`, or a path of its own.
// False, errno set, if it cannot be read.
bool ReadWholeFile(int folder, const std::string& name, std::string& text);
bool ReadWholeFile(const std::string& path, std::string& text);

// The first line of such a file; false if it cannot be read.
bool ReadFirstLine(const std::string& path, std::string& line);

// The names in the folder `name` under `folder` (as ReadWholeFile takes them), in the kernel's
// order, less those that begin with a dot. False, errno set, if it cannot be read.
bool ReadFolder(int folder, const std::string& name, std::vector<std::string>& names);

// The value of `key` in a status file ("Cpus_allowed_list"), past its first line; empty where
// it is not there.
std::string StatusValue(const std::string& status, const std::string& key);

// A process's or thread's stat file (`name` under `folder`, as ReadWholeFile takes them), past
// its name, which may hold any byte: `fields` from proc(5)'s third, the state, on; none where it
// shows no name. False, errno set, if it cannot be read.
bool ReadStatFields(int folder, const std::string& name, std::vector<std::string>& fields);

// A list as the kernel writes it ("0-2,8"), in its order; numbers above `most` are left out.
std::vector<unsigned long> NumberList(const std::string& list, unsigned long most);

// Node numbers from such a list. They are 16 bits wide here.
inline std::vector<unsigned long> NodeNumbers(const std::string& list) {
  return NumberList(list, 0xFFFF);
}

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
