// The probe's reports of the machine: its nodes and devices, and the node of one device.
#pragma once

#include <string>

// --nodes on standard output. The probe's status: 0 once said, 2 where the system could not
// tell (the call and why on standard error).
int ReportMachine();

// --node-of=`name`: the node alone on standard output, status 0; 2, with why on standard
// error, for a device the system does not know or one without a node.
int ReportNodeOf(const std::string& name);
