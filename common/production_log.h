// The production log: one CSV line (RFC 4180) per automatic run or single step,
// appended to a file the operator names. Each line is written whole with one
// write on a descriptor opened with O_APPEND, so a crash never leaves half a
// line and several processes (one per programmer) can share one log.
#pragma once

#include <string>
#include <vector>

namespace qrv {

// What one run or step came to.
struct RunRecord {
    std::string time;        // local time with its offset, ISO 8601
    std::string programmer;  // the programmer's path
    std::string model;       // the stored production file's model, or the model shown
    std::string checksum;    // the stored image's checksum, four hex digits
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
    // Appends the record, after the header line when the file is new. False
    // with the reason when the file cannot be written.
    bool Append(const RunRecord& record, std::string* error);

  private:
    std::string path_;
};

}  // namespace qrv
