#include <cerrno>
#include <cstring>

#include "support/system_facts.h"

std::string SystemText(unsigned long code) {
  return std::string(std::strerror(static_cast<int>(code))) + "\n";
}
