// The typed views of the reports: for each command the host sends an encoder
// (and a decoder the simulator reads it with), for each reply the programmer
// sends a decoder (and an encoder the simulator builds it with). The field
// positions are those of protocol/layout.h; no other layer indexes a report.
//
// Decoders read a report of kReportSize bytes and never past it: a count that
// would reach beyond the report is clamped or refused, as each view says.
// Encoders write exactly the bytes they name and leave the others as they are,
// unless they say they fill the whole report.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "link/report_buffer.h"
#include "protocol/layout.h"
#include "protocol/protocol.h"

namespace qrv {

// Payload limits of the block reports.
inline constexpr int kMaxBlockPayload = static_cast<int>(wire::kMaxBlockPayload);
inline constexpr int kMaxRecordPayload = static_cast<int>(wire::kMaxRecordPayload);
inline constexpr int kMaxChipBlockCount = static_cast<int>(wire::kMaxChipBlockCount);
inline constexpr int kMaxCacheBlockCount = static_cast<int>(wire::kMaxCacheBlockCount);
inline constexpr std::size_t kStatusModelSize = wire::kStatusModelSize;

// The two marks a CMD_DOWNLOAD_REQUEST may carry.
using RequestMark = std::array<uint8_t, 2>;
inline constexpr RequestMark kFirmwareUpdateMark = {0xBB, 0xCC};
inline constexpr RequestMark kProductionFileMark = {0xA5, 0x5B};

// The state byte of a step outcome and of the option and protection results.
inline constexpr uint8_t kStateProgress = 0;
inline constexpr uint8_t kStatePassed = 1;
inline constexpr uint8_t kStateFailed = 2;

// --- Bytes every report has -------------------------------------------------

inline uint8_t ReportId(const uint8_t* report) {
    return report[wire::kReportId];
}
inline uint8_t ReportMarker(const uint8_t* report) {
    return report[wire::kMarker];
}
inline uint8_t ReportLength(const uint8_t* report) {
    return report[wire::kLength];
}
inline uint8_t ReportCode(const uint8_t* report) {
    return report[wire::kCode];
}
inline bool IsReply(const uint8_t* report) {
    return ReportMarker(report) == kDeviceMarker;
}

// --- Host to programmer -----------------------------------------------------

// The short command frame as received (BuildShortFrame in protocol.h writes it).
struct ShortFrame {
    uint8_t length = 0;
    unsigned zeroWord = 0;  // bytes 4-5, zero in every frame
    unsigned endAddress = 0;
    uint32_t argument = 0;
    uint8_t checksum = 0;  // byte 12 as received
    uint8_t sum = 0;       // the low byte of the sum of bytes 2..8
};
inline ShortFrame DecodeShortFrame(const uint8_t* report) {
    ShortFrame c;
    c.length = ReportLength(report);
    c.zeroWord = Get16(report, wire::kShortZero);
    c.endAddress = Get16(report, wire::kShortEndAddress);
    for (std::size_t i = 0; i < 4; ++i)
        c.argument |= uint32_t{report[wire::kShortArgument + i]} << (8 * i);
    c.checksum = report[wire::kShortChecksum];
    unsigned sum = 0;
    for (std::size_t k = wire::kShortSumFirst; k <= wire::kShortSumLast; ++k) sum += report[k];
    c.sum = static_cast<uint8_t>(sum);
    return c;
}

// The argument of CMD_EEPROM_READ and CMD_EEPROM_WRITE: the EEPROM type (1 or
// 2) times 256 plus the device address.
inline uint32_t EepromArgument(unsigned type, uint8_t deviceAddress) {
    return type * 256u + deviceAddress;
}

// Byte 1 to 3 of a host report of `length`: marker, length, code.
inline void PutHostHeader(uint8_t* report, uint8_t length, uint8_t code) {
    report[wire::kMarker] = kHostMarker;
    report[wire::kLength] = length;
    report[wire::kCode] = code;
}

// CMD_DOWNLOAD_REQUEST: the address pair and at most one of the two marks.
struct DownloadRequestFields {
    unsigned startAddress = 0;
    unsigned endAddress = 0;
    RequestMark firmwareMark{};                 // kFirmwareUpdateMark for a firmware replacement
    RequestMark fileMark{};                     // kProductionFileMark for a production file
    uint8_t length = wire::kAddressPairLength;  // as received; the encoder writes 4
};
// Fills the whole report.
inline void EncodeDownloadRequest(uint8_t* report, const DownloadRequestFields& request) {
    std::fill_n(report, kReportSize, uint8_t{0});
    PutHostHeader(report, wire::kAddressPairLength, CMD_DOWNLOAD_REQUEST);
    Put16(report, wire::kFirstAddress, request.startAddress);
    Put16(report, wire::kSecondAddress, request.endAddress);
    std::copy(request.firmwareMark.begin(), request.firmwareMark.end(),
              report + wire::kFirmwareMark);
    std::copy(request.fileMark.begin(), request.fileMark.end(), report + wire::kFileMarker);
}
inline DownloadRequestFields DecodeDownloadRequest(const uint8_t* report) {
    DownloadRequestFields r;
    r.startAddress = Get16(report, wire::kFirstAddress);
    r.endAddress = Get16(report, wire::kSecondAddress);
    std::copy_n(report + wire::kFirmwareMark, 2, r.firmwareMark.begin());
    std::copy_n(report + wire::kFileMarker, 2, r.fileMark.begin());
    r.length = ReportLength(report);
    return r;
}

// An address pair report: CMD_DOWNLOAD_BEGIN as it is received.
struct AddressPair {
    unsigned startAddress = 0;
    unsigned endAddress = 0;
    uint8_t length = wire::kAddressPairLength;
};
// CMD_DOWNLOAD_BEGIN: writes bytes 0..7.
inline void EncodeDownloadBegin(uint8_t* report, unsigned startAddress, unsigned endAddress) {
    report[wire::kReportId] = 0;
    PutHostHeader(report, wire::kAddressPairLength, CMD_DOWNLOAD_BEGIN);
    Put16(report, wire::kFirstAddress, startAddress);
    Put16(report, wire::kSecondAddress, endAddress);
}
inline AddressPair DecodeAddressPair(const uint8_t* report) {
    return {Get16(report, wire::kFirstAddress), Get16(report, wire::kSecondAddress),
            ReportLength(report)};
}

// CMD_WRITE_BLOCK as the loader packs it, byte by byte: begun with an address,
// then payload bytes and the count.
class WriteBlockView {
  public:
    explicit WriteBlockView(uint8_t* report) : report_(report) {}

