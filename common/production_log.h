// The production log: one CSV line (RFC 4180) per automatic run or single step,
// appended to a file the operator names. Each line is written whole with one
// write on a descriptor opened with O_APPEND, so a crash never leaves half a
// line and several processes (one per programmer) can share one log. A write
// cut short (a full disk) is taken back to the line's start, so every line in
// the file is whole, and the log is closed for the rest of the call.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qrv {

// What one run or step came to.
struct RunRecord {
    std::string time;        // local time with its offset, ISO 8601
    std::string programmer;  // the programmer's path
    std::string model;       // the stored production file's model, or the model shown
    std::string checksum;    // the stored image's checksum, four hex digits and "H"
    std::string steps;       // "blank+erase+program+verify" (those that ran)
    std::string outcome;     // "passed", "failed" or "no result"
    std::string failedStep;  // the failing step, if any
    std::string message;     // the programmer's message, or why no result came
    std::string passed;      // the programmer's pass counter
    std::string failed;      // the programmer's fail counter
    std::string option;      // the option result: "passed", "failed", or "" when not reported
    std::string protect;     // the protection result, the same
};

// One CSV record ending in CR LF: fields with a comma, a quote or a line break
// are quoted, and their quotes doubled.
std::string CsvLine(const std::vector<std::string>& fields);

// The local time now, as 2026-12-08T19:52:17+01:00.
std::string LocalTimeIso8601();

class ProductionLog {
  public:
    explicit ProductionLog(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }
    // Whether the log can be opened for appending (a new one is created,
    // empty: the first line brings the header). Only a regular file, or a
    // path to one, is a log: a FIFO or a device is refused at once, never
    // waited on. False with the reason otherwise.
    bool Check(std::string* error) const;
    // Appends the record, after the header line when the file is new. False
    // with the reason when the file cannot be written.
    bool Append(const RunRecord& record, std::string* error);
    // The log of one slot of a station: every line ends with the slot, its
    // port and the programmer's serial, and a new log's header names them.
    void SetStationColumns(int slot, std::string port, std::string serial) {
        station_ = StationColumns{slot, std::move(port), std::move(serial)};
    }
    // Whether a write has failed; the log then takes no more lines.
    bool Failed() const { return !failure_.empty(); }

  private:
    // The log opened for appending, or -1 with the reason; *created tells
    // whether it is new (or empty) and needs its header.
    int Open(bool* created, std::string* error) const;

    struct StationColumns {
        int slot;
        std::string port;
        std::string serial;
    };
    std::string path_;
    std::optional<StationColumns> station_;
    std::string failure_;  // why the log was closed, after a failed write
};

}  // namespace qrv
