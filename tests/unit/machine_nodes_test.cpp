// The machine as a sysfs tree describes it, and what the probe says of it: a tree laid out as
// the kernel lays it out, its devices behind bridges and virtio, with the links users name
// devices by.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/linux/sysfs_machine.h"
#include "probe/machine_text.h"
#include "support/fake_sysfs.h"
#include "support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

// Nodes 0 (processors, memory, distances), 1 (no processors, no memory) and 2 (processors; no
// memory or distance files), of which this job has a processor each of 0 and 2, and the memory
// of 1 and 2; a network card on node 0 behind which its interface sits, an NVMe drive behind a
// bridge on node 1, a display the firmware gives no node, an accelerator (NVIDIA's GPU 0) on a
// node the machine does not have online, a USB controller with a drive, GPU 3 on node 1, drives
// in PCI segments 9 and 10, a CXL memory device, NVMe over Fabrics, and the loopback interface
// on no bus.
void WriteMachine(const fs::path& root) {
  const fs::path sys = root / "sys";
  WriteSysfsFile(root / "proc/self/status",
                 "Name:\tprobe\nCpus_allowed_list:\t1-2\nMems_allowed_list:\t1-2\n");
  WriteSysfsFile(root / "proc/driver/nvidia/gpus/0000:cd:00.0/information",
                 "Model: \t\t NVIDIA A100\nDevice Minor: \t 3\n");
  WriteSysfsFile(root / "proc/driver/nvidia/gpus/0000:00:04.0/information", "Device Minor: 0\n");
  WriteNodes(sys / "devices/system/node", "0-2", nullptr,
             {{"0-1", "10 20 20", "2097152", "1048576"},
              {"", "20 10 20", "0", "0"},
              {"2-3", nullptr, nullptr, nullptr}});
  const fs::path bus = sys / "devices/pci0000:00";
  const struct {
    const char* path;  // under the root bus, or a root bus of its own
    const char* class_code;
    const char* ids;
    const char* node;
    const char* names;  // class folder and the path below the device, each
  } devices[] = {
      {"0000:00:01.0", "0x060400", "8086 7191", "1", ""},
      {"0000:00:01.0/0000:01:00.0", "0x010802", "1b36 0010", "1", ""},
      {"0000:00:02.0", "0x030000", "1234 1111", "-1",
       "class/drm/card0:drm/card0 class/drm/card0-HDMI-A-1:drm/card0/card0-HDMI-A-1 "
       "class/drm/renderD128:drm/renderD128"},
      {"0000:00:03.0", "0x020000", "8086 100e", "0", "class/net/eth0:virtio2/net/eth0"},
      {"0000:00:04.0", "0x120000", "10de 20b0", "5", ""},
      {"0000:00:05.0", "0x0c0330", "8086 7ae0", "-1", "block/sdb:usb1/1-1/host0/block/sdb"},
      {"../pci0000:cd/0000:cd:00.0", "0x030200", "10de 20b0", "1", ""},
      {"../pci000a:00/000a:00:00.0", "0x010802", "1b36 0010", "2", ""},
      {"../pci0009:00/0009:00:00.0", "0x010802", "1b36 0010", "2", ""},
      {"0000:00:06.0", "0x050210", "8086 0d93", "0", "bus/cxl/devices/mem0:mem0"},
  };
  fs::create_directories(sys / "bus/pci/devices");
  for (const auto& device : devices) {
    const fs::path folder = (bus / device.path).lexically_normal();
    WriteSysfsFile(folder / "class", std::string(device.class_code) + "\n");
    WriteSysfsFile(folder / "vendor", "0x" + std::string(device.ids, 4) + "\n");
    WriteSysfsFile(folder / "device", "0x" + std::string(device.ids + 5) + "\n");
    WriteSysfsFile(folder / "numa_node", std::string(device.node) + "\n");
    fs::create_directory_symlink(folder, sys / "bus/pci/devices" / folder.filename());
    std::istringstream names(device.names);
    for (std::string name; names >> name;) {
      const std::string link = name.substr(0, name.find(':'));
      fs::create_directories(folder / name.substr(link.size() + 1));
      fs::create_directories((sys / link).parent_path());
      fs::create_directory_symlink(folder / name.substr(link.size() + 1), sys / link);
    }
  }
  // Devices made of others, as the kernel lays them out: the drive's namespaces reached by
  // multipath under virtual subsystems, their paths (hidden disks) under the controller, found
  // through the subsystem's link to it or, in later kernels, the namespace's multipath/; a VLAN
  // on the network card; a bond of the card and (made up) the drive's path, and a RAID of the
  // namespace and one (made up) of the card, each on two nodes; and devices of none.
  const fs::path space = sys / "devices/virtual/nvme-subsystem/nvme-subsys0/nvme0n1";
  const fs::path space2 = sys / "devices/virtual/nvme-subsystem/nvme-subsys1/nvme1n1";
  const fs::path space3 = sys / "devices/virtual/nvme-subsystem/nvme-subsys2/nvme2n1";
  const fs::path controller = bus / "0000:00:01.0/0000:01:00.0/nvme/nvme0";
  const fs::path drive_path = controller / "nvme0c0n1";
  WriteSysfsFile(drive_path / "hidden", "1\n");
  const fs::path card = bus / "0000:00:03.0/virtio2/net/eth0";
  WriteSysfsFile(space / "nvme0n1p1/partition", "1\n");
  WriteSysfsFile(sys / "devices/virtual/block/dm-0/dm/name", "vg-root\n");
  // Node 0's processors in package 0, node 2's in 1 (which lists its CPUs, as kernels since 5.5
  // do); node 1 of a slower tier, made by the CXL memory device: its region's DAX device makes
  // node 1, its decoder's endpoint is the device.
  for (int cpu = 0; cpu < 4; ++cpu) {
    const fs::path topology =
        sys / "devices/system/cpu" / ("cpu" + std::to_string(cpu)) / "topology";
    WriteSysfsFile(topology / "physical_package_id", cpu < 2 ? "0\n" : "1\n");
    if (cpu >= 2) WriteSysfsFile(topology / "package_cpus_list", "2-3\n");
  }
  WriteSysfsFile(sys / "devices/virtual/memory_tiering/memory_tier4/nodelist", "0,2\n");
  WriteSysfsFile(sys / "devices/virtual/memory_tiering/memory_tier22/nodelist", "1\n");
  const fs::path cxl = sys / "devices/platform/ACPI0017:00/root0";
  WriteSysfsFile(cxl / "decoder0.0/region0/target0", "decoder5.0\n");
  WriteSysfsFile(cxl / "decoder0.0/region0/dax_region0/dax0.0/target_node", "1\n");
  const fs::path fabrics = sys / "devices/virtual/nvme-fabrics/ctl/nvme5";
  WriteSysfsFile(fabrics / "transport", "rdma\n");
  WriteSysfsFile(fabrics / "address", "traddr=10.0.0.2,trsvcid=4420\n");
  WriteSysfsFile(fabrics / "numa_node", "1\n");
  // The drive of the filesystem that holds "/" is the namespace's partition; /proc's, numbered
  // as btrfs numbers its subvolumes, the one its mount names.
  struct stat top {};
  struct stat proc {};
  ASSERT_TRUE(stat("/", &top) == 0 && stat("/proc", &proc) == 0);
  const std::string drive =
      std::to_string(major(top.st_dev)) + ":" + std::to_string(minor(top.st_dev));
  WriteSysfsFile(root / "proc/self/mountinfo", "21 1 8:1 / /boot rw - ext4 /dev/sda1 rw\n22 1 " +
                                                   std::to_string(major(proc.st_dev)) + ":" +
                                                   std::to_string(minor(proc.st_dev)) +
                                                   " / /proc rw - btrfs /dev/nvme0n1p1 rw\n");
  const std::pair<fs::path, fs::path> links[] = {
      {controller, space.parent_path() / "nvme0"},
      {controller, sys / "class/nvme/nvme0"},
      {cxl / "decoder0.0/region0", sys / "bus/cxl/devices/region0"},
      {cxl / "decoder0.0/region0/dax_region0/dax0.0", sys / "bus/dax/devices/dax0.0"},
      {cxl / "port1/endpoint5/decoder5.0", sys / "bus/cxl/devices/decoder5.0"},
      {bus / "0000:00:06.0/mem0", cxl / "port1/endpoint5/uport"},
      {fabrics, sys / "class/nvme/nvme5"},
      {fabrics / "nvme5n1", sys / "block/nvme5n1"},
      {fabrics / "nvme5n1", sys / "class/block/nvme5n1"},
      {space / "nvme0n1p1", sys / "dev/block" / drive},
      {drive_path, space2 / "multipath/nvme0c0n1"},
      {space, sys / "block/nvme0n1"},
      {space2, sys / "block/nvme1n1"},
      {space2, sys / "class/block/nvme1n1"},
      {drive_path, sys / "block/nvme0c0n1"},
      {space, sys / "class/block/nvme0n1"},
      {space / "nvme0n1p1", sys / "class/block/nvme0n1p1"},
      {card, sys / "devices/virtual/net/eth0.5/lower_eth0"},
      {sys / "devices/virtual/net/eth0.5", sys / "class/net/eth0.5"},
      {card, sys / "devices/virtual/net/bond0/lower_eth0"},
      {drive_path, sys / "devices/virtual/net/bond0/lower_made_up"},
      {sys / "devices/virtual/net/bond0", sys / "class/net/bond0"},
      {space / "nvme0n1p1", sys / "devices/virtual/block/dm-0/slaves/nvme0n1p1"},
      {sys / "devices/virtual/block/dm-0", sys / "class/block/dm-0"},
      {sys / "devices/virtual/block/dm-0", sys / "block/dm-0"},
      {card, space3.parent_path() / "nvme1"},
      {space, sys / "devices/virtual/block/md0/slaves/nvme0n1"},
      {space3, sys / "devices/virtual/block/md0/slaves/nvme2n1"},
      {sys / "devices/virtual/block/md0", sys / "block/md0"},
      {sys / "devices/virtual/block/md0", sys / "class/block/md0"},
      {sys / "devices/virtual/net/lo", sys / "class/net/lo"},
      {sys / "devices/virtual/mem/null", sys / "dev/char/1:3"}};
  for (const auto& [target, link] : links) {
    fs::create_directories(target);
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(target, link);
  }
  WriteSysfsFile(sys / "class/net/bonding_masters", "bond0\n");
}

