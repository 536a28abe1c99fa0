// Command and reply codes of the programmer protocol, the short command frame,
// and the trace text of a report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/hex.h"
#include "link/report_buffer.h"
#include "protocol/layout.h"
#include "protocol/step_bits.h"

namespace qrv {

// Host to programmer.
enum : uint8_t {
    CMD_AUTO_PROGRAM = 0x1F,
    CMD_WRITE_BLOCK = 0x20,
    CMD_BLANK_CHECK = 0x22,
    CMD_READ_CACHE = 0x23,
    CMD_DOWNLOAD_BEGIN = 0x25,
    CMD_DOWNLOAD_END = 0x26,
    CMD_EEPROM_READ = 0x27,
    CMD_ERASE = 0x28,
    CMD_VERIFY = 0x29,
    CMD_EEPROM_WRITE = 0x2A,
    CMD_READ_CHIP = 0x32,
    CMD_PROGRAM = 0x33,
    CMD_STATUS = 0x35,
    CMD_ERASE_STORAGE = 0x36,
    CMD_READ_CHECKSUM = 0x37,
    CMD_WRITER_MODE = 0x57,
    CMD_OSC_CALIBRATE = 0x58,
    CMD_USER_OPTION = 0x5E,
    CMD_SET_OPTION = 0x70,
    CMD_DOWNLOAD_REQUEST = 0x7F,
    CMD_CONFIG_RECORD = 0x8F,
    CMD_USER_CODE_RECORD = 0x92,
    CMD_DOWNLOAD_ABORT = 0x9F,
};

// Sub-commands of CMD_OSC_CALIBRATE (byte 8, the short frame's argument; the
// custom-frequency report carries kCalibrateCustom there too).
inline constexpr uint8_t kCalibrate8M = 0x08;
inline constexpr uint8_t kCalibrate20M = 0x20;
inline constexpr uint8_t kCalibrateCustom = 0x23;
inline constexpr uint8_t kCalibrateCancel = 0xAA;

// Programmer to host.
enum : uint8_t {
    RPL_PROTECT_RESULT = 0x1D,
    RPL_OPTION_RESULT = 0x1E,
    RPL_CACHE_BLOCK = 0x21,
    RPL_DOWNLOAD_DONE = 0x26,
    RPL_BLANK_CHECK = 0x27,
    RPL_ERASE = 0x28,
    RPL_VERIFY = 0x29,
    RPL_AUTO_RESULT = 0x2A,
    RPL_DOWNLOAD_ERROR = 0x2B,
    RPL_CHIP_BLOCK = 0x32,
    RPL_PROGRAM = 0x33,
    RPL_STATUS = 0x35,
    RPL_STORAGE_ERASED = 0x36,
    RPL_CHECKSUM = 0x37,
    RPL_MODEL_MISMATCH = 0x7B,
    RPL_BLOCK_ACK = 0x7C,
    RPL_NO_CHIP = 0x7D,
    RPL_RESEND = 0x7E,
    RPL_DOWNLOAD_READY = 0x7F,
};

// Fills bytes 0..12 of a report with the short command frame: the argument goes
// least significant byte first, the end address high byte first, and the
// checksum covers bytes 2..8 only. Bytes 13..64 are left as they are.
inline void BuildShortCommand(uint8_t* report, uint8_t code, uint32_t argument,
                              unsigned endAddress) {
    report[wire::kReportId] = 0;
    report[wire::kMarker] = kHostMarker;
    report[wire::kLength] = wire::kShortLength;
    report[wire::kCode] = code;
    Put16(report, wire::kShortZero, 0);
    Put16(report, wire::kShortEndAddress, endAddress);
    for (std::size_t i = 0; i < 4; ++i)
        report[wire::kShortArgument + i] = static_cast<uint8_t>(argument >> (8 * i));
    unsigned sum = 0;
    for (std::size_t k = wire::kShortSumFirst; k <= wire::kShortSumLast; ++k) sum += report[k];
    report[wire::kShortChecksum] = static_cast<uint8_t>(sum);
}

// One report as --trace writes it: "> " for a report sent, "< " for one
// received, then its 65 bytes as 130 upper-case hex digits.
inline std::string TraceLine(const uint8_t* report, bool sent) {
    return (sent ? "> " : "< ") + HexBytes(report, kReportSize);
}

}  // namespace qrv
