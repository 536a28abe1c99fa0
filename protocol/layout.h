// Where each field stands in a report: the one place that names byte
// positions. Every report has 65 bytes: byte 0 the report ID, byte 1 the
// marker (':' sent by the host, ';' by the programmer), byte 2 the length,
// byte 3 the command or reply code. 16-bit fields go high byte first unless
// said otherwise. Only protocol/ reads these; every other layer goes through
// the typed views of protocol/reports.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrv::wire {

// --- Every report ---
inline constexpr std::size_t kReportId = 0;
inline constexpr std::size_t kMarker = 1;
inline constexpr std::size_t kLength = 2;
inline constexpr std::size_t kCode = 3;

// --- Host to programmer ---

// The short command frame: bytes 4-5 zero, the end address in 6-7, the
// argument in 8-11 low byte first, and in byte 12 the low byte of the sum of
// bytes 2..8.
inline constexpr uint8_t kShortLength = 6;
inline constexpr std::size_t kShortZero = 4;
inline constexpr std::size_t kShortEndAddress = 6;
inline constexpr std::size_t kShortArgument = 8;
inline constexpr std::size_t kShortChecksum = 12;
inline constexpr std::size_t kShortSumFirst = 2;
inline constexpr std::size_t kShortSumLast = 8;

// CMD_DOWNLOAD_REQUEST, CMD_DOWNLOAD_BEGIN, CMD_DOWNLOAD_END and CMD_READ_CACHE:
// an address pair in bytes 4-5 and 6-7 (length 4).
inline constexpr uint8_t kAddressPairLength = 4;
inline constexpr std::size_t kFirstAddress = 4;
inline constexpr std::size_t kSecondAddress = 6;
// CMD_DOWNLOAD_REQUEST: the firmware replacement mark and the production-file
// marker, two bytes each.
inline constexpr std::size_t kFirmwareMark = 10;
inline constexpr std::size_t kFileMarker = 25;
// CMD_DOWNLOAD_END: the file kind; CMD_READ_CACHE: the last download's status.
inline constexpr std::size_t kEndFileKind = 8;
inline constexpr std::size_t kCacheDownloadStatus = 8;

// CMD_WRITE_BLOCK: the count in byte 2, the address in 4-5, the payload from 6.
inline constexpr std::size_t kBlockAddress = 4;
inline constexpr std::size_t kBlockPayload = 6;
inline constexpr std::size_t kMaxBlockPayload = 59;  // bytes 6..64

// CMD_USER_CODE_RECORD and CMD_CONFIG_RECORD: the record's bytes from byte 4.
inline constexpr std::size_t kRecordPayload = 4;
inline constexpr std::size_t kMaxRecordPayload = 61;  // bytes 4..64

// The custom-frequency CMD_OSC_CALIBRATE report: length 9, bytes 4-7 zero,
// the sub-command in byte 8, then four 16-bit values low byte first.
inline constexpr uint8_t kCalibrationLength = 9;
inline constexpr std::size_t kCalibrationZero = 4;
inline constexpr std::size_t kCalibrationZeroCount = 4;
inline constexpr std::size_t kCalibrationSubCommand = 8;
inline constexpr std::size_t kCalibrationFrequency = 9;
inline constexpr std::size_t kCalibrationLower = 11;
inline constexpr std::size_t kCalibrationUpper = 13;
inline constexpr std::size_t kCalibrationTrim = 15;

// --- Programmer to host ---

// The state byte of a step outcome, of the option and protection results, of
// RPL_DOWNLOAD_DONE, RPL_DOWNLOAD_ERROR and RPL_AUTO_RESULT.
inline constexpr std::size_t kReplyState = 6;
// A step outcome's progress count; the checksum of RPL_DOWNLOAD_DONE and
// RPL_CHECKSUM.
inline constexpr std::size_t kReplyCount = 7;
inline constexpr std::size_t kReplyChecksum = 7;
// RPL_DOWNLOAD_DONE: the last address stored.
inline constexpr std::size_t kDoneStored = 11;
// RPL_BLOCK_ACK: the bytes received so far.
inline constexpr std::size_t kAckReceived = 5;
// RPL_AUTO_RESULT: the counter's bytes from high to low.
inline constexpr std::size_t kAutoCounter[4] = {10, 9, 7, 8};

