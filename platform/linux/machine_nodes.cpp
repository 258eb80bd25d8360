// The machine's nodes from /sys/devices/system/node, its PCI devices from /sys/bus/pci/devices
// and the names users know them by from the class folders, each name traced to the PCI device
// it sits on through the path its link resolves to.
#include "platform/machine_nodes.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/node_facts.h"
#include "platform/linux/sysfs_devices.h"
#include "platform/linux/sysfs_machine.h"

namespace {

constexpr unsigned long kMostCpu = 0xFFFFF;

// What of each node this process may use, where it may not use all: its affinity and its
// cpuset's memory nodes (a batch job's or a container's share), from its status file.
void MarkJobShare(const std::string& status, std::vector<MachineNode>& nodes) {
  const std::string cpus = StatusValue(status, "Cpus_allowed_list");
  const std::string mems = StatusValue(status, "Mems_allowed_list");
  std::vector<unsigned long> allowed = NumberList(cpus, kMostCpu);
  std::sort(allowed.begin(), allowed.end());
  const std::vector<unsigned long> memory = NodeNumbers(mems);
  for (MachineNode& node : nodes) {
    std::vector<unsigned long> share;
    const std::vector<unsigned long> own = NumberList(node.processors, kMostCpu);
    for (const unsigned long cpu : own) {
      if (std::binary_search(allowed.begin(), allowed.end(), cpu)) share.push_back(cpu);
    }
    if (!cpus.empty() && share.size() != own.size()) {
      node.job_processors = share.empty() ? "none" : ListText(share.back() + 1, [&](auto cpu) {
        return std::binary_search(share.begin(), share.end(), cpu);
      });
    }
    node.job_memory =
        mems.empty() || std::find(memory.begin(), memory.end(), node.number) != memory.end();
  }
}

// The nodes CXL memory devices feed and the DAX devices daxctl names them by, by the devices' PCI
// addresses: a region's DAX device says which node its memory makes (target_node), the region's
// targets are the devices' decoders, each in the endpoint port whose uport is the device.
std::map<std::string, std::pair<int, std::string>> FedNodes(const std::string& sys) {
  std::map<std::string, std::pair<int, std::string>> fed;
  const std::string cxl = sys + "/bus/cxl/devices/";
  for (const std::string& region : Entries(cxl)) {
    if (region.compare(0, 6, "region") != 0) continue;
    const std::string folder = cxl + region + "/";
    std::string node;
    std::string name;
    for (const std::string& dax_region : Entries(folder)) {
      if (dax_region.compare(0, 10, "dax_region") != 0) continue;
      for (const std::string& dax : Entries(folder + dax_region)) {
        if (node.empty() && dax.compare(0, 3, "dax") == 0 &&
            ReadFirstLine(std::string(folder)
                              .append(dax_region)
                              .append("/")
                              .append(dax)
                              .append("/target_node"),
                          node)) {
          name = dax;
        }
      }
    }
    for (const std::string& target : Entries(folder)) {
      std::string decoder;
      if (node.empty() || target.compare(0, 6, "target") != 0 ||
          !ReadFirstLine(folder + target, decoder) || decoder.empty()) {
        continue;
      }
      std::vector<std::string> addresses;
      PciDevicesOf(cxl + decoder + "/../uport", addresses);
      for (const std::string& address : addresses)
        fed[address] = {static_cast<int>(std::strtol(node.c_str(), nullptr, 10)), name};
    }
  }
  return fed;
}

unsigned long HexOf(const std::string& sys, const std::string& address, const char* file) {
  std::string text;
  if (!ReadFirstLine(sys + "/bus/pci/devices/" + address + "/" + file, text)) return 0;
  return std::strtoul(text.c_str(), nullptr, 16);
}

// Names every device it can from the database: "Intel Corporation 82574L Gigabit Network
// Connection", or the vendor's name alone where the database lacks the device. Read line by
// line up to the classes that follow the vendors: the file is over a megabyte.
void NameFromPciIds(const std::string& pci_ids, std::vector<MachineDevice>& devices) {
  std::FILE* file = pci_ids.empty() ? nullptr : std::fopen(pci_ids.c_str(), "re");
  if (file == nullptr) return;
  std::map<unsigned long, std::string> vendors;
  std::map<std::pair<unsigned long, unsigned long>, std::string> names;
  for (const MachineDevice& device : devices) {
    if (IsPciAddress(device.address)) vendors[device.vendor];
  }
  unsigned long vendor = 0;
  bool wanted = false;
  char* line = nullptr;
  std::size_t size = 0;
  while (getline(&line, &size, file) > 0 && std::strncmp(line, "C ", 2) != 0) {
    std::string text = line;
    text.resize(text.find_last_not_of("\r\n") + 1);
    const bool device_line = text[0] == '\t' && text[1] != '\t';
    const std::size_t id_at = device_line ? 1 : 0;
    if (text.size() < id_at + 7 || text.compare(id_at + 4, 2, "  ") != 0) continue;
    const unsigned long id = std::strtoul(text.substr(id_at, 4).c_str(), nullptr, 16);
    if (!device_line && text[0] != '\t' && text[0] != '#') {
      vendor = id;
      wanted = vendors.count(id) != 0;
      if (wanted) vendors[id] = text.substr(6);
    } else if (device_line && wanted) {
      names[{vendor, id}] = text.substr(7);
    }
  }
  std::free(line);
  static_cast<void>(std::fclose(file));  // read only: nothing to lose
  for (MachineDevice& device : devices) {
    if (!IsPciAddress(device.address)) continue;
    const std::string& vendor_name = vendors[device.vendor];
    const auto named = names.find({device.vendor, device.device});
    if (named != names.end()) {
      device.name = vendor_name + " " + named->second;
    } else if (!vendor_name.empty()) {
      char id[16];
      static_cast<void>(std::snprintf(id, sizeof id, "%04x", device.device));
      device.name = vendor_name + ", device " + id;
    }
  }
}

// The class folders whose names users know a device by; DRM's connectors ("card0-HDMI-A-1")
// are parts of a card, not names for it, and a hidden disk (a path of an NVMe namespace) has no
// device file.
constexpr const char* kNamingClasses[] = {"/class/net/", "/block/", "/class/nvme/", "/class/drm/",
                                          "/class/infiniband/"};

}  // namespace

