// The node parameter: converted like "%d", kept as the 16-bit node number.
#pragma once

#include <cstdint>

#include "text/wide_text.h"

struct NodeParam {
  std::uint16_t number;
  bool acceptable;  // false only when the parameter begins with an ASCII letter
};

NodeParam ParseNodeParam(const WideText& parameter);