TEST(MachineNodes, ReadsNodesAndDevicesAsSysfsDescribesThem) {
  const ScratchFolder scratch;
  WriteMachine(scratch.path());
  WriteSysfsFile(scratch.path() / "pci.ids",
                 "# vendors, devices and their subsystems\n8086  Intel Corporation\n"
                 "\t100e  82540EM Gigabit Ethernet Controller\n\t\t8086 001e  PRO/1000 MT Mobile\n"
                 "1b36  Red Hat, Inc.\n\t0011  PVPanic device\nC 02  Network controller\n"
                 "\t00  Ethernet controller\n");
  Machine machine;
  PlacementFailure failure;
  ASSERT_TRUE(LookAtMachineIn(scratch.path(), scratch.path() / "pci.ids", machine, failure))
      << failure.reason;
  EXPECT_EQ(
      MachineText(machine),
      "nodestart-probe: 3 nodes (0-2)\n"
      "node 0 processors: 0-1 (this job: 1)\n"
      "node 0 packages: 0\n"
      "node 0 memory: 2.0 GiB, 1.0 GiB free (not this job's)\n"
      "node 0 memory tier: 4\n"
      "node 0 distances: 10 20 20\n"
      "node 0 network 0000:00:03.0: Intel Corporation 82540EM Gigabit Ethernet Controller "
      "(bond0, eth0, eth0.5, md0)\n"
      "node 1 processors: none\n"
      "node 1 memory: none\n"
      "node 1 memory tier: 22\n"
      "node 1 distances: 20 10 20\n"
      "node 1 memory 0000:00:06.0: Intel Corporation, device 0d93 (dax0.0)\n"
      "node 1 storage 0000:01:00.0: Red Hat, Inc., device 0010 (bond0, vg-root, md0, nvme0n1, "
      "nvme1n1, nvme0)\n"
      "node 1 accelerator 0000:cd:00.0: 10de:20b0\n"
      "node 1 storage rdma traddr=10.0.0.2,trsvcid=4420: NVMe over Fabrics (nvme5n1, nvme5)\n"
      "node 2 processors: 2-3 (this job: 2)\n"
      "node 2 packages: 1\n"
      "node 2 memory: not given by the system\n"
      "node 2 memory tier: 4\n"
      "node 2 distances: not given by the system\n"
      "node 2 storage 0009:00:00.0: Red Hat, Inc., device 0010\n"
      "node 2 storage 000a:00:00.0: Red Hat, Inc., device 0010\n"
      "no node display 0000:00:02.0: 1234:1111 (card0, renderD128)\n"
      "no node accelerator 0000:00:04.0: 10de:20b0\n"
      "no node usb 0000:00:05.0: Intel Corporation, device 7ae0 (sdb)\n");
  ASSERT_FALSE(LookAtMachineIn(scratch.path() / "none", "", machine, failure));
  EXPECT_EQ(failure.reason,
            "No such file or directory (a kernel built without NUMA shows no nodes)");
}

