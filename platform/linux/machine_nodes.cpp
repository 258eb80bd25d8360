// The machine's nodes from /sys/devices/system/node, its PCI devices from /sys/bus/pci/devices
// and the names users know them by from the class folders, each name traced to the PCI device
// it sits on through the path its link resolves to.
#include "platform/machine_nodes.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>
#include <utility>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/node_facts.h"
#include "platform/linux/sysfs_machine.h"

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// "0000:3b:00.0" as sysfs writes a PCI address: a segment of 4 or more hex digits, bus, device
// and function.
bool IsPciAddress(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon < 4 || text.size() != colon + 8) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t after = i - colon;  // wraps within the segment, which has no separator
    const char separator = after == 0 || after == 3 ? ':' : after == 6 ? '.' : '\0';
    if (separator != '\0' ? text[i] != separator : !IsHex(text[i])) return false;
  }
  return text.back() <= '7';  // a function is 0 to 7
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A PCI address as users write it, its segment of any width (nvidia-smi's "00000000:CD:00.0")
// or left out, as sysfs writes it ("0000:cd:00.0"); empty for a text that is none.
std::string SysfsPciAddress(const std::string& name) {
  const std::string text = Lower(name);
  if (text.size() < 7) return {};
  const std::size_t bus = text.size() - 7;
  const std::string segment = bus == 0 ? "0" : text.substr(0, bus - 1);
  if ((bus > 0 && text[bus - 1] != ':') || segment.empty() || segment.size() > 8 ||
      !std::all_of(segment.begin(), segment.end(), IsHex)) {
    return {};
  }
  char address[24];
  static_cast<void>(std::snprintf(address, sizeof address, "%04lx:%s",
                                  std::strtoul(segment.c_str(), nullptr, 16), text.c_str() + bus));
  return IsPciAddress(address) ? address : "";
}

// Where the controllers of NVMe over Fabrics lie, each in a folder of its own.
constexpr char kFabrics[] = "/nvme-fabrics/ctl/";

// The entries of a folder, in the order people count: "eth2" before "eth10".
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  ReadFolder(AT_FDCWD, folder, names);
  // By the letters before the first digit, then the number they begin, then whole.
  const auto key = [](const std::string& name) {
    const std::size_t digits = std::min(name.find_first_of("0123456789"), name.size());
    return std::make_tuple(name.substr(0, digits), std::strtoul(name.c_str() + digits, nullptr, 10),
                           name);
  };
  std::sort(names.begin(), names.end(),
            [&](const std::string& a, const std::string& b) { return key(a) < key(b); });
  return names;
}

// The PCI devices a sysfs device lies under: the last component of its path that is a PCI
// address, as devices behind bridges lie below them. A device made of others lies under those:
// an NVMe namespace reached by multipath (under a virtual subsystem; its paths under the
// controllers), a device-mapper or RAID disk (its slaves), a VLAN or a bond (its lower
// devices). A controller of NVMe over Fabrics stands for a PCI device, by its own folder: the
// kernel gives it a node of its own (nvme-rdma its adapter's). None for a device on no bus.
void PciDevicesOf(const std::string& path, std::vector<std::string>& addresses, int depth = 0) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return;
  std::string real = resolved;
  std::free(resolved);
  std::string address;
  for (std::size_t start = 0; start < real.size();) {
    const std::size_t end = std::min(real.find('/', start), real.size());
    const std::string component = real.substr(start, end - start);
    if (IsPciAddress(component)) address = component;
    start = end + 1;
  }
  const std::size_t fabrics = real.find(kFabrics);
  if (address.empty() && fabrics != std::string::npos) {
    address = real.substr(0, real.find('/', fabrics + std::strlen(kFabrics)));
  }
  if (!address.empty()) {
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
      addresses.push_back(address);
    }
    return;
  }
  // Stacks are a few deep (LUKS on LVM thin on RAID: six); this only ends a loop of links.
  if (depth == 16) return;
  const std::size_t found = addresses.size();
  // A partition's paths are its disk's.
  if (access((real + "/partition").c_str(), F_OK) == 0) real.resize(real.rfind('/'));
  for (const char* parts : {"/multipath/", "/slaves/"}) {
    const std::string folder = real + parts;
    for (const std::string& part : Entries(folder)) {
      PciDevicesOf(folder + part, addresses, depth + 1);
    }
  }
  real += '/';
  for (const std::string& entry : Entries(real)) {
    if (entry.compare(0, 6, "lower_") == 0) PciDevicesOf(real + entry, addresses, depth + 1);
  }
  // Kernels before multipath/ show a namespace's paths only as its subsystem's links to the
  // controllers ("nvme0").
  const std::size_t subsystem = real.find("/nvme-subsystem/");
  if (addresses.size() == found && subsystem != std::string::npos) {
    const std::string folder = real.substr(0, real.find('/', subsystem + 16) + 1);
    for (const std::string& entry : Entries(folder)) {
      struct stat status {};
      if (entry.compare(0, 4, "nvme") == 0 && lstat((folder + entry).c_str(), &status) == 0 &&
          S_ISLNK(status.st_mode)) {
        PciDevicesOf(folder + entry, addresses, depth + 1);
      }
    }
  }
}

