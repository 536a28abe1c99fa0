// The programmer's side of the reports: a simulated QRV programmer. Pure device
// logic: each command report received gives the replies the device sends for it,
// in order, each with the time the device needs before sending it. SimSeam runs
// it on a thread of its own, like a real device.
//
// The device keeps, like the real box:
// - its storage: one 64 KiB image (0xFF where nothing was written), the
//   production records that came with it (user code, configuration), the
//   stored file kind, and the pass and fail counters of the automatic run;
// - its own firmware (version 3.6, or 3.5 with the old-firmware option until
//   a firmware replacement with the simulator's test image arrives);
// - a virtual chip in the socket: 64 KiB of flash and an option word.
//
// It is strict: every report is checked as a careful device checks it, and
// each violation is kept as a protocol error (see ProtocolErrors) and answered
// as the device would answer it: RPL_DOWNLOAD_ERROR inside a download, no
// reply otherwise. Everything is deterministic.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "link/report_buffer.h"
#include "protocol/reports.h"

namespace qrv::sim {

inline constexpr std::size_t kStoreSize = 0x10000;   // 64 KiB storage and chip flash
inline constexpr std::size_t kFirmwareSize = 57304;  // the programmer's own firmware
inline constexpr unsigned kProgressPage = 1024;      // bytes per progress reply of a step
inline constexpr unsigned kChipBlockSize = 16;       // data bytes per RPL_CHIP_BLOCK
inline constexpr unsigned kCacheBlockMax = kMaxCacheBlockCount;  // data bytes per RPL_CACHE_BLOCK
inline constexpr std::size_t kReceivedLogLimit = 100000;         // reports kept by Received()
inline constexpr std::size_t kErrorLogLimit = 1000;              // entries kept by ProtocolErrors()

// The simulator's own test firmware: kFirmwareSize bytes whose first 8 KiB
// are 0xFF, then a text that names it and a counting pattern. It is not a
// programmer's firmware; the simulator accepts a replacement only when it
// brings exactly these bytes.
const std::vector<uint8_t>& TestFirmwareImage();

// The steps of a programming run, as the device names them.
enum class ChipStep : uint8_t { None, BlankCheck, Erase, Program, Verify };

// How the simulated programmer behaves; the misbehaviours are off by default.
struct SimOptions {
    int latencyUs = 1000;                // delay before each reply (one USB frame)
    bool noChip = false;                 // the socket is empty: chip commands get RPL_NO_CHIP
    bool wrongModel = false;             // the chip is not the model of the stored configuration
    ChipStep failStep = ChipStep::None;  // this step fails, half-way through the image
    int resendEvery = 0;                 // RPL_RESEND for every N-th report received (0: never)
    int downloadErrorAt = 0;     // RPL_DOWNLOAD_ERROR at the N-th CMD_WRITE_BLOCK (0: never)
    bool badStatus = false;      // a non-'A' programmer; every other status is corrupted
    bool corruptStatus = false;  // a non-'A' programmer; every status is corrupted
    // The option and protection results of an automatic run come before its
    // RPL_AUTO_RESULT instead of after it.
    bool optionResultsFirst = false;
    bool oldFirmware = false;  // firmware 3.5 until a firmware replacement
    int bytesPerSecond = 0;    // programming speed of the steps; 0: no extra time
    // Where the storage, the counters and the chip are kept between processes
    // (sim/state_file.h); empty: nowhere, the programmer starts fresh.
    std::string stateFile{};
};

// The 21-byte configuration block of a production file, as the configuration
// record brought it.
struct ConfigRecord {
    ConfigBytes block{};
    bool operator==(const ConfigRecord&) const = default;

