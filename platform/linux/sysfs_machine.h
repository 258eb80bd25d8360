// The machine's nodes and PCI devices as sysfs describes them, under any root folder: the
// system's /sys, or a tree laid out as it is.
#pragma once

#include <string>

#include "platform/machine_nodes.h"

// Where distributions install the PCI ids database, the first found taken.
constexpr const char* kPciIdsFiles[] = {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids",
                                        "/usr/share/pci.ids"};

// The machine under `sys`; devices named from the PCI ids database `pci_ids` where it has them
// (an empty path or a missing file: none).
bool LookAtMachineIn(const std::string& sys, const std::string& pci_ids, Machine& machine,
                     PlacementFailure& failure);

// The device `name` under `sys`: a PCI address, a device file (whose numbers sysfs lists), or a
// name in the network, block, DRM or InfiniBand class.
bool FindNamedDeviceIn(const std::string& sys, const std::string& name, NamedDevice& found,
                       PlacementFailure& failure);
