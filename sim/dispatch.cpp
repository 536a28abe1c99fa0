// The simulated programmer's front door: each report received is logged,
// answered with RPL_RESEND when the misbehaviour asks for one, checked against
// the command table (report ID, marker, frame, argument) and handed to the
// command's handler. The commands the device only records live here too.
#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/hex.h"
#include "protocol/reports.h"
#include "sim/programmer.h"
#include "sim/replies.h"

namespace qrv::sim {

SimProgrammer::SimProgrammer(SimOptions options) : options_(std::move(options)) {}

std::vector<Report> SimProgrammer::Handle(const Report& command) {
    std::vector<Report> out;
    for (const TimedReply& t : HandleTimed(command)) out.push_back(t.report);
    return out;
}

std::vector<TimedReply> SimProgrammer::HandleTimed(const Report& command) {
    Replies out(options_);
    if (received_.size() >= kReceivedLogLimit) received_.pop_front();
    received_.push_back(command);

    if (resendPending_) {
        // The report asked for again. An all-zero report is no report at all
        // (a host that sent its cleared buffer): it is an error and is not acted
        // on, so the exchange stalls as it would on a careful device.
        resendPending_ = false;
        if (IsAllZero(command)) {
            Error(ReportCode(command.data()), "an all-zero report answered RPL_RESEND");
        } else if (command == resendOriginal_) {
            Dispatch(resendOriginal_, out);
        } else {
            Error(ReportCode(command.data()), "is not the report that RPL_RESEND asked for again");
            Dispatch(command, out);
        }
        return std::move(out.list);
    }

    if (options_.resendEvery > 0 && ReportId(command.data()) == 0 &&
        ReportMarker(command.data()) == kHostMarker) {
        ++reportsCounted_;
        if (reportsCounted_ % static_cast<uint64_t>(options_.resendEvery) == 0) {
            resendPending_ = true;
            resendOriginal_ = command;
            ++resendRequests_;
            out.Add(EncodeReply(RPL_RESEND));
            return std::move(out.list);
        }
    }
    Dispatch(command, out);
    return std::move(out.list);
}

void SimProgrammer::PowerCycle() {
    transfer_ = Transfer{};
    resendPending_ = false;
}

std::string SimProgrammer::FirmwareVersion() const {
    return options_.oldFirmware && !kept_.firmwareUpdated ? "3.5" : "3.6";
}

void SimProgrammer::SetCounters(uint32_t success, uint32_t failure) {
    kept_.successCount = success;
    kept_.failureCount = failure;
}

std::vector<RecordedCommand> SimProgrammer::RecordedOf(uint8_t code) const {
    std::vector<RecordedCommand> out;
    for (const RecordedCommand& r : recorded_)
        if (r.code == code) out.push_back(r);
    return out;
}

void SimProgrammer::ClearLogs() {
    received_.clear();
    recorded_.clear();
    protocolErrors_.clear();
}

void SimProgrammer::Error(uint8_t code, const std::string& what) {
    if (protocolErrors_.size() < kErrorLogLimit)
        protocolErrors_.push_back(CommandName(code) + ": " + what);
}

// The short command frame: length 6, bytes 4-5 zero, byte 12 the low byte of
// the sum of bytes 2..8. A frame that fails the check is dropped.
bool SimProgrammer::CheckShortFrame(const Report& c) {
    const uint8_t code = ReportCode(c.data());
    const ShortFrame f = DecodeShortFrame(c.data());
    if (f.length != 6) {
        Error(code, "length byte is " + std::to_string(f.length) + ", not 6");
        return false;
    }
    if (f.zeroWord != 0) {
        Error(code, "bytes 4-5 are " + Hex16(f.zeroWord) + ", not 0");
        return false;
    }
    if (f.checksum != f.sum) {
        Error(code, "checksum byte is 0x" + H2(f.checksum) + ", the frame sums to 0x" + H2(f.sum));
        return false;
    }
    return true;
}

void SimProgrammer::ExpectArgument(const Report& c, bool ok) {
    if (!ok) {
        const uint32_t arg = DecodeShortFrame(c.data()).argument;
        Error(ReportCode(c.data()),
              "argument 0x" + H4(arg >> 16) + H4(arg & 0xFFFF) + " is not one the host sends");
    }
}

// One row per host command: what frame it comes in, which arguments the host
// may put in bytes 8..11 of a short frame, and what the device does with it.
struct SimProgrammer::CommandRow {
    enum class Frame {
        Download,     // a download report: its handler checks the frame itself
        Address,      // length 4, an address pair in bytes 4..7
        Short,        // the short command frame (CheckShortFrame)
        Calibration,  // the custom-frequency report (length 9), else a short frame
    };
    uint8_t code;
    const char* name;  // the name in protocol errors
    Frame frame;
    bool (*argument)(uint32_t);  // the arguments the host sends in a short frame
    void (SimProgrammer::*handler)(const Report&, Replies&);
};

namespace {

bool AnyArgument(uint32_t) {
    return true;
}

bool ZeroArgument(uint32_t arg) {
    return arg == 0;
}

bool StepFlagsArgument(uint32_t arg) {
    return (arg & ~uint32_t{kStepFlagMask}) == 0;
}

bool CalibrationArgument(uint32_t arg) {
    return arg == kCalibrate8M || arg == kCalibrate20M || arg == kCalibrateCancel;
}

bool WriterModeArgument(uint32_t arg) {
    static constexpr uint32_t kModes[] = {0xA5,   0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF,
                                          0x8FFF, 0xFFFF, 0xA6,   0xA7};
    return std::find(std::begin(kModes), std::end(kModes), arg) != std::end(kModes);
}

// EEPROM type (1 = 24C02, 2 = 24C04) times 256 plus the device address
// (0xA0..0xA7, or 0 before one was chosen).
bool EepromArgument(uint32_t arg) {
    const uint32_t type = arg >> 8;
    const uint32_t device = arg & 0xFF;
    return (type == 1 || type == 2) && (device == 0 || (device >= 0xA0 && device <= 0xA7));
}

}  // namespace

const SimProgrammer::CommandRow* SimProgrammer::FindCommand(uint8_t code) {
    using enum CommandRow::Frame;
    static constexpr CommandRow kCommands[] = {
        {CMD_DOWNLOAD_REQUEST, "CMD_DOWNLOAD_REQUEST", Download, AnyArgument,
         &SimProgrammer::OnDownloadRequest},
        {CMD_DOWNLOAD_BEGIN, "CMD_DOWNLOAD_BEGIN", Download, AnyArgument,
         &SimProgrammer::OnDownloadBegin},
        {CMD_WRITE_BLOCK, "CMD_WRITE_BLOCK", Download, AnyArgument, &SimProgrammer::OnWriteBlock},
        {CMD_USER_CODE_RECORD, "CMD_USER_CODE_RECORD", Download, AnyArgument,
         &SimProgrammer::OnUserCodeRecord},
        {CMD_CONFIG_RECORD, "CMD_CONFIG_RECORD", Download, AnyArgument,
         &SimProgrammer::OnConfigRecord},
        {CMD_DOWNLOAD_END, "CMD_DOWNLOAD_END", Download, AnyArgument,
         &SimProgrammer::OnDownloadEnd},
        {CMD_DOWNLOAD_ABORT, "CMD_DOWNLOAD_ABORT", Short, ZeroArgument,
         &SimProgrammer::OnDownloadAbort},
        {CMD_READ_CACHE, "CMD_READ_CACHE", Address, AnyArgument, &SimProgrammer::OnReadCache},
        {CMD_OSC_CALIBRATE, "CMD_OSC_CALIBRATE", Calibration, CalibrationArgument,
         &SimProgrammer::OnCalibrate},
        {CMD_STATUS, "CMD_STATUS", Short, ZeroArgument, &SimProgrammer::OnStatus},
        {CMD_BLANK_CHECK, "CMD_BLANK_CHECK", Short, StepFlagsArgument,
         &SimProgrammer::OnBlankCheck},
        {CMD_ERASE, "CMD_ERASE", Short, ZeroArgument, &SimProgrammer::OnErase},
        {CMD_PROGRAM, "CMD_PROGRAM", Short, ZeroArgument, &SimProgrammer::OnProgram},
        {CMD_VERIFY, "CMD_VERIFY", Short, ZeroArgument, &SimProgrammer::OnVerify},
        {CMD_AUTO_PROGRAM, "CMD_AUTO_PROGRAM", Short, StepFlagsArgument,
         &SimProgrammer::OnAutoProgram},
        {CMD_READ_CHECKSUM, "CMD_READ_CHECKSUM", Short, ZeroArgument,
         &SimProgrammer::OnReadChecksum},
        {CMD_READ_CHIP, "CMD_READ_CHIP", Short, ZeroArgument, &SimProgrammer::OnReadChip},
        {CMD_ERASE_STORAGE, "CMD_ERASE_STORAGE", Short, ZeroArgument,
         &SimProgrammer::OnEraseStorage},
        {CMD_SET_OPTION, "CMD_SET_OPTION", Short, AnyArgument, &SimProgrammer::OnRecorded},
        {CMD_USER_OPTION, "CMD_USER_OPTION", Short, ZeroArgument, &SimProgrammer::OnRecorded},
        {CMD_WRITER_MODE, "CMD_WRITER_MODE", Short, WriterModeArgument, &SimProgrammer::OnRecorded},
        {CMD_EEPROM_READ, "CMD_EEPROM_READ", Short, EepromArgument, &SimProgrammer::OnRecorded},
        {CMD_EEPROM_WRITE, "CMD_EEPROM_WRITE", Short, EepromArgument, &SimProgrammer::OnRecorded},
    };
    for (const CommandRow& row : kCommands)
        if (row.code == code) return &row;
    return nullptr;
}

void SimProgrammer::Dispatch(const Report& c, Replies& out) {
    const uint8_t code = ReportCode(c.data());
    const uint8_t length = ReportLength(c.data());
    if (ReportId(c.data()) != 0) {
        Error(code, "report ID is " + std::to_string(ReportId(c.data())) + ", not 0");
        return;
    }
    if (ReportMarker(c.data()) != kHostMarker) {
        Error(code, "byte 1 is 0x" + H2(ReportMarker(c.data())) + ", not the marker ':'");
        return;
    }
    const CommandRow* row = FindCommand(code);
    if (row == nullptr) {
        Error(code, "unknown command code");
        return;
    }
    using enum CommandRow::Frame;
    if (row->frame == Address && length != 4) {
        Error(code, "length byte is " + std::to_string(length) + ", not 4");
        return;
    }
    if (row->frame == Short || (row->frame == Calibration && !IsCustomCalibration(c.data()))) {
        if (!CheckShortFrame(c)) return;
        ExpectArgument(c, row->argument(DecodeShortFrame(c.data()).argument));
    }
    (this->*row->handler)(c, out);
}

// --- Commands outside a download --------------------------------------------

void SimProgrammer::Record(const Report& c, uint32_t argument) {
    recorded_.push_back({ReportCode(c.data()), argument, c});
}

void SimProgrammer::OnRecorded(const Report& c, Replies&) {
    Record(c, DecodeShortFrame(c.data()).argument);
}

// The host asks from 0, then from each block's end while that lies below the
// end address; byte 8 is the last download's status.
void SimProgrammer::OnReadCache(const Report& c, Replies& out) {
    const uint8_t code = ReportCode(c.data());
    const CacheRequestFields request = DecodeCacheRequest(c.data());
    const unsigned address = request.address;
    const unsigned end = request.endAddress;
    if (address != 0 && address >= end)
        Error(code, "asks for " + Hex16(address) + ", at or past the end address " + Hex16(end));
    if (request.downloadStatus > 1)
        Error(code,
              "byte 8 is 0x" + H2(request.downloadStatus) + ", not a download status (0 or 1)");
    ReadCache(c, out);
}

void SimProgrammer::OnCalibrate(const Report& c, Replies&) {
    if (!IsCustomCalibration(c.data())) return Record(c, DecodeShortFrame(c.data()).argument);
    // The custom-frequency report: F, and the bounds and trim start the host
    // derives from it, low byte first.
    const uint8_t code = ReportCode(c.data());
    const ReceivedCalibration received = DecodeCustomCalibration(c.data());
    const CalibrationFields& v = received.values;
    const int f = static_cast<int>(v.frequencyKHz);
    if (!received.zeroPadding || received.subCommand != kCalibrateCustom) {
        Error(code, "custom calibration report without zero bytes 4-7 and 0x23 in byte 8");
        return;
    }
    if (f < 14000 || f > 20000) {
        Error(code, "custom frequency " + std::to_string(f) + " kHz outside 14000..20000");
    } else {
        const int lower = 36000000 / ((f + f / 1000) / 20);
        const int upper = 36000000 / ((f - f / 1000) / 20);
        const int trim = 511 - (20000 - f) / 12;
        if (static_cast<int>(v.lowerBound) != lower || static_cast<int>(v.upperBound) != upper ||
            static_cast<int>(v.trimStart) != trim)
            Error(code,
                  "count bounds or trim start do not belong to " + std::to_string(f) + " kHz");
    }
    Record(c, received.subCommand);
}

std::string CommandName(uint8_t code) {
    const SimProgrammer::CommandRow* row = SimProgrammer::FindCommand(code);
    return row != nullptr ? row->name : "command 0x" + H2(code);
}

}  // namespace qrv::sim