bool LookAtMachineIn(const std::string& root, const std::string& pci_ids, Machine& machine,
                     PlacementFailure& failure) {
  machine = {};
  const std::string sys = root + "/sys";
  const NodeFacts nodes = NodesIn(sys);
  std::string online;
  if (!nodes.Online(online)) {
    failure = {"read " + nodes.folder + "/online",
               std::string(std::strerror(errno)) +
                   (errno == ENOENT ? " (a kernel built without NUMA shows no nodes)" : "")};
    return false;
  }
  const std::vector<unsigned long> online_nodes = NodeNumbers(online);
  for (const unsigned long number : online_nodes) machine.nodes.push_back(nodes.Node(number));
  std::string status;
  if (ReadWholeFile(root + "/proc/self/status", status)) MarkJobShare(status, machine.nodes);
  std::map<std::string, std::size_t> by_address;
  std::vector<std::string> on_bus = Entries(sys + "/bus/pci/devices");
  // In bus order: segments by their number ("0009" before "000a"), each as sysfs writes them.
  const auto segment = [](const std::string& address) {
    return std::make_pair(std::strtoul(address.c_str(), nullptr, 16), address);
  };
  std::sort(on_bus.begin(), on_bus.end(),
            [&](const std::string& a, const std::string& b) { return segment(a) < segment(b); });
  const std::map<std::string, std::pair<int, std::string>> fed = FedNodes(sys);
  for (const std::string& address : on_bus) {
    if (!IsPciAddress(address)) continue;
    MachineDevice device;
    device.address = address;
    device.class_code = static_cast<std::uint32_t>(HexOf(sys, address, "class"));
    device.vendor = static_cast<std::uint16_t>(HexOf(sys, address, "vendor"));
    device.device = static_cast<std::uint16_t>(HexOf(sys, address, "device"));
    const auto feeds = fed.find(address);
    const bool listed = feeds != fed.end() && std::find(online_nodes.begin(), online_nodes.end(),
                                                        feeds->second.first) != online_nodes.end();
    device.node = listed ? feeds->second.first : NodeOf(sys, address, online_nodes);
    if (feeds != fed.end()) device.names.push_back(feeds->second.second);
    by_address[address] = machine.devices.size();
    machine.devices.push_back(device);
  }
  // Controllers of NVMe over Fabrics, by their transport and their target's address.
  for (const std::string& name : Entries(sys + "/class/nvme")) {
    std::vector<std::string> controller;
    PciDevicesOf(std::string(sys).append("/class/nvme/").append(name), controller);
    if (controller.size() != 1 || controller[0][0] != '/') continue;
    MachineDevice device;
    std::string transport;
    std::string target;
    ReadFirstLine(controller[0] + "/transport", transport);
    ReadFirstLine(controller[0] + "/address", target);
    device.address = transport.append(" ").append(target);
    device.class_code = 0x010802;  // an NVMe controller's, as a drive's on the bus would be
    device.name = "NVMe over Fabrics";
    device.node = NodeOf(sys, controller[0], online_nodes);
    by_address[controller[0]] = machine.devices.size();
    machine.devices.push_back(device);
  }
  for (const char* naming : kNamingClasses) {
    const std::string folder = sys + naming;
    for (const std::string& name : Entries(folder)) {
      std::string hidden;
      if ((std::strcmp(naming, "/class/drm/") == 0 && name.find('-') != std::string::npos) ||
          (ReadFirstLine(folder + name + "/hidden", hidden) && hidden == "1")) {
        continue;
      }
      // A device-mapper disk by the name LVM or LUKS gave it, as lsblk shows it: "vg-root".
      std::string known;
      if (!ReadFirstLine(folder + name + "/dm/name", known) || known.empty()) known = name;
      std::vector<std::string> addresses;
      PciDevicesOf(folder + name, addresses);
      for (const std::string& address : addresses) {
        const auto device = by_address.find(address);
        if (device != by_address.end()) machine.devices[device->second].names.push_back(known);
      }
    }
  }
  NameFromPciIds(pci_ids, machine.devices);
  return true;
}

bool LookAtMachine(Machine& machine, PlacementFailure& failure) {
  std::string pci_ids;
  for (const char* file : kPciIdsFiles) {
    if (access(file, R_OK) == 0) {
      pci_ids = file;
      break;
    }
  }
  return LookAtMachineIn("", pci_ids, machine, failure);
}