// The node sysfs gives a device, where it is one of the machine's `online` nodes; else -1, as
// where it gives none. The firmware of most virtual machines and laptops gives none: where one
// node is online, that node is the device's, as it is everything's.
int NodeOf(const std::string& sys, const std::string& address,
           const std::vector<unsigned long>& online) {
  std::string text;
  ReadFirstLine((address[0] == '/' ? address : sys + "/bus/pci/devices/" + address) + "/numa_node",
                text);
  char* end = nullptr;
  const long node = std::strtol(text.c_str(), &end, 10);
  const bool listed = end != text.c_str() && node >= 0 &&
                      std::find(online.begin(), online.end(), node) != online.end();
  if (listed) return static_cast<int>(node);
  return online.size() == 1 ? static_cast<int>(online[0]) : -1;
}

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

// The GPU whose device file is `name`, "/dev/nvidia3", by the minor number NVIDIA's driver
// tells of each GPU under `proc`; empty where no GPU has it. Its DRM card numbers differ.
std::string NvidiaGpu(const std::string& proc, const std::string& name) {
  const std::string kFile = "/dev/nvidia";
  const std::string minor =
      name.compare(0, kFile.size(), kFile) == 0 ? name.substr(kFile.size()) : "";
  if (minor.empty() || minor.find_first_not_of("0123456789") != std::string::npos) return {};
  const std::string folder = proc + "/driver/nvidia/gpus/";
  for (const std::string& gpu : Entries(folder)) {
    std::string information;
    ReadWholeFile(folder + gpu + "/information", information);
    const std::size_t at = information.find("Device Minor:");
    if (at != std::string::npos && std::strtoul(information.c_str() + at + 13, nullptr, 10) ==
                                       std::strtoul(minor.c_str(), nullptr, 10)) {
      return SysfsPciAddress(gpu);
    }
  }
  return {};
}

// The device-mapper disk a name of LVM's or LUKS's stands for ("vg-root"), as its dm/name
// says; empty where none does.
std::string MappedDisk(const std::string& sys, const std::string& name) {
  const std::string folder = sys + "/class/block/";
  for (const std::string& disk : Entries(folder)) {
    std::string mapped;
    if (disk.compare(0, 3, "dm-") == 0 && ReadFirstLine(folder + disk + "/dm/name", mapped) &&
        mapped == name) {
      return folder + disk;
    }
  }
  return {};
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
            ReadFirstLine(folder + dax_region + "/" + dax + "/target_node", node)) {
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
      for (const std::string& address : addresses) fed[address] = {std::atoi(node.c_str()), name};
    }
  }
  return fed;
}

