#pragma once

#include <string>

#include "sim/programmer.h"

namespace qrv::sim {

// Parses the OPTIONS of --simulate[=OPTIONS]: a comma-separated list. Returns
// false with a message naming the bad option.
bool ParseSimOptions(const std::string& text, SimOptions* options, std::string* error);

// The help text of the simulator options (for --help).
const char* SimOptionsHelp();

}  // namespace qrv::sim
