// The main window's session, without Qt: it owns the programmer link, the
// ReportBuffer and the working values, runs the senders, the reply dispatcher
// and the programming operations, and holds every value the main window shows
// (MainWindowModel). The Qt window TForm1 and the command-line tool drive the
// same session.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/interaction.h"
#include "common/production_log.h"
#include "common/toggle.h"
#include "common/version.h"
#include "image/hex_loader.h"
#include "link/device_change.h"
#include "link/hid_seam.h"
#include "link/programmer_link.h"
#include "link/reply_channel.h"
#include "link/report_buffer.h"
#include "protocol/protocol.h"
#include "protocol/reports.h"
#include "session/events.h"
#include "session/file_import.h"
#include "session/run_record.h"
#include "session/service.h"

namespace qrv {

inline constexpr const char* kCaptionDesign = "MCU Writer V2.6";
inline constexpr const char* kCaptionUnconnected = "QRV Writer V2.6 QRV Writer unconnected";
inline constexpr const char* kCaptionConnected = "QRV Writer V2.6 QRV Writer connected";
inline constexpr const char* kStatusUnconnected = "   QRV Writer unconnected";
inline constexpr const char* kStatusConnected = "  QRV Writer connected";

// Texts the programming flow shows.
inline constexpr const char* kRunWaiting = "等待编程";
inline constexpr const char* kRunStarted = "编程开始";
inline constexpr const char* kRunPassed = "编程成功";
inline constexpr const char* kRunFailed = "编程失败";
// A run that ended without its result: no chip, a wrong chip, the programmer
// unplugged or silent, no programmer at all.
inline constexpr const char* kRunUnfinished = "编程未完成";
inline constexpr const char* kNoStepsSelected = "请选择编程步骤!";
inline constexpr const char* kProtectPassed = "程序/数据保护成功!";
inline constexpr const char* kProtectFailed = "程序/数据保护失败!";
inline constexpr const char* kOptionPassed = "User option编程成功";
inline constexpr const char* kOptionFailed = "User option编程失败";
inline constexpr const char* kDownloadFailed = "下载文件出错，请重新下载文件!";
inline constexpr const char* kStorageErased = "擦除整片FLASH成功!";
inline constexpr const char* kModelMismatch = "芯片与烧录型号不同";
inline constexpr const char* kNoChip = "没有检测到芯片，请放入芯片!";
// A transfer that the link's loss or a reconnection cut short.
inline constexpr const char* kDownloadInterrupted = "下载中断，请重新下载文件!";
// A file the loader gave up on during its download (its message was shown).
inline constexpr const char* kDownloadAbandoned = "the file was refused during its download";
// A programmer whose status replies stay corrupted after every retry.
inline constexpr const char* kStatusUnreadable = "烧录器状态无法读取，请重新连接!";
inline constexpr int kMaxStatusRetries = 3;
inline constexpr const char* kFirmwareUpdateOffer =
    "The firmware can update now,if you want to update,please click update button.";
// The firmware version the programmer reports after a firmware replacement.
inline constexpr const char* kFirmwareUpdated = "固件更新成功";
inline constexpr const char* kFirmwareUpdateFailed = "固件更新失败";
// A storage read-back whose next block did not come: the link was lost, or no
// block came for kReadBackTimeoutMs.
inline constexpr const char* kReadBackIncomplete = "读取缓存中断，读回的数据不完整!";
// A chip read-back whose blocks stopped before the stored image's length.
inline constexpr const char* kChipReadBackIncomplete = "读取芯片中断，读回的数据不完整!";
inline constexpr int kReadBackTimeoutMs = 3000;
// Why a run or a connection ended when the programmer went away.
inline constexpr const char* kUnpluggedReason = "the programmer was unplugged";
// A run in progress ends without result when the programmer sends no reply
// for this long; after its result, option and protection results are awaited
// for kRunSettleMs.
inline constexpr int kRunSilenceMs = 10000;
inline constexpr int kRunSettleMs = 300;

// Colours the main window sets at start-up (0x00BBGGRR).
inline constexpr uint32_t kFormColor = 0xF0F0F0;
inline constexpr uint32_t kSuccessCounterColor = 0x17A773;
inline constexpr uint32_t kFailureCounterColor = 0x3042C9;
// The result panel before any run: the window's grey with dark text.
inline constexpr uint32_t kPanelWaitingColor = kFormColor;
inline constexpr uint32_t kPanelWaitingText = 0x202020;
inline constexpr uint32_t kPanelText = 0xFFFFFF;

// The keys the main window acts on: the space bar (virtual key) and Enter
// (character code) in the file box.
inline constexpr int kKeySpace = 32;
inline constexpr char kKeyEnter = 13;

// One step row of the main window: 0 blank check, 1 erase, 2 program, 3 verify.
struct StepRow {
    const char* name;  // the command-line name of the step
    uint8_t flag;      // StepFlags bit
    uint8_t command;   // CMD_ of its button
    uint8_t reply;     // RPL_ of its outcome
    int bar;           // ProgressBar number
    int passImage;     // Image number of the pass mark
    int failImage;     // Image number of the fail mark
};
inline constexpr StepRow kStepRows[4] = {
    {"blank", kStepFlagBlankCheck, CMD_BLANK_CHECK, RPL_BLANK_CHECK, 1, 2, 6},
    {"erase", kStepFlagErase, CMD_ERASE, RPL_ERASE, 2, 3, 7},
    {"program", kStepFlagProgram, CMD_PROGRAM, RPL_PROGRAM, 3, 4, 8},
    {"verify", kStepFlagVerify, CMD_VERIFY, RPL_VERIFY, 4, 5, 9},
};
// A counter as the window shows it (the decimal text of a signed 32-bit
// number) as a number; 0 for anything else.
long long CountValue(const std::string& text);

// The step row whose outcome reply is `reply`, or nullptr.
const StepRow* StepRowForReply(uint8_t reply);

// True when the firmware (major, minor characters of RPL_STATUS bytes 63, 64)
// is older than the firmware this host carries. The version is compared as a
// whole: 4.0 is newer than 3.6.
bool FirmwareOlderThanExpected(uint8_t major, uint8_t minor);
// The window caption for a current firmware: " QRV MCU Writer V" + major + minor
// text ("." and the digit for '0'..'9', ".10" .. ".20" for ':' .. 'D', nothing
// for other characters).
std::string FirmwareVersionCaption(uint8_t major, uint8_t minor);

// What the main window shows: one member per control, named as the control.
// The constructor gives the design-time state.
struct MainWindowModel {
    MainWindowModel();