// RPL_CHIP_BLOCK and RPL_CACHE_BLOCK: the count in byte 2, the address in 4-5,
// the line bytes from 6. A chip line has a record-type byte in 6 and its data
// from 7.
inline constexpr std::size_t kReadBackAddress = 4;
inline constexpr std::size_t kReadBackLine = 6;
inline constexpr std::size_t kChipBlockData = 7;
inline constexpr std::size_t kMaxChipBlockCount = 58;   // 7 + 58 = 65
inline constexpr std::size_t kMaxCacheBlockCount = 59;  // 6 + 59 = 65

// RPL_STATUS. Byte 2 holds the XOR of bytes 3..64 instead of a length.
inline constexpr std::size_t kStatusIntegrity = 2;
inline constexpr std::size_t kStatusIntegrityFirst = 3;
inline constexpr std::size_t kStatusStartAddress = 5;
inline constexpr std::size_t kStatusImageLength = 7;
inline constexpr std::size_t kStatusChecksum = 9;
inline constexpr std::size_t kStatusSteps = 12;
inline constexpr std::size_t kStatusSuccessCount = 18;  // 32 bits, high byte first
inline constexpr std::size_t kStatusFailureCount = 22;  // 32 bits, high byte first
inline constexpr std::size_t kStatusFileKind = 26;
inline constexpr std::size_t kStatusModel = 50;
inline constexpr std::size_t kStatusModelSize = 11;
inline constexpr std::size_t kStatusKind = 61;
inline constexpr std::size_t kStatusSecondSteps = 62;
inline constexpr std::size_t kStatusFirmwareMajor = 63;
inline constexpr std::size_t kStatusFirmwareMinor = 64;

// --- The configuration block of a production file ---
// The 21 bytes that a production file's configuration record carries and
// that CMD_CONFIG_RECORD sends.
inline constexpr std::size_t kConfigSize = 21;
inline constexpr std::size_t kConfigStartAddress = 0;
inline constexpr std::size_t kConfigEndAddress = 2;
inline constexpr std::size_t kConfigSupplyFlags = 4;
inline constexpr std::size_t kConfigDeviceCode = 5;
inline constexpr std::size_t kConfigDeviceCodeSize = 11;
inline constexpr std::size_t kConfigFileMarker = 16;
inline constexpr std::size_t kConfigOptionBits = 17;
inline constexpr std::size_t kConfigHardLockSize = 18;
inline constexpr std::size_t kConfigDataFlashSize = 19;
inline constexpr std::size_t kConfigAutoSteps = 20;

}  // namespace qrv::wire

namespace qrv {

// A 16-bit field, high byte first, at bytes at and at + 1.
inline void Put16(uint8_t* report, std::size_t at, unsigned value) {
    report[at] = static_cast<uint8_t>(value >> 8);
    report[at + 1] = static_cast<uint8_t>(value);
}
inline unsigned Get16(const uint8_t* report, std::size_t at) {
    return static_cast<unsigned>(report[at] << 8 | report[at + 1]);
}

// A 16-bit field low byte first (the custom-frequency report only).
inline void PutLe16(uint8_t* report, std::size_t at, unsigned value) {
    report[at] = static_cast<uint8_t>(value);
    report[at + 1] = static_cast<uint8_t>(value >> 8);
}
inline unsigned GetLe16(const uint8_t* report, std::size_t at) {
    return static_cast<unsigned>(report[at] | report[at + 1] << 8);
}

// A 32-bit field, high byte first.
inline void Put32(uint8_t* report, std::size_t at, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        report[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}
inline uint32_t Get32(const uint8_t* report, std::size_t at) {
    return uint32_t{report[at]} << 24 | uint32_t{report[at + 1]} << 16 |
           uint32_t{report[at + 2]} << 8 | report[at + 3];
}

}  // namespace qrv
