#include "probe/machine_text.h"

#include <cstdio>
#include <map>
#include <vector>

#include "probe/probe_size.h"

namespace {

// The kinds of device a workload is placed by, from PCI's class code; the rest (bridges, USB,
// audio) only where a user knows them by a name (a USB drive's controller), else nullptr.
const char* DeviceKind(const MachineDevice& device) {
  const std::uint32_t base = device.class_code >> 16;
  const std::uint32_t sub = (device.class_code >> 8) & 0xFF;
  if (base == 0x01) return "storage";
  if (base == 0x05 && sub == 0x02) return "memory";  // CXL's
  if (base == 0x02) return sub == 0x07 ? "infiniband" : "network";
  // A 3D controller (a data-centre GPU) drives no display: lspci's name for it, not a card's.
  if (base == 0x03) return sub == 0x02 ? "accelerator" : "display";
  if (base == 0x12 || (base == 0x0B && sub == 0x40)) return "accelerator";
  if (device.names.empty()) return nullptr;
  return base == 0x0C && sub == 0x03 ? "usb" : "device";
}

std::string MemoryText(const MachineNode& node) {
  if (node.total_told && node.total_bytes == 0) return "none";
  std::string text = node.total_told ? BytesText(node.total_bytes, true) : "";
  if (node.free_told)
    text += (text.empty() ? "" : ", ") + BytesText(node.free_bytes, true) + " free";
  if (text.empty()) text = "not given by the system";
  return node.job_memory ? text : text + " (not this job's)";
}

std::string DistancesText(const MachineNode& node) {
  std::string text;
  for (const unsigned long distance : node.distances) {
    text += (text.empty() ? "" : " ") + std::to_string(distance);
  }
  return text.empty() ? "not given by the system" : text;
}

// "Intel Corporation 82574L Gigabit Network Connection (eth1)", or the ids where the system has
// no name; a ": " in a name, or one at its end, would read as a second key.
std::string DeviceText(const MachineDevice& device) {
  std::string text = device.name;
  if (text.empty()) {
    char ids[16];
    static_cast<void>(std::snprintf(ids, sizeof ids, "%04x:%04x", device.vendor, device.device));
    text = ids;
  }
  std::string names;
  for (const std::string& name : device.names) names += (names.empty() ? "" : ", ") + name;
  if (!names.empty()) text += " (" + names + ")";
  for (std::size_t at = text.find(": "); at != std::string::npos; at = text.find(": ", at)) {
    text.replace(at, 2, " - ");
  }
  while (!text.empty() && (text.back() == ':' || text.back() == ' ')) text.pop_back();
  return text;
}

// Node numbers as the kernel lists them: "0-3,8".
std::string NodeList(const std::vector<MachineNode>& nodes) {
  std::string list;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    std::size_t last = i;
    while (last + 1 < nodes.size() && nodes[last + 1].number == nodes[last].number + 1) ++last;
    list += (list.empty() ? "" : ",") + std::to_string(nodes[i].number);
    if (last != i) list += "-" + std::to_string(nodes[last].number);
    i = last;
  }
  return list;
}

}  // namespace

std::string MachineText(const Machine& machine) {
  const std::size_t count = machine.nodes.size();
  std::string text = "nodestart-probe: " + std::to_string(count) +
                     (count == 1 ? " node (" : " nodes (") + NodeList(machine.nodes) + ")\n";
  std::map<int, std::vector<std::string>> devices;  // lines by node
  for (const MachineDevice& device : machine.devices) {
    const char* kind = DeviceKind(device);
    if (kind != nullptr) {
      devices[device.node].push_back(std::string(kind) + " " + device.address + ": " +
                                     DeviceText(device) + "\n");
    }
  }
  const auto block = [&](int node, const std::string& prefix) {
    for (const std::string& line : devices[node]) text += prefix + line;
    devices.erase(node);
  };
  for (const MachineNode& node : machine.nodes) {
    const std::string prefix = "node " + std::to_string(node.number) + " ";
    text += prefix + "processors: " + (node.processors.empty() ? "none" : node.processors) +
            (node.job_processors.empty() ? "" : " (this job: " + node.job_processors + ")") + "\n";
    if (!node.packages.empty()) text += prefix + "packages: " + node.packages + "\n";
    text += prefix + "memory: " + MemoryText(node) + "\n";
    if (node.memory_tier >= 0) {
      text += prefix + "memory tier: " + std::to_string(node.memory_tier) + "\n";
    }
    text += prefix + "distances: " + DistancesText(node) + "\n";
    block(static_cast<int>(node.number), prefix);
  }
  // Nodes a device names that the machine does not list, then none.
  while (!devices.empty()) {
    const auto placed = devices.lower_bound(0);
    const int node = placed != devices.end() ? placed->first : -1;
    block(node, node < 0 ? "no node " : "node " + std::to_string(node) + " ");
  }
  return text;
}

bool NodeOfText(const std::string& name, const NamedDevice& found, std::string& text) {
  if (!found.several.empty()) {
    text = name + " is the bus address of several devices, in PCI segments of their own: " +
           found.several + " (name one by its segment, where given, or by another of its names)";
    return false;
  }
  if (found.on_several_nodes) {
    text = name +
           " is reached through several PCI devices, not all of one node (--nodes lists it "
           "under each)";
    return false;
  }
  if (found.known && found.node >= 0) {
    text = std::to_string(found.node) + "\n";
    return true;
  }
  if (!found.known) {
#ifdef _WIN32
    text = "no device " + name +
           " here: not a PCI address, network adapter or physical drive this system knows";
#else
    text = "no device " + name +
           " here: not a PCI address, network interface, block, device-mapper, NVMe, DAX, DRM, "
           "RDMA or NVIDIA device, or file on a drive, that this system knows";
#endif
  } else if (found.address.empty()) {
    text = name + " is on no PCI bus (a virtual device): it has no NUMA node";
  } else {
    text = name + " (PCI " + found.address + ") has no NUMA node: the firmware gives it none";
  }
  return false;
}