    std::string caption = kCaptionDesign;
    uint32_t color = kFormColor;
    // 1 while the configuration window was last shown by Button1.
    uint8_t ConfigShown = 0;

    Widget Image1;
    Widget Button1, Button2, Button3, Button4, Button5, Button6, Button7, Button8, Button9,
        Button10, Button11, Button12, Button13, Button14, Button15, Button16;
    Widget BitBtn1;
    LineList RichEdit1;  // the status line; fontColor is the status colour
    TextBox Edit1, Edit2, Edit3, Edit4, Edit5, Edit8;
    uint32_t Edit4Color = 0, Edit5Color = 0;
    Toggle CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5;
    ProgressBar ProgressBar1, ProgressBar2, ProgressBar3, ProgressBar4, ProgressBar5;
    Widget Image2, Image3, Image4, Image5, Image6, Image7, Image8, Image9;
    Panel Panel1;
    LineList Memo1, Memo2;
    ComboBox ComboBox1, ComboBox3, ComboBox4;  // working mode, "EEP地址", "型号"
    Widget ComboBox2;

    // Image2..Image9, ProgressBar1..ProgressBar5, CheckBox1..CheckBox4 and
    // Button3..Button6 by number.
    Widget& Image(int n);
    ProgressBar& Bar(int n);
    Toggle& StepBox(int n);
    Widget& StepButton(int n);
};

// How a press of "自动编程", the space bar or a step button ended at once.
enum class RunStart {
    Started,             // the command was sent: a run is in progress
    Busy,                // a run is in progress already: the press is ignored
    NoSteps,             // no step is selected: "请选择编程步骤!", nothing sent
    DownloadIncomplete,  // the last download did not complete: refused, nothing sent
    NotConnected,        // no programmer: the run ends at once, "编程未完成"
};

// The calls through which the session reaches the file transfer, the service
// functions and the window. Each is optional; an empty one does nothing.
struct MainSessionHooks {
    // RPL_BLOCK_ACK outside a firmware replacement: the file transfer sends its
    // next CMD_WRITE_BLOCK or production record, or CMD_DOWNLOAD_END.
    std::function<void()> SendNextBlock;
    // RPL_BLOCK_ACK while UpdateMode is 0xBB: the next firmware block.
    std::function<void()> SendFirmwareBlock;
    // RPL_CHIP_BLOCK / RPL_CACHE_BLOCK: build the read-back line from the
    // DeviceReport (its byte count already checked against the report size)
    // and carry the read-back on.
    std::function<void()> ChipBlock;
    std::function<void()> CacheBlock;
    // RPL_DOWNLOAD_DONE of a plain image (FileKind 0xFF): place the user option
    // chooser at the main window's left + half its width and show it modally.
    std::function<void()> ShowOptionChooserAfterDownload;
    // CheckBox5: show the user option chooser modally (true) or hide it.
    std::function<void(bool show)> ShowOptionChooser;
    // Button1: show the configuration window (true, not modal) or close it.
    std::function<void(bool show)> ShowConfigWindow;
    // A file import: the option word an image carries at address 0x0100, for
    // the user option chooser's preset.
    std::function<void(uint32_t word)> PresetOptionWord;
    // A file import starts: disable the user option chooser's option group.
    std::function<void()> DisableOptionGroup;
    // "自定义校正": place the calibration dialog at the main window's left + half
    // its width and show it, not modal.
    std::function<void()> ShowCalibrationDialog;
    // (Re)starts the front-end's one-shot timer of the read-backs for the
    // given time, or stops it for 0. When it runs out, the front-end calls
    // ReadBackTimedOut().
    std::function<void(int milliseconds)> StartReadBackTimer;
    // (Re)starts the front-end's one-shot timer of the run in progress, or
    // stops it for 0. When it runs out, the front-end calls RunTimerExpired().
    std::function<void(int milliseconds)> StartRunTimer;
};

// How "Update" ended before the download handshake took over.
enum class UpdateResult {
    Requested,     // CMD_DOWNLOAD_REQUEST with the firmware mark sent
    NotConnected,  // no programmer: the warning was shown
    NoImage,       // the firmware file is missing or has the wrong size: a message was shown
};

class MainSession {
  public:
    MainSession(HidSeam& seam, Interaction& interaction, Clock& clock);
    ~MainSession();
    MainSession(const MainSession&) = delete;
    MainSession& operator=(const MainSession&) = delete;

