// Trees laid out as the kernel lays out sysfs, for the tests that read one.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// `text` as the file `path`, its folders made as needed.
inline void WriteSysfsFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// A node's cpulist, distance and meminfo (total and free kB); nullptr leaves a file out.
struct FakeNode {
  const char* cpus = nullptr;
  const char* distances = nullptr;
  const char* total_kb = nullptr;
  const char* free_kb = nullptr;
};

// A folder laid out as /sys/devices/system/node: the `online` nodes, those that `has_memory`
// (nullptr: no such file), and `nodes` from node 0 on.
inline void WriteNodes(const std::filesystem::path& folder, const char* online,
                       const char* has_memory, const std::vector<FakeNode>& nodes) {
  WriteSysfsFile(folder / "online", std::string(online) + "\n");
  if (has_memory != nullptr) WriteSysfsFile(folder / "has_memory", std::string(has_memory) + "\n");
  for (std::size_t number = 0; number < nodes.size(); ++number) {
    const FakeNode& node = nodes[number];
    const std::filesystem::path path = folder / ("node" + std::to_string(number));
    std::filesystem::create_directories(path);
    if (node.cpus != nullptr) WriteSysfsFile(path / "cpulist", node.cpus + std::string("\n"));
    if (node.distances != nullptr) {
      WriteSysfsFile(path / "distance", node.distances + std::string("\n"));
    }
    if (node.total_kb != nullptr) {
      const std::string head = "Node " + std::to_string(number);
      std::ofstream(path / "meminfo") << head << " MemTotal:  " << node.total_kb << " kB\n"
                                      << head << " MemFree:  " << node.free_kb << " kB\n";
    }
  }
}
