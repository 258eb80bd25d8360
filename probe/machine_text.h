// What the probe says of the machine's nodes and their devices, and of the node of one device.
#pragma once

#include <string>

#include "platform/machine_nodes.h"

// The lines of --nodes: the nodes, each with its processors, memory, distances and devices in a
// block of its own, then the devices the firmware gives no node.
std::string MachineText(const Machine& machine);

// What --node-of=`name` says of the device found: its node alone ("1\n"), true; or, false, why
// there is none to give.
bool NodeOfText(const std::string& name, const NamedDevice& found, std::string& text);