    ConfigFields Fields() const { return DecodeConfigBlock(block.data()); }
    unsigned StartAddress() const { return Fields().startAddress; }
    unsigned EndAddress() const { return Fields().endAddress; }
    std::string DeviceCode() const {
        const ConfigFields f = Fields();
        return std::string(f.deviceCode.begin(), f.deviceCode.end());
    }
    uint8_t Marker() const { return Fields().fileMarker; }  // becomes the stored FileKind
    uint8_t OptionBits() const { return Fields().optionBits; }
    uint8_t HardLockSize() const { return Fields().hardLockSize; }
    uint8_t DataFlashSize() const { return Fields().dataFlashSize; }
    uint8_t AutoSteps() const { return Fields().autoSteps; }  // kAutoStep* bits
};

// A command the device only records (option, mode, EEPROM, calibration).
struct RecordedCommand {
    uint8_t code = 0;
    uint32_t argument =
        0;            // the short frame's argument (the sub-command for the custom calibration)
    Report report{};  // the whole report as it arrived
};

// The target chip in the socket.
struct VirtualChip {
    std::vector<uint8_t> flash = std::vector<uint8_t>(kStoreSize, 0xFF);
    uint32_t optionWord = 0xFFFFFFFF;  // erased
    uint8_t protection = 0;            // protection bits programmed (read, debug, hard lock)
    bool operator==(const VirtualChip&) const = default;
};

// What the programmer keeps while it is unplugged: its storage, the counters,
// its firmware state and the chip in the socket (sim/state_file.h keeps it in a
// file between processes).
struct StoredState {
    std::vector<uint8_t> storage = std::vector<uint8_t>(kStoreSize, 0xFF);
    unsigned imageLength = 0;
    unsigned startAddress = 0;
    uint16_t storedChecksum = 0;
    uint8_t fileKind = 0xFF;
    std::optional<ConfigRecord> config;
    std::optional<std::vector<uint8_t>> userCode;
    int completedDownloads = 0;
    bool firmwareUpdated = false;
    int firmwareUpdates = 0;
    uint32_t successCount = 0;
    uint32_t failureCount = 0;
    VirtualChip chip;
    bool operator==(const StoredState&) const = default;
};

// One reply and the time the device spends before sending it.
struct TimedReply {
    Report report{};
    uint32_t delayUs = 0;
};

class SimProgrammer {
  public:
    explicit SimProgrammer(SimOptions options = {});

    // Handles one output report (65 bytes, byte 0 the report ID) and returns the
    // input reports the device answers with, in order.
    std::vector<Report> Handle(const Report& command);
    // The same, with the delay before each reply: the latency, plus for the
    // progress and outcome replies of a step the time the step took at the
    // programming speed.
    std::vector<TimedReply> HandleTimed(const Report& command);

    const SimOptions& Options() const { return options_; }
    SimOptions& MutableOptions() { return options_; }

    // Unplugging: an unfinished download and a pending resend are lost; the
    // storage, the counters, the firmware and the chip stay.
    void PowerCycle();

    // What stays while unplugged, and a device that holds it (as after a
    // power cycle). Defined in sim/state_file.cpp.
    const StoredState& SavedState() const { return kept_; }
    void RestoreState(const StoredState& state);

    // --- Storage ---
    const std::vector<uint8_t>& Storage() const { return kept_.storage; }
    // Bytes from address 0 to the end of the stored image (0: nothing stored).
    unsigned ImageLength() const { return kept_.imageLength; }
    unsigned StartAddress() const { return kept_.startAddress; }
    // 16-bit sum of the stored bytes 0 .. ImageLength()-1 (0 when nothing is stored).
    uint16_t StoredChecksum() const { return kept_.storedChecksum; }
    uint8_t FileKind() const { return kept_.fileKind; }  // 0xFF: plain image
    const std::optional<ConfigRecord>& Config() const { return kept_.config; }
    const std::optional<std::vector<uint8_t>>& UserCode() const { return kept_.userCode; }
    bool DownloadInProgress() const { return transfer_.phase != Phase::Idle; }
    int CompletedDownloads() const { return kept_.completedDownloads; }

    // --- Firmware ---
    std::string FirmwareVersion() const;                                // "3.6" or "3.5"
    const std::vector<uint8_t>& Firmware() const { return firmware_; }  // last replacement
    int FirmwareUpdates() const { return kept_.firmwareUpdates; }

    // --- Counters of the automatic run ---
    uint32_t SuccessCount() const { return kept_.successCount; }
    uint32_t FailureCount() const { return kept_.failureCount; }
    void SetCounters(uint32_t success, uint32_t failure);

    // --- The chip in the socket ---
    const VirtualChip& Chip() const { return kept_.chip; }
    VirtualChip& MutableChip() { return kept_.chip; }
    void InsertBlankChip() { kept_.chip = VirtualChip{}; }

