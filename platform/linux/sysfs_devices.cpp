#include "platform/linux/sysfs_devices.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "platform/linux/kernel_lists.h"

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Where the controllers of NVMe over Fabrics lie, each in a folder of its own.
constexpr char kFabrics[] = "/nvme-fabrics/ctl/";

}  // namespace

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
void PciDevicesOf(const std::string& path, std::vector<std::string>& addresses, int depth) {
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

// The facts of the machine's nodes under `sys`.
NodeFacts NodesIn(const std::string& sys) { return {sys + "/devices/system/node"}; }
