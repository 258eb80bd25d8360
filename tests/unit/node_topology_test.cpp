#include "platform/linux/node_topology.h"

#include <gtest/gtest.h>

#include "support/fake_sysfs.h"
#include "support/scratch_folder.h"

namespace {

TEST(NodeTopology, SaysWhyTheKernelRefusedTheNode) {
  // Node 0 with CPUs and memory, 1 with CPUs only, 2 with memory only (as HBM or CXL memory
  // shows), 3 with CPUs only and nearer to 2 than to 0; and nodes with a gap between them.
  const ScratchFolder scratch;
  WriteNodes(
      scratch.path(), "0-3", "0,2",
      {{"0", "10 20 20 20"}, {"1", "20 10 20 20"}, {"", "20 20 10 20"}, {"2", "30 30 15 10"}});
  const ScratchFolder sparse;
  WriteNodes(sparse.path(), "0,8", "0,8", {});
  const struct {
    const char* name;
    std::string folder;
    std::uint16_t node;
    const char* allowed;
    const wchar_t* text;
  } cases[] = {
      {"a node beyond the machine's", scratch.path(), 4, "0,2",
       L"this machine has no NUMA node 4 (its nodes: 0-3)"},
      {"a gap between sparse nodes", sparse.path(), 7, "0,8",
       L"this machine has no NUMA node 7 (its nodes: 0,8)"},
      {"no memory: the nearest with memory, the lower of equals", scratch.path(), 1, "0,2",
       L"NUMA node 1 has no memory of its own (nearest node with memory: 0)"},
      {"no memory, nearer to another", scratch.path(), 3, "0,2",
       L"NUMA node 3 has no memory of its own (nearest node with memory: 2)"},
      {"kept from the process by a cpuset", scratch.path(), 2, "0",
       L"NUMA node 2 is not available to this process (it may use node 0)"},
      {"the folder cannot be read", (scratch.path() / "missing").string(), 1, "0,2",
       L"NUMA node 1 is not available to this process (it may use nodes 0,2)"},
      {"refused though the process may use it: the kernel's reason", scratch.path(), 0, "0-1",
       L"Invalid argument"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RefusedNodeText(c.node, c.folder, c.allowed), c.text) << c.name;
  }
}

}  // namespace
