// The devices of a sysfs tree traced to the PCI devices they sit on, and the node of each: what
// the look at the machine and the search for a named device share.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/node_facts.h"

// "0000:3b:00.0" as sysfs writes a PCI address: a segment of 4 or more hex digits, bus, device
// and function.
bool IsPciAddress(const std::string& text);

// A PCI address as users write it, its segment of any width (nvidia-smi's "00000000:CD:00.0")
// or left out, as sysfs writes it ("0000:cd:00.0"); empty for a text that is none.
std::string SysfsPciAddress(const std::string& name);

// The entries of a folder, in the order people count: "eth2" before "eth10".
std::vector<std::string> Entries(const std::string& folder);

// The PCI devices a sysfs device lies under: the last component of its path that is a PCI
// address, as devices behind bridges lie below them. A device made of others lies under those:
// an NVMe namespace reached by multipath (under a virtual subsystem; its paths under the
// controllers), a device-mapper or RAID disk (its slaves), a VLAN or a bond (its lower
// devices). A controller of NVMe over Fabrics stands for a PCI device, by its own folder: the
// kernel gives it a node of its own (nvme-rdma its adapter's). None for a device on no bus.
void PciDevicesOf(const std::string& path, std::vector<std::string>& addresses, int depth = 0);

// The node sysfs gives a device, where it is one of the machine's `online` nodes; else -1, as
// where it gives none. The firmware of most virtual machines and laptops gives none: where one
// node is online, that node is the device's, as it is everything's.
int NodeOf(const std::string& sys, const std::string& address,
           const std::vector<unsigned long>& online);

// The facts of the machine's nodes under `sys`.
NodeFacts NodesIn(const std::string& sys);
