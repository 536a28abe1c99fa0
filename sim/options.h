#pragma once

#include <string>

#include "sim/programmer.h"

namespace qrv::sim {

// Parses the OPTIONS of --simulate[=OPTIONS]: a comma-separated list of
//   no-chip, wrong-model, fail=blank|erase|program|verify, resend-every=N,
//   download-error-at=N, bad-status, corrupt-status, option-results-first,
//   old-firmware, latency-us=N, speed=N, state=FILE.
// Each option found is set in *options; the others keep their value. Returns
// false with a message naming the bad option; for state=FILE also when FILE
// exists but holds no valid state (or cannot be read).
bool ParseSimOptions(const std::string& text, SimOptions* options, std::string* error);

// The help text of the simulator options (for --help).
const char* SimOptionsHelp();

}  // namespace qrv::sim