    // The reader hands replies over through this channel; the front-end sets its
    // poster (GUI) or waits on it (CLI) and passes each report to OnReply.
    ReplyChannel& Channel() { return channel_; }

    // Start-up state, then the first connection.
    void FormCreate();

    // Link (connection and device changes).
    void ConnectProgrammer();
    void Button7Click();
    void OnDeviceChange(const DeviceChange& change);
    bool Connected() const { return link_.Connected(); }
    ProgrammerLink& Link() { return link_; }

    // Senders.
    void SendCommand(uint8_t code, uint32_t argument);
    // Writes the HostReport as it stands (the senders that build their own report).
    void WriteHostReport();

    // A reply from the reader: copied into DeviceReport, then dispatched.
    void OnReply(const Report& report);
    void HandleDeviceReply();

    // Programming operations. A run is in progress from its command until its
    // result (or the reason it has none); a second start meanwhile is ignored.
    RunStart Button2Click();  // "自动编程": the automatic run of the selected steps
    void Button3Click();      // "空检验"
    void Button4Click();      // "擦除"
    void Button5Click();      // "编程"
    void Button6Click();      // "校验"
    void Button12Click();     // "擦除存储"
    void Button13Click();     // "读校验码"
    void ResetStepDisplay();
    // The single step of row 0..3 (Button3Click .. Button6Click).
    RunStart RunSingleStep(int row);
    // The run in progress, if any (also while its option results are awaited).
    const std::optional<ProgrammingRun>& CurrentRun() const { return runs_.Current(); }
    // The run timer ran out: a run still waiting for its result ends without
    // one ("编程未完成"); a run whose result came is written to the log.
    void RunTimerExpired();
    // Whether the last download requested did not complete (interrupted,
    // refused or abandoned): runs are refused until one completes.
    bool DownloadIncomplete() const { return downloadIncomplete_; }

    // Downloads files whose only fault is their record checksums without
    // asking (the command line's --ignore-checksums).
    bool IgnoreChecksums = false;
    // The command line's way with a refused file: the check's reasons in
    // English, and no question before a file whose only fault is its record
    // checksums (the window's messages are Chinese, and it asks).
    bool CommandLineMessages = false;

    // The configuration window.
    void Button1Click();
    // The configuration window was closed, by Button1 or by its own close box.
    void ConfigWindowClosed() { form.ConfigShown = 0; }

    // "导入文件": chooses a file in the open-file dialog, loads it and sends
    // CMD_DOWNLOAD_REQUEST; the download goes on reply by reply (loader).
    ImportResult BitBtn1Click();
    // The same import with the file already chosen (the command-line tool).
    ImportResult ImportFile(const std::string& path);
    // The step boxes, buttons, marks, bars, result panel and counters as an
    // import leaves them.
    void ResetOperationDisplay();