// The facts of the machine's nodes under `sys`.
NodeFacts NodesIn(const std::string& sys) { return {sys + "/devices/system/node"}; }

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
    PciDevicesOf(sys + "/class/nvme/" + name, controller);
    if (controller.size() != 1 || controller[0][0] != '/') continue;
    MachineDevice device;
    std::string transport;
    std::string target;
    ReadFirstLine(controller[0] + "/transport", transport);
    ReadFirstLine(controller[0] + "/address", target);
    device.address = transport + " " + target;
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
      std::vector<std::string> addresses;
      PciDevicesOf(folder + name, addresses);
      for (const std::string& address : addresses) {
        const auto device = by_address.find(address);
        if (device != by_address.end()) machine.devices[device->second].names.push_back(name);
      }
    }
  }
  NameFromPciIds(pci_ids, machine.devices);
  return true;
}

bool FindNamedDeviceIn(const std::string& root, const std::string& name, NamedDevice& found,
                       PlacementFailure& failure) {
  found = {};
  const std::string sys = root + "/sys";
  std::string path;
  const std::string address = SysfsPciAddress(name);
  const std::string gpu = NvidiaGpu(root + "/proc", name);
  const std::string kMapper = "/dev/mapper/";
  struct stat status {};
  if (!address.empty() || !gpu.empty()) {
    path = sys + "/bus/pci/devices/" + (gpu.empty() ? address : gpu);
  } else if (name.compare(0, kMapper.size(), kMapper) == 0) {
    path = MappedDisk(sys, name.substr(kMapper.size()));
  } else if (name.find('/') != std::string::npos || name == "." || name == "..") {
    // A device file, by the numbers sysfs lists devices under: any link to it will do
    // (/dev/disk/by-id/...). Any other file, a mount point, by the drive of its filesystem.
    if (stat(name.c_str(), &status) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return true;
      failure = {"stat " + name, std::strerror(errno)};
      return false;
    }
    const bool special = S_ISBLK(status.st_mode) || S_ISCHR(status.st_mode);
    const dev_t device = special ? status.st_rdev : status.st_dev;
    path = sys + (S_ISCHR(status.st_mode) ? "/dev/char/" : "/dev/block/") +
           std::to_string(major(device)) + ":" + std::to_string(minor(device));
  } else {
    // A class lists its devices as links; its files (bonding_masters, version) are none.
    for (const char* folder : {"/class/net/", "/class/block/", "/class/nvme/", "/class/drm/",
                               "/class/infiniband/", "/bus/dax/devices/"}) {
      path = sys + folder;
      path += name;
      if (!name.empty() && lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) break;
      path.clear();
    }
    if (path.empty()) path = MappedDisk(sys, name);
  }
  if (path.empty() || lstat(path.c_str(), &status) != 0) return true;
  found.known = true;
  std::vector<std::string> addresses;
  PciDevicesOf(path, addresses);
  std::string list;
  NodesIn(sys).Online(list);
  const std::vector<unsigned long> online = NodeNumbers(list);
  // A DAX device's memory is on the node it makes (daxctl's target_node), wherever it sits.
  std::string made;
  if (ReadFirstLine(path + "/target_node", made)) {
    const long node = std::strtol(made.c_str(), nullptr, 10);
    if (std::find(online.begin(), online.end(), node) != online.end()) {
      found.node = static_cast<int>(node);
    }
    return true;
  }
  // A virtual device is on the one node there is.
  if (addresses.empty() && online.size() == 1) found.node = static_cast<int>(online[0]);
  if (addresses.empty()) return true;
  found.address = addresses[0][0] == '/' ? "" : addresses[0];
  found.node = NodeOf(sys, addresses[0], online);
  for (const std::string& other : addresses) {
    if (NodeOf(sys, other, online) != found.node) found.on_several_nodes = true;
  }
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

bool FindNamedDevice(const std::string& name, NamedDevice& found, PlacementFailure& failure) {
  return FindNamedDeviceIn("", name, found, failure);
}
