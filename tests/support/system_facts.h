// What the system says, as the tool prints it, for the expected outputs of the end-to-end tests.
#pragma once

#include <string>

// The system's own text for an error code (an errno value on POSIX), line break included.
std::string SystemText(unsigned long code);

#ifdef _WIN32
bool UnderWine();
#endif