    // The calibration list "內振校正": items 0, 1 and 3 send their short
    // command, item 2 shows the calibration dialog.
    void ComboBox2Click(int index);
    // Writes the custom-frequency calibration report for F kHz (14000..20000).
    void SendCustomCalibration(uint16_t frequencyKHz);

    // Keyboard entries: a key pressed in the main window (the space bar starts
    // the automatic run as "自动编程" does), and a character typed into the file
    // box (Enter checks for a service word).
    void FormKeyDown(int key, bool autoRepeat = false);
    void Edit1KeyPress(char key);

    // The transfer steps that RPL_BLOCK_ACK runs (see MainSessionHooks).
    void SendNextBlock();
    void SendFirmwareBlock();

    // Service functions (service.cpp).
    void Button8Click();             // "save": Memo2 into a file chosen in the save dialog
    void Button9Click();             // "Read chip"
    void Button10Click();            // "Read cach"
    void Button11Click();            // "UserOption"
    void Button14Click();            // "读EEPROM"
    void Button15Click();            // "写EEPROM"
    UpdateResult Button16Click();    // "Update": the programmer's firmware replacement
    void ComboBox1Click(int index);  // working mode
    void ComboBox3Click(int index);  // EEPROM address
    void ComboBox4Click(int index);  // EEPROM type
    // Writes Memo2's lines to path, as "save" does (CR LF line ends, through a
    // temporary file). False with the reason on failure.
    bool SaveMemo2(const std::string& path, std::string* error, bool replaceReadOnly = false) const;
    // The read-back timer ran out: a storage read-back still waiting for its
    // next block, or a chip read-back short of the stored image's length,
    // ends incomplete.
    void ReadBackTimedOut();
    // Whether a storage read-back waits for its next block.
    bool CacheReadBackActive() const { return cacheReadBackActive_; }
    // Whether a chip read-back has not yet reached the stored image's length.
    bool ChipReadBackActive() const { return chipReadBackActive_; }
    // Where "Update" takes the firmware from: a file, read and checked when
    // "Update" is pressed (DefaultFirmwarePath() until another is set), or an
    // image given whole (the simulated programmer's test image).
    void SetFirmwareFile(std::string path);
    void SetFirmwareImage(std::vector<uint8_t> image);

    // Whether the last RPL_STATUS asked the programmer for its status again
    // (a corrupted status of a programmer that is not of kind 'A').
    bool StatusRetried() const { return statusRetried_; }
    // Whether the status stayed corrupted after kMaxStatusRetries retries; the
    // status line says so, and nothing more is asked until the next connection.
    bool StatusUnreadable() const { return statusUnreadable_; }

    // The reader's reads fail: the programmer is gone. Closes the link and ends
    // a transfer in progress, as a completed removal does.
    void OnLinkLost();
    // The production log (--log): every automatic run and single step appends
    // a line. A log that cannot be written is reported once; programming goes on.
    // The log is written from the session's RunEnded events.
    void SetProductionLog(std::optional<ProductionLog> log) { runs_.SetLog(std::move(log)); }
    // At start-up: reports a log that cannot be opened (the one report it gets).
    void CheckProductionLog() { runs_.CheckLog(); }
    // Whether a line could not be written to the log.
    bool ProductionLogFailed() const { return runs_.LogFailed(); }
    // The result of the run or step under way will not come (the command-line
    // tool gave up waiting): it ends as "no result" with the reason.
    void AbandonRun(const std::string& reason) { runs_.EndWithoutResult("no result", reason); }

    // Whether a download is under way: requested, and neither stored, refused
    // nor abandoned yet.
    bool TransferActive() const { return transferActive_ && !loader.Abandoned(); }

    MainWindowModel form;
    ReportBuffer buffer;
    DeviceChangeTracker deviceChanges;
    MainSessionHooks hooks;
    // The file loader of the import; RPL_BLOCK_ACK runs its SendNextBlock.
    HexLoader loader{loaderHost_};

    // Working values.
    int StartAddress = 0;
    int EndAddress = 0;
    int ImageLength = 0;
    int ImageChecksum = 0;
    // The length of the image the programmer holds, as its last status said
    // (bytes 7..8): where the read-backs end, whatever ran since.
    int StoredLength = 0;
    uint8_t StepFlags = 0;
    uint8_t StatusBusy = 0;
    int TransferOffset = 0;
    // The EEPROM type of the service functions: 1 for 24C02, 2 for 24C04.
    uint16_t EepromType = 1;
    // The programmer firmware that "Update" sends (kFirmwareImageSize bytes).
    std::vector<uint8_t> FirmwareImage;