TEST(MachineNodes, NamesTheNodeOfADeviceByEveryNameAUserHas) {
  const char* const kUnknown =
      "no device {} here: not a PCI address, network interface, block, device-mapper, NVMe, DAX, "
      "DRM, RDMA or NVIDIA device, or file on a drive, that this system knows";
  const ScratchFolder scratch;
  WriteMachine(scratch.path());
  const struct {
    const char* name;
    bool printed;  // on standard output, as the node alone
    const char* text;
  } cases[] = {
      {"0000:01:00.0", true, "1\n"},
      {"01:00.0", true, "1\n"},
      {"0:01:00.0", true, "1\n"},
      {"00000000:CD:00.0", true, "1\n"},
      {"/dev/nvidia3", true, "1\n"},
      {"/dev/nvidia0", false,
       "/dev/nvidia0 (PCI 0000:00:04.0) has no NUMA node: the firmware gives it none"},
      {"/dev/nvidia1", false, kUnknown},
      {"nvme0", true, "1\n"},
      {"nvme5", true, "1\n"},
      {"dax0.0", true, "1\n"},
      {"vg-root", true, "1\n"},
      {"/dev/mapper/vg-root", true, "1\n"},
      {"/", true, "1\n"},
      {"00:03.0", true, "0\n"},
      {"eth0", true, "0\n"},
      {"nvme0n1p1", true, "1\n"},
      {"nvme0n1", true, "1\n"},
      {"nvme1n1", true, "1\n"},
      {"eth0.5", true, "0\n"},
      {"bond0", false,
       "bond0 is reached through several PCI devices, not all of one node (--nodes lists it "
       "under each)"},
      {"dm-0", true, "1\n"},
      {"md0", false,
       "md0 is reached through several PCI devices, not all of one node (--nodes lists it under "
       "each)"},
      {"bonding_masters", false, kUnknown},
      {"renderD128", false,
       "renderD128 (PCI 0000:00:02.0) has no NUMA node: the firmware gives it none"},
      {"lo", false, "lo is on no PCI bus (a virtual device): it has no NUMA node"},
      {"/dev/null", false, "/dev/null is on no PCI bus (a virtual device): it has no NUMA node"},
      {"eth9", false, kUnknown},
      {"0000:09:00.0", false, kUnknown},
      {"10000:01:00.0", false, kUnknown},
      {"../block/nvme0n1", false, kUnknown},
      {"/proc/self", true, "1\n"},
      {"/sys", false, kUnknown},  // a filesystem of no drive
  };
  for (const auto& c : cases) {
    NamedDevice found;
    PlacementFailure failure;
    ASSERT_TRUE(FindNamedDeviceIn(scratch.path(), c.name, found, failure)) << c.name;
    std::string text;
    EXPECT_EQ(NodeOfText(c.name, found, text), c.printed) << c.name;
    EXPECT_EQ(text, std::regex_replace(c.text, std::regex("\\{\\}"), c.name)) << c.name;
  }
  // Where one node is online, everything is on it: what the firmware gives no node, or one the
  // machine does not have, and what is on no bus.
  WriteSysfsFile(scratch.path() / "sys/devices/system/node/online", "0\n");
  for (const char* name : {"renderD128", "lo", "md0"}) {
    NamedDevice found;
    PlacementFailure failure;
    ASSERT_TRUE(FindNamedDeviceIn(scratch.path(), name, found, failure)) << name;
    std::string text;
    EXPECT_TRUE(NodeOfText(name, found, text) && text == "0\n") << name << ": " << text;
  }
}

}  // namespace
