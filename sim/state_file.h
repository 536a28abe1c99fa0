// The simulated programmer's storage kept in a file between processes
// (--simulate=state=FILE): a line script runs one process per chip, and each
// finds what the previous one stored, as a real programmer keeps its storage
// and counters across connections.
//
// The file holds the stored image, its production records, the counters, the
// firmware state and the chip in the socket. It is text: a first line naming
// the format, then one "KEY VALUE" line per field (the storage and the chip's
// flash as hex digits). It is written whole to a temporary file and renamed
// into place, and every read and write holds flock on FILE.lock, so that two
// processes using one FILE at the same time never leave it half written or
// corrupt. Each process works on the state it loaded; the last to store wins.
//
// A simulated station of N programmers keeps them all in one FILE: a first
// line naming the station format, then for each programmer a line
// "programmer K" followed by that programmer's state as above. Each programmer
// replaces only its own section. A station loads a file of one programmer as
// its programmer 1.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "sim/programmer.h"

namespace qrv::sim {

inline constexpr const char* kStateFileFormat = "QRV simulated programmer state 1";
inline constexpr const char* kStationStateFormat = "QRV simulated station state 1";

// The state as the file's text.
std::string StateText(const StoredState& state);
// The state a text describes, or nullopt and *error naming the line and the reason.
std::optional<StoredState> ParseStateText(const std::string& text, std::string* error);

// The states of a station's programmers by number (1..N) as the file's text.
std::string StationStateText(const std::map<int, StoredState>& states);
// The states a station's text describes; a text of one programmer gives
// programmer 1. nullopt and *error naming the line and the reason.
std::optional<std::map<int, StoredState>> ParseStationStateText(const std::string& text,
                                                                std::string* error);

// Whether FILE can serve as a state file: it does not exist yet (a new
// programmer), or it holds a valid state: of one programmer, or with `station`
// also of a station. False with the message for the user.
bool CheckStateFile(const std::string& path, std::string* error, bool station = false);

// Loads and stores one device's state in one file: the whole file, or with a
// section K > 0 programmer K's part of a station's file.
class StateFile {
  public:
    explicit StateFile(std::string path, int section = 0)
        : path_(std::move(path)), section_(section) {}

    // Loads FILE into the device (a missing FILE leaves the device as it is).
    // False with the message when FILE cannot be read or is no valid state;
    // the device is then unchanged and nothing will be stored over FILE.
    bool Load(SimProgrammer& device, std::string* error);
    // Stores the device's state when it changed since it was loaded or last
    // stored. A download in progress is not stored: like an unplugged
    // programmer, the file keeps the image it had. A failed write is reported
    // on stderr once and retried at the next change.
    void StoreIfChanged(const SimProgrammer& device);

  private:
    bool WriteLocked(const StoredState& state, std::string* error);

    std::string path_;
    int section_;
    StoredState stored_;  // the state last loaded or stored
    bool refused_ = false;
    bool reported_ = false;
};

}  // namespace qrv::sim
