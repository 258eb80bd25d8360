// Why the kernel refused to prefer a node, told from what it says of the machine's nodes: a node
// the machine lacks, one without memory, or one the process may not use.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/node_facts.h"
#include "text/wide_text.h"

// The text for a refused `node`, from the folder `nodes` (laid out as kSystemNodes) and the nodes
// the process may use (`allowed`, as the kernel lists them, "0-1,3"; empty if unknown). Without
// the folder, the node is called unavailable; a node the process may use, which these facts do
// not explain, gets the kernel's own reason.
WideText RefusedNodeText(std::uint16_t node, const std::string& nodes, const std::string& allowed);
