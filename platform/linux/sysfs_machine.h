// The machine's nodes and PCI devices as sysfs and proc describe them, under any root folder:
// the system's (""), or a tree laid out as it is.
#pragma once

#include <string>

#include "platform/machine_nodes.h"

// Where distributions install the PCI ids database, the first found taken.
constexpr const char* kPciIdsFiles[] = {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids",
                                        "/usr/share/pci.ids"};

// The machine under `root`; devices named from the PCI ids database `pci_ids` where it has them
// (an empty path or a missing file: none).
bool LookAtMachineIn(const std::string& root, const std::string& pci_ids, Machine& machine,
                     PlacementFailure& failure);

// The device `name` under `root`: a PCI address, a device file (whose numbers sysfs lists) or
// any other file (its filesystem's), a name in the network, block, NVMe, DRM or InfiniBand
// class, a device-mapper name, or an NVIDIA GPU's device file.
bool FindNamedDeviceIn(const std::string& root, const std::string& name, NamedDevice& found,
                       PlacementFailure& failure);
