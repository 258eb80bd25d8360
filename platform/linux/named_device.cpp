// The device a user names, found in sysfs by its kind of name and traced to the PCI devices it
// sits on.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/linux/kernel_lists.h"
#include "platform/linux/sysfs_devices.h"
#include "platform/linux/sysfs_machine.h"

namespace {

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

// The disk `source` names ("/dev/nvme0n1p3", "/dev/mapper/vg-root") under `sys`; empty for a
// source that is none (tmpfs, overlay, a ZFS dataset).
std::string SourceDisk(const std::string& sys, const std::string& source) {
  const std::string kMapper = "/dev/mapper/";
  if (source.compare(0, kMapper.size(), kMapper) == 0) {
    return MappedDisk(sys, source.substr(kMapper.size()));
  }
  return source.compare(0, 5, "/dev/") == 0 ? sys + "/class/block/" + source.substr(5) : "";
}

// The disk of the filesystem numbered `device` where that number is none of a disk's (btrfs's
// subvolumes, numbered by the kernel as it mounts them): the source its mount gives in
// mountinfo ("36 35 0:32 / /home rw shared:1 - btrfs /dev/nvme0n1p3 rw"); empty where none.
std::string MountedDisk(const std::string& sys, const std::string& proc, dev_t device) {
  std::string mounts;
  ReadWholeFile(proc + "/self/mountinfo", mounts);
  const std::string numbers =
      " " + std::to_string(major(device)) + ":" + std::to_string(minor(device)) + " ";
  for (std::size_t line = 0; line < mounts.size();) {
    const std::size_t end = std::min(mounts.find('\n', line), mounts.size());
    const std::string text = mounts.substr(line, end - line);
    line = end + 1;
    const std::size_t third = text.find(' ', text.find(' ') + 1);
    const std::size_t fields = text.find(" - ");
    if (third != std::string::npos && text.compare(third, numbers.size(), numbers) == 0 &&
        fields != std::string::npos) {
      const std::size_t type_end = text.find(' ', fields + 3);  // past the filesystem's type
      if (type_end == std::string::npos) return {};
      const std::size_t source = type_end + 1;
      return SourceDisk(sys, text.substr(source, text.find(' ', source) - source));
    }
  }
  return {};
}

}  // namespace

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
    path = SourceDisk(sys, name);
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
    if (!special && lstat(path.c_str(), &status) != 0)
      path = MountedDisk(sys, root + "/proc", device);
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

bool FindNamedDevice(const std::string& name, NamedDevice& found, PlacementFailure& failure) {
  return FindNamedDeviceIn("", name, found, failure);
}