    // --- What arrived ---
    // Every report received, oldest first (at most kReceivedLogLimit).
    const std::deque<Report>& Received() const { return received_; }
    const std::vector<RecordedCommand>& Recorded() const { return recorded_; }
    std::vector<RecordedCommand> RecordedOf(uint8_t code) const;
    // Every protocol error committed by the host, as "CMD_NAME: what was wrong".
    const std::vector<std::string>& ProtocolErrors() const { return protocolErrors_; }
    int ResendRequests() const { return resendRequests_; }
    int StatusReplies() const { return statusReplies_; }
    // Forgets what arrived (received reports, recorded commands, protocol errors).
    void ClearLogs();

  private:
    enum class Phase { Idle, Requested, Receiving, Failed };

    struct Transfer {
        Phase phase = Phase::Idle;
        bool firmware = false;
        bool production = false;
        unsigned start = 0;
        unsigned end = 0;
        std::vector<uint8_t> staging;       // the image being received (file downloads)
        unsigned stagedLength = 0;          // one past the highest byte written
        std::vector<uint8_t> firmwareData;  // the firmware being received
        uint32_t received = 0;              // payload bytes received
        int blocks = 0;                     // CMD_WRITE_BLOCK reports received
        bool sawData = false;
        std::optional<ConfigRecord> config;
        std::optional<std::vector<uint8_t>> userCode;
    };

    class Replies;

    struct CommandRow;
    friend std::string CommandName(uint8_t code);

    // The command table: the row of a command code, nullptr for an unknown one.
    static const CommandRow* FindCommand(uint8_t code);
    void Dispatch(const Report& c, Replies& out);
    void Error(uint8_t code, const std::string& what);
    bool CheckShortFrame(const Report& c);
    void ExpectArgument(const Report& c, bool ok);
    void Record(const Report& c, uint32_t argument);

    // Commands outside a download.
    void OnRecorded(const Report& c, Replies& out);
    void OnReadCache(const Report& c, Replies& out);
    void OnCalibrate(const Report& c, Replies& out);
    void OnStatus(const Report& c, Replies& out);
    void OnBlankCheck(const Report& c, Replies& out);
    void OnErase(const Report& c, Replies& out);
    void OnProgram(const Report& c, Replies& out);
    void OnVerify(const Report& c, Replies& out);
    void OnAutoProgram(const Report& c, Replies& out);
    void OnReadChecksum(const Report& c, Replies& out);
    void OnReadChip(const Report& c, Replies& out);
    void OnEraseStorage(const Report& c, Replies& out);
    void OnDownloadAbort(const Report& c, Replies& out);

    // Download.
    void OnDownloadRequest(const Report& c, Replies& out);
    void OnDownloadBegin(const Report& c, Replies& out);
    void OnWriteBlock(const Report& c, Replies& out);
    void OnUserCodeRecord(const Report& c, Replies& out);
    void OnConfigRecord(const Report& c, Replies& out);
    void OnDownloadEnd(const Report& c, Replies& out);
    bool InsideTransfer(const Report& c, Replies& out);
    bool CheckRecordPlace(const Report& c, Replies& out);
    void FailTransfer(uint8_t code, const std::string& what, Replies& out);
    void Acknowledge(uint32_t count, Replies& out);

    // Storage and chip.
    void EraseStorage();
    bool ChipReady(Replies& out);
    unsigned WorkLength() const;
    bool RunStep(ChipStep step, Replies& out);
    void AutoProgram(uint32_t steps, Replies& out);
    void ReadChip(Replies& out);
    void ReadCache(const Report& c, Replies& out);
    uint16_t ChipChecksum() const;
    Report BuildStatus();

    SimOptions options_;

    // The storage, counters, firmware state and chip: what outlives an unplug.
    StoredState kept_;
    Transfer transfer_;
    std::vector<uint8_t> firmware_;

    std::deque<Report> received_;
    std::vector<RecordedCommand> recorded_;
    std::vector<std::string> protocolErrors_;
    uint64_t reportsCounted_ = 0;  // reports that count toward resendEvery
    bool resendPending_ = false;
    Report resendOriginal_{};
    int resendRequests_ = 0;
    int statusReplies_ = 0;
};

// Name of a command code ("CMD_WRITE_BLOCK"), or "command 0xNN" for an unknown one.
std::string CommandName(uint8_t code);

}  // namespace qrv::sim
