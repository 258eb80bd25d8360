// The machine's NUMA nodes and the PCI devices on them, as the system tells them: what a user
// needs to choose a node, and the node of a device at hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory_placement.h"

struct MachineNode {
  unsigned long number = 0;
  // As the system numbers them: "0-3,8" on Linux, "0:0-63, 1:0-7" (group:number) on Windows;
  // empty: none.
  std::string processors;
  // Those of them this process may run on, where not all (its affinity, a cpuset's share):
  // "8-15", "none"; empty: all, or not told.
  std::string job_processors;
  bool job_memory = true;  // whether this process may place memory here
  // The packages (sockets) of its processors, as a list ("0"), of which sub-NUMA clustering
  // makes several nodes; empty: none, or not told.
  std::string packages;
  // The kernel's memory tier of its memory, lower the nearer (4 for a processor's own, more for
  // CXL or persistent memory); -1: not told.
  long memory_tier = -1;
  bool total_told = false;  // whether the system says how much memory the node has
  std::uint64_t total_bytes = 0;
  bool free_told = false;
  std::uint64_t free_bytes = 0;
  // To each node of the machine's list in turn; empty where the system does not say.
  std::vector<unsigned long> distances;
};

struct MachineDevice {
  // Where it sits on the bus: "0000:3b:00.0" on Linux, "3b:00.0" on Windows (which gives no
  // segment); for NVMe over Fabrics, its transport and its target: "rdma traddr=10.0.0.2,...".
  std::string address;
  std::uint32_t class_code = 0;  // PCI's, 0xCCSSPP: 0x020000 an Ethernet controller
  std::uint16_t vendor = 0;
  std::uint16_t device = 0;
  std::string name;  // the system's own for it, else empty
  // The names a user knows it by, in the system's order: interfaces ("eth1", "Ethernet 2"),
  // block devices ("nvme0n1", "PhysicalDrive1"), DRM nodes ("card0", "renderD128"), RDMA
  // devices ("mlx5_0").
  std::vector<std::string> names;
  // -1: the firmware gives none. A CXL memory device's is the node its memory makes, where the
  // system says.
  int node = -1;
};

struct Machine {
  std::vector<MachineNode> nodes;      // in the system's order
  std::vector<MachineDevice> devices;  // every PCI device, in bus order
};

// The machine's nodes and PCI devices. False, with the call and the reason, where the system
// cannot tell.
bool LookAtMachine(Machine& machine, PlacementFailure& failure);

// The device a user named: a PCI address with a segment of any width or none
// ("00000000:3b:00.0", "3b:00.0"), an interface, a block device ("nvme0n1", "/dev/nvme0n1"), an
// NVMe controller ("nvme0"), a device-mapper name ("vg-root", "/dev/mapper/vg-root"), a DRM
// node, an RDMA device, an NVIDIA GPU's device file ("/dev/nvidia3"), or any file, by the drive
// that holds it; on Windows an adapter's name or a physical drive ("PhysicalDrive1",
// "\\.\PhysicalDrive1"). On a machine of one node, a device the firmware gives none is on it.
struct NamedDevice {
  bool known = false;   // the system has such a device
  std::string address;  // the PCI device it is or sits on; empty: it is on no PCI bus
  int node = -1;        // -1: the firmware gives none
  // Reached through PCI devices of different nodes (a namespace of an NVMe drive with
  // controllers on two nodes, a bond of network cards on two): then no one node is its.
  bool on_several_nodes = false;
  // The devices, each with its name, that a bus address stands for in several PCI segments
  // (Windows, which names none): then none is meant. Empty for one.
  std::string several;
};

// False, with the call and the reason, where the system could not be asked.
bool FindNamedDevice(const std::string& name, NamedDevice& found, PlacementFailure& failure);