    // The session's outcomes (events.h), for the window, the command-line tool
    // and the production log. Listeners are called on the dispatching thread.
    int Subscribe(EventListener listener) { return events_.Subscribe(std::move(listener)); }
    void Unsubscribe(int id) { events_.Unsubscribe(id); }

    // Called after every change of the model (the view re-renders).
    std::function<void()> Changed;
    // Called with every report written (sent = true) or received (false).
    std::function<void(const uint8_t* report, bool sent)> Trace;
    // Called after each reply was dispatched, with the reply as it arrived.
    std::function<void(const Report& reply)> ReplyHandled;

  private:
    friend class SessionLoaderHost;
    friend class RunRecorder;

    void NotifyChanged() {
        if (Changed) Changed();
    }
    void Emit(const SessionEvent& e) { events_.Emit(e); }
    // The status just handled, as its event tells it.
    event::Status StatusEvent() const;

    void ShowUnconnected();
    void ShowConnected();
    // A transfer whose link was closed cannot go on: its bar gives way to the
    // file box, and the operator is told to download again. A storage
    // read-back ends incomplete.
    void EndInterruptedTransfer();
    // RPL_RESEND: the last report written, again.
    void ResendLastReport();
    // The run timer of the front-end (MainSessionHooks::StartRunTimer).
    void StartRunTimer(int milliseconds);
    void ShowResultPanel(const char* caption, uint32_t color, uint32_t textColor = kPanelText);
    RunStart StartAutoRun();
    void InstallStepRules();
    // The service functions' steps (service.cpp).
    void InstallServiceHooks();
    void SendCacheRequest(unsigned address);
    void ChipBlock();
    void CacheBlock();
    void NextFirmwareBlock();
    // A storage read-back that cannot go on: "Read cach" again, and the
    // operator is told that the lines are incomplete.
    void EndInterruptedReadBack();
    void EmitReadBackBlock(bool chip, const ReadBackData& d);
    // After a firmware replacement: the status tells whether it took.
    void ReportFirmwareUpdate(bool current);

    // Reply families (dispatcher.cpp).
    void HandleStatus();
    // The parts of a status: the step boxes, checksum, counters and model; the
    // firmware version of a programmer of kind 'A'; the integrity check and
    // retries of another kind.
    void ShowStatusSteps(const StatusFields& s);
    void HandleFirmwareVersion(uint8_t major, uint8_t minor, bool updateEnded);
    void HandleStatusOfOtherKind(bool integrityMatches, bool updateEnded);
    void HandleOutcome(const StepRow& row);
    void HandleAutoResult();
    void HandleResultPanelReply(const char* passed, const char* failed, bool protect);
    void HandleBlockAck();
    void HandleDownloadReady();
    void HandleDownloadDone();
    void HandleDownloadError();
    void HandleChecksum();
    void HandleReadBackBlock(const std::function<void()>& hook, bool whole);
    void ShowMessage(const char* text, Severity severity = Severity::Information);
    // Sets a bar's position, kept within 0..max.
    static void SetPosition(ProgressBar& bar, int position);
    // P × 100 / ImageLength, or the full bar when ImageLength is 0.
    int Progress(unsigned count) const;
    ImportResult RunImport(const std::function<std::optional<std::string>()>& choose);

    Interaction& interaction_;
    Clock& clock_;
    EventListeners events_;
    ReplyChannel channel_;
    ProgrammerLink link_;
    bool statusRetried_ = false;
    bool statusUnreadable_ = false;
    RunRecorder runs_{*this};
    // The firmware version of the last status, when the programmer tells it.
    std::optional<std::string> firmware_;
    bool transferActive_ = false;
    bool downloadIncomplete_ = false;
    // The stored image's checksum, from the status and the download's end (not
    // the chip's checksum of "读校验码"), for the production log.
    unsigned storedChecksum_ = 0;
    // A firmware replacement ended: the next status tells its version.
    bool firmwareCheckPending_ = false;
    bool cacheReadBackActive_ = false;
    bool chipReadBackActive_ = false;
    // The firmware file "Update" reads; empty when FirmwareImage was given whole.
    std::string firmwareFile_;
    int statusRetries_ = 0;
    // The last report written, for RPL_RESEND: the HostReport may have been
    // cleared since.
    Report lastWritten_{};
    bool wroteSinceConnect_ = false;
    // The access problem last shown in a message box, so that device changes
    // do not repeat it.
    std::string accessProblemShown_;
    SessionLoaderHost loaderHost_{*this};
};

}  // namespace qrv
