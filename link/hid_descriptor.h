#pragma once

#include <cstddef>
#include <cstdint>

namespace qrv {

struct InputReportInfo {
    uint16_t byteLength = 0;       // largest input report, including the report ID byte
    bool numberedReports = false;  // the descriptor uses report IDs
};

// Reads a HID report descriptor and computes the input report byte length the
// way the HID class driver reports it: the largest input report of any report ID
// plus one byte for the ID (always counted, also when reports are not numbered).
// Malformed descriptors never read past size.
InputReportInfo ParseInputReportInfo(const uint8_t* descriptor, std::size_t size);

}  // namespace qrv
