#pragma once

#include <array>
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

inline constexpr int kMaxStationProgrammers = 16;

// A simulated station: count=N programmers, each with options of its own.
struct StationOptions {
    // 0: count was not given (the lone programmer of --simulate).
    int count = 0;
    // Programmer K's options at [K - 1]. A knob without @K sets it in all.
    std::array<SimOptions, kMaxStationProgrammers> programmers{};
    // port@K=PATH and serial@K=TEXT; empty means the default ("1-1.K",
    // "SIM000K"). A serial given empty is kept empty (a programmer without one).
    std::array<std::string, kMaxStationProgrammers> ports{};
    std::array<std::optional<std::string>, kMaxStationProgrammers> serials{};
    // control=PATH: the FIFO that takes "unplug K" and "plug K [PORT]".
    std::string control;
    // state=FILE: every programmer kept in FILE.
    std::string stateFile;
};

// Parses the OPTIONS of --simulate as ParseSimOptions does, and besides them
// count=N (1..16), KNOB@K (a knob for programmer K alone: fail=verify@3,
// no-chip@5), serial@K=TEXT, port@K=PATH and control=PATH. The options without
// @K also go to *common (the lone programmer's options). K must be at most the
// count; @K, serial, port and control need count.
bool ParseStationOptions(const std::string& text, StationOptions* station, SimOptions* common,
                         std::string* error);

// The help text of the simulator options (for --help).
const char* SimOptionsHelp();

}  // namespace qrv::sim