    // Writes report ID, marker, code and address; the count stays as it is.
    void Begin(unsigned address) {
        report_[wire::kReportId] = 0;
        report_[wire::kMarker] = kHostMarker;
        report_[wire::kCode] = CMD_WRITE_BLOCK;
        Put16(report_, wire::kBlockAddress, address);
    }
    // Whether a report is begun in the buffer: its marker is set.
    bool Begun() const { return report_[wire::kMarker] == kHostMarker; }
    unsigned Count() const { return report_[wire::kLength]; }
    void SetCount(unsigned count) { report_[wire::kLength] = static_cast<uint8_t>(count); }
    // Payload bytes [i, i + n), i + n at most kMaxBlockPayload.
    std::span<uint8_t> Payload(std::size_t i, std::size_t n) {
        i = std::min(i, wire::kMaxBlockPayload);
        return {report_ + wire::kBlockPayload + i, std::min(n, wire::kMaxBlockPayload - i)};
    }

  private:
    uint8_t* report_;
};
// A whole CMD_WRITE_BLOCK: the data (at most kMaxBlockPayload bytes) and
// zeros after it. Fills the whole report.
inline void EncodeWriteBlock(uint8_t* report, unsigned address, std::span<const uint8_t> data) {
    const std::size_t n = std::min(data.size(), wire::kMaxBlockPayload);
    WriteBlockView block(report);
    block.Begin(address);
    std::copy_n(data.begin(), n, report + wire::kBlockPayload);
    std::fill(report + wire::kBlockPayload + n, report + kReportSize, uint8_t{0});
    block.SetCount(static_cast<unsigned>(n));
}
struct WriteBlockFields {
    unsigned count = 0;  // byte 2 as received
    unsigned address = 0;
    // The first min(count, kMaxBlockPayload) payload bytes.
    std::span<const uint8_t> payload;
};
inline WriteBlockFields DecodeWriteBlock(const uint8_t* report) {
    const unsigned count = ReportLength(report);
    return {count,
            Get16(report, wire::kBlockAddress),
            {report + wire::kBlockPayload, std::min<std::size_t>(count, wire::kMaxBlockPayload)}};
}

// CMD_DOWNLOAD_END: writes bytes 0, 1 and 3..8; the count in byte 2 and the
// bytes after 8 keep what the last block left in them.
struct DownloadEndFields {
    unsigned startAddress = 0;
    unsigned endAddress = 0;
    uint8_t fileKind = 0;
};
inline void EncodeDownloadEnd(uint8_t* report, const DownloadEndFields& end) {
    report[wire::kReportId] = 0;
    report[wire::kMarker] = kHostMarker;
    report[wire::kCode] = CMD_DOWNLOAD_END;
    Put16(report, wire::kFirstAddress, end.startAddress);
    Put16(report, wire::kSecondAddress, end.endAddress);
    report[wire::kEndFileKind] = end.fileKind;
}
inline DownloadEndFields DecodeDownloadEnd(const uint8_t* report) {
    return {Get16(report, wire::kFirstAddress), Get16(report, wire::kSecondAddress),
            report[wire::kEndFileKind]};
}

// CMD_USER_CODE_RECORD and CMD_CONFIG_RECORD: a header record's bytes (at most
// kMaxRecordPayload). Fills the whole report.
inline void EncodeProductionRecord(uint8_t* report, uint8_t code, std::span<const uint8_t> bytes) {
    const std::size_t n = std::min(bytes.size(), wire::kMaxRecordPayload);
    std::fill_n(report, kReportSize, uint8_t{0});
    PutHostHeader(report, static_cast<uint8_t>(n), code);
    std::copy_n(bytes.begin(), n, report + wire::kRecordPayload);
}
struct ProductionRecordFields {
    unsigned length = 0;  // byte 2 as received
    // The first min(length, kMaxRecordPayload) record bytes.
    std::span<const uint8_t> bytes;
};
inline ProductionRecordFields DecodeProductionRecord(const uint8_t* report) {
    const unsigned length = ReportLength(report);
    return {
        length,
        {report + wire::kRecordPayload, std::min<std::size_t>(length, wire::kMaxRecordPayload)}};
}
// Record byte 1 of a user code record: the number of ASCII characters.
inline constexpr std::size_t kUserCodeAsciiCount = 1;

// CMD_READ_CACHE: the next block's address, the stored image's end and the
// last download's status. Fills the whole report.
struct CacheRequestFields {
    unsigned address = 0;
    unsigned endAddress = 0;
    uint8_t downloadStatus = 0;
    uint8_t length = wire::kAddressPairLength;  // as received; the encoder writes 4
};
inline void EncodeCacheRequest(uint8_t* report, const CacheRequestFields& request) {
    std::fill_n(report, kReportSize, uint8_t{0});
    PutHostHeader(report, wire::kAddressPairLength, CMD_READ_CACHE);
    Put16(report, wire::kFirstAddress, request.address);
    Put16(report, wire::kSecondAddress, request.endAddress);
    report[wire::kCacheDownloadStatus] = request.downloadStatus;
}
inline CacheRequestFields DecodeCacheRequest(const uint8_t* report) {
    return {Get16(report, wire::kFirstAddress), Get16(report, wire::kSecondAddress),
            report[wire::kCacheDownloadStatus], ReportLength(report)};
}

// The custom-frequency CMD_OSC_CALIBRATE report: the frequency in kHz, the
// count bounds and the trim start. Writes bytes 0..16.
struct CalibrationFields {
    unsigned frequencyKHz = 0;
    unsigned lowerBound = 0;
    unsigned upperBound = 0;
    unsigned trimStart = 0;
};
inline void EncodeCustomCalibration(uint8_t* report, const CalibrationFields& c) {
    report[wire::kReportId] = 0;
    PutHostHeader(report, wire::kCalibrationLength, CMD_OSC_CALIBRATE);
    std::fill_n(report + wire::kCalibrationZero, wire::kCalibrationZeroCount, uint8_t{0});
    report[wire::kCalibrationSubCommand] = kCalibrateCustom;
    PutLe16(report, wire::kCalibrationFrequency, c.frequencyKHz);
    PutLe16(report, wire::kCalibrationLower, c.lowerBound);
    PutLe16(report, wire::kCalibrationUpper, c.upperBound);
    PutLe16(report, wire::kCalibrationTrim, c.trimStart);
}
struct ReceivedCalibration {
    uint8_t length = 0;
    bool zeroPadding = false;  // bytes 4-7 are zero
    uint8_t subCommand = 0;
    CalibrationFields values;
};
inline ReceivedCalibration DecodeCustomCalibration(const uint8_t* report) {
    ReceivedCalibration r;
    r.length = ReportLength(report);
    const uint8_t* zero = report + wire::kCalibrationZero;
    r.zeroPadding =
        std::all_of(zero, zero + wire::kCalibrationZeroCount, [](uint8_t b) { return b == 0; });
    r.subCommand = report[wire::kCalibrationSubCommand];
    r.values = {GetLe16(report, wire::kCalibrationFrequency),
                GetLe16(report, wire::kCalibrationLower), GetLe16(report, wire::kCalibrationUpper),
                GetLe16(report, wire::kCalibrationTrim)};
    return r;
}
// Whether a CMD_OSC_CALIBRATE report is the custom-frequency report (else a
// short frame).
inline bool IsCustomCalibration(const uint8_t* report) {
    return ReportLength(report) == wire::kCalibrationLength;
}

// --- Programmer to host -----------------------------------------------------

// A reply with only its code: report ID 0, the marker ';', the code.
inline Report EncodeReply(uint8_t code) {
    Report r{};
    r[wire::kMarker] = kDeviceMarker;
    r[wire::kCode] = code;
    return r;
}

// RPL_BLANK_CHECK, RPL_ERASE, RPL_PROGRAM, RPL_VERIFY: progress (state 0 and
// the bytes done), passed (1) or failed (2); other states mean nothing.
struct StepOutcomeFields {
    uint8_t state = kStateProgress;
    unsigned count = 0;
};
inline Report EncodeStepOutcome(uint8_t code, const StepOutcomeFields& outcome) {
    Report r = EncodeReply(code);
    r[wire::kReplyState] = outcome.state;
    Put16(r.data(), wire::kReplyCount, std::min(outcome.count, 0xFFFFu));
    return r;
}
inline StepOutcomeFields DecodeStepOutcome(const uint8_t* report) {
    return {report[wire::kReplyState], Get16(report, wire::kReplyCount)};
}

// RPL_OPTION_RESULT, RPL_PROTECT_RESULT: passed (1) or failed (2).
inline Report EncodeResult(uint8_t code, uint8_t state) {
    Report r = EncodeReply(code);
    r[wire::kReplyState] = state;
    return r;
}
inline uint8_t DecodeResultState(const uint8_t* report) {
    return report[wire::kReplyState];
}

// RPL_DOWNLOAD_ERROR: state 1 is a failed download; other states mean nothing.
inline Report EncodeDownloadError() {
    return EncodeResult(RPL_DOWNLOAD_ERROR, 1);
}
inline bool DecodeDownloadFailed(const uint8_t* report) {
    return report[wire::kReplyState] == 1;
}

// RPL_AUTO_RESULT: state 1 failed, 0 passed; the counter of the outcome, its
// bytes in 10, 9, 7, 8 from high to low.
struct AutoResultFields {
    bool failed = false;
    uint32_t count = 0;
};
inline Report EncodeAutoResult(const AutoResultFields& result) {
    Report r = EncodeReply(RPL_AUTO_RESULT);
    r[wire::kReplyState] = result.failed ? 1 : 0;
    for (std::size_t i = 0; i < 4; ++i)
        r[wire::kAutoCounter[i]] = static_cast<uint8_t>(result.count >> (24 - 8 * i));
    return r;
}
inline AutoResultFields DecodeAutoResult(const uint8_t* report) {
    uint32_t count = 0;
    for (std::size_t at : wire::kAutoCounter) count = count << 8 | report[at];
    return {report[wire::kReplyState] == 1, count};
}

// RPL_BLOCK_ACK: the bytes received so far.
inline Report EncodeBlockAck(unsigned received) {
    Report r = EncodeReply(RPL_BLOCK_ACK);
    Put16(r.data(), wire::kAckReceived, std::min(received, 0xFFFFu));
    return r;
}
inline unsigned DecodeBlockAck(const uint8_t* report) {
    return Get16(report, wire::kAckReceived);
}

// RPL_DOWNLOAD_DONE: the status (1 stored), the stored checksum and the last
// address stored.
struct DownloadDoneFields {
    uint8_t status = 0;
    unsigned checksum = 0;
    unsigned lastAddress = 0;
};
inline Report EncodeDownloadDone(const DownloadDoneFields& done) {
    Report r = EncodeReply(RPL_DOWNLOAD_DONE);
    r[wire::kReplyState] = done.status;
    Put16(r.data(), wire::kReplyChecksum, done.checksum);
    Put16(r.data(), wire::kDoneStored, done.lastAddress);
    return r;
}
inline DownloadDoneFields DecodeDownloadDone(const uint8_t* report) {
    return {report[wire::kReplyState], Get16(report, wire::kReplyChecksum),
            Get16(report, wire::kDoneStored)};
}

// RPL_CHECKSUM: the chip's checksum.
inline Report EncodeChecksum(unsigned checksum) {
    Report r = EncodeReply(RPL_CHECKSUM);
    Put16(r.data(), wire::kReplyChecksum, checksum);
    return r;
}
inline unsigned DecodeChecksum(const uint8_t* report) {
    return Get16(report, wire::kReplyChecksum);
}

// RPL_CHIP_BLOCK and RPL_CACHE_BLOCK: a block of the chip or the stored image.
struct ReadBackBlock {
    unsigned address = 0;
    unsigned count = 0;             // data bytes
    const uint8_t* data = nullptr;  // count bytes
    // The bytes of the line the host writes: the record-type byte and the data
    // for a chip block, the data for a cache block.
    std::span<const uint8_t> line;
};
// nullopt for a block whose count would reach past the report: it is not a
// block this protocol sends.
inline std::optional<ReadBackBlock> DecodeChipBlock(const uint8_t* report) {
    const unsigned count = ReportLength(report);
    if (count > wire::kMaxChipBlockCount) return std::nullopt;
    return ReadBackBlock{Get16(report, wire::kReadBackAddress),
                         count,
                         report + wire::kChipBlockData,
                         {report + wire::kReadBackLine, count + 1u}};
}
inline std::optional<ReadBackBlock> DecodeCacheBlock(const uint8_t* report) {
    const unsigned count = ReportLength(report);
    if (count > wire::kMaxCacheBlockCount) return std::nullopt;
    return ReadBackBlock{Get16(report, wire::kReadBackAddress),
                         count,
                         report + wire::kReadBackLine,
                         {report + wire::kReadBackLine, count}};
}
// A chip block of up to kMaxChipBlockCount bytes, record type 0.
inline Report EncodeChipBlock(unsigned address, std::span<const uint8_t> data) {
    const std::size_t n = std::min(data.size(), wire::kMaxChipBlockCount);
    Report r = EncodeReply(RPL_CHIP_BLOCK);
    r[wire::kLength] = static_cast<uint8_t>(n);
    Put16(r.data(), wire::kReadBackAddress, address);
    r[wire::kReadBackLine] = 0;
    std::copy_n(data.begin(), n, r.begin() + wire::kChipBlockData);
    return r;
}
// A cache block of up to kMaxCacheBlockCount bytes.
inline Report EncodeCacheBlock(unsigned address, std::span<const uint8_t> data) {
    const std::size_t n = std::min(data.size(), wire::kMaxCacheBlockCount);
    Report r = EncodeReply(RPL_CACHE_BLOCK);
    r[wire::kLength] = static_cast<uint8_t>(n);
    Put16(r.data(), wire::kReadBackAddress, address);
    std::copy_n(data.begin(), n, r.begin() + wire::kReadBackLine);
    return r;
}

// RPL_STATUS: what the programmer holds and what it is.
struct StatusFields {
    unsigned startAddress = 0;
    unsigned imageLength = 0;  // also the end address of the stored image
    unsigned checksum = 0;
    uint8_t steps = 0;  // StepFlags of a stored production file
    uint32_t successCount = 0;
    uint32_t failureCount = 0;
    uint8_t fileKind = 0;                                 // 0xFF: a plain image
    std::array<uint8_t, wire::kStatusModelSize> model{};  // model name, zero-padded
    uint8_t kind = 0;  // 'A': a programmer that tells its version
    uint8_t secondSteps = 0;
    uint8_t firmwareMajor = 0;  // characters: '3'
    uint8_t firmwareMinor = 0;  // '0'..'9', then ':'..'D' for 10..20
    uint8_t integrity = 0;      // byte 2: XOR of bytes 3..64 when undamaged
};
inline Report EncodeStatus(const StatusFields& s) {
    Report r = EncodeReply(RPL_STATUS);
    uint8_t* p = r.data();
    r[wire::kStatusIntegrity] = s.integrity;
    Put16(p, wire::kStatusStartAddress, s.startAddress);
    Put16(p, wire::kStatusImageLength, s.imageLength);
    Put16(p, wire::kStatusChecksum, s.checksum);
    r[wire::kStatusSteps] = s.steps;
    Put32(p, wire::kStatusSuccessCount, s.successCount);
    Put32(p, wire::kStatusFailureCount, s.failureCount);
    r[wire::kStatusFileKind] = s.fileKind;
    std::copy(s.model.begin(), s.model.end(), r.begin() + wire::kStatusModel);
    r[wire::kStatusKind] = s.kind;
    r[wire::kStatusSecondSteps] = s.secondSteps;
    r[wire::kStatusFirmwareMajor] = s.firmwareMajor;
    r[wire::kStatusFirmwareMinor] = s.firmwareMinor;
    return r;
}
// The XOR of bytes 3..64, which byte 2 of an undamaged status holds.
inline uint8_t StatusIntegrity(const uint8_t* report) {
    uint8_t x = 0;
    for (std::size_t k = wire::kStatusIntegrityFirst; k < kReportSize; ++k) x ^= report[k];
    return x;
}
// The integrity byte a status with these fields carries.
inline uint8_t StatusIntegrity(const StatusFields& s) {
    return StatusIntegrity(EncodeStatus(s).data());
}
struct ReceivedStatus {
    StatusFields fields;
    bool integrityMatches = false;  // byte 2 is the XOR of bytes 3..64
};
inline ReceivedStatus DecodeStatus(const uint8_t* report) {
    StatusFields s;
    s.integrity = report[wire::kStatusIntegrity];
    s.startAddress = Get16(report, wire::kStatusStartAddress);
    s.imageLength = Get16(report, wire::kStatusImageLength);
    s.checksum = Get16(report, wire::kStatusChecksum);
    s.steps = report[wire::kStatusSteps];
    s.successCount = Get32(report, wire::kStatusSuccessCount);
    s.failureCount = Get32(report, wire::kStatusFailureCount);
    s.fileKind = report[wire::kStatusFileKind];
    std::copy_n(report + wire::kStatusModel, s.model.size(), s.model.begin());
    s.kind = report[wire::kStatusKind];
    s.secondSteps = report[wire::kStatusSecondSteps];
    s.firmwareMajor = report[wire::kStatusFirmwareMajor];
    s.firmwareMinor = report[wire::kStatusFirmwareMinor];
    return {s, StatusIntegrity(report) == s.integrity};
}

// --- The configuration block ------------------------------------------------

inline constexpr std::size_t kConfigRecordSize = wire::kConfigSize;
using ConfigBytes = std::array<uint8_t, kConfigRecordSize>;

// The 21 bytes of a production file's configuration, by name.
struct ConfigFields {
    unsigned startAddress = 0;
    unsigned endAddress = 0;
    uint8_t supplyFlags = 0;
    std::array<uint8_t, wire::kConfigDeviceCodeSize> deviceCode{};
    uint8_t fileMarker = 0;  // becomes the stored file kind
    uint8_t optionBits = 0;
    uint8_t hardLockSize = 0;
    uint8_t dataFlashSize = 0;
    uint8_t autoSteps = 0;  // kAutoStep* bits
};
inline ConfigBytes EncodeConfigBlock(const ConfigFields& c) {
    ConfigBytes b{};
    Put16(b.data(), wire::kConfigStartAddress, c.startAddress);
    Put16(b.data(), wire::kConfigEndAddress, c.endAddress);
    b[wire::kConfigSupplyFlags] = c.supplyFlags;
    std::copy(c.deviceCode.begin(), c.deviceCode.end(), b.begin() + wire::kConfigDeviceCode);
    b[wire::kConfigFileMarker] = c.fileMarker;
    b[wire::kConfigOptionBits] = c.optionBits;
    b[wire::kConfigHardLockSize] = c.hardLockSize;
    b[wire::kConfigDataFlashSize] = c.dataFlashSize;
    b[wire::kConfigAutoSteps] = c.autoSteps;
    return b;
}
// Reads a block of kConfigRecordSize bytes.
inline ConfigFields DecodeConfigBlock(const uint8_t* block) {
    ConfigFields c;
    c.startAddress = Get16(block, wire::kConfigStartAddress);
    c.endAddress = Get16(block, wire::kConfigEndAddress);
    c.supplyFlags = block[wire::kConfigSupplyFlags];
    std::copy_n(block + wire::kConfigDeviceCode, c.deviceCode.size(), c.deviceCode.begin());
    c.fileMarker = block[wire::kConfigFileMarker];
    c.optionBits = block[wire::kConfigOptionBits];
    c.hardLockSize = block[wire::kConfigHardLockSize];
    c.dataFlashSize = block[wire::kConfigDataFlashSize];
    c.autoSteps = block[wire::kConfigAutoSteps];
    return c;
}

}  // namespace qrv
