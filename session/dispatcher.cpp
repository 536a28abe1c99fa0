// The reply dispatcher: turns each DeviceReport into screen changes and, for
// block transfers, into the next command. Every path ends by clearing the
// DeviceReport, so that each reply is handled once.
#include <algorithm>
#include <charconv>
#include <cstdio>

#include "common/hex.h"
#include "protocol/reports.h"
#include "session/session.h"

namespace qrv {

namespace {

// The device model name of a stored production file: one character per byte,
// up to the first zero byte. Bytes above 0x7F are taken as Latin-1 characters,
// so the text stays valid UTF-8.
std::string ModelName(const uint8_t* bytes, std::size_t count) {
    std::string name;
    for (std::size_t i = 0; i < count && bytes[i] != 0; ++i) {
        const uint8_t c = bytes[i];
        if (c < 0x80) {
            name.push_back(static_cast<char>(c));
        } else {
            name.push_back(static_cast<char>(0xC0 | (c >> 6)));
            name.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return name;
}

}  // namespace

long long CountValue(const std::string& text) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : 0;
}

const StepRow* StepRowForReply(uint8_t reply) {
    for (const StepRow& row : kStepRows)
        if (row.reply == reply) return &row;
    return nullptr;
}

bool FirmwareOlderThanExpected(uint8_t major, uint8_t minor) {
    // The minor characters run '0'..'9' then ':'..'D' for 10..20, so their codes
    // order like the numbers they stand for.
    if (major != kExpectedFirmwareMajor) return major < kExpectedFirmwareMajor;
    return minor < kExpectedFirmwareMinor;
}

std::string FirmwareVersionCaption(uint8_t major, uint8_t minor) {
    return " QRV MCU Writer V" + FirmwareVersionText(major, minor);
}

void MainSession::SetPosition(ProgressBar& bar, int position) {
    bar.position = std::clamp(position, 0, bar.max);
}

int MainSession::Progress(unsigned count) const {
    if (ImageLength == 0) return 100;
    return static_cast<int>(count) * 100 / ImageLength;
}

void MainSession::ShowMessage(const char* text, Severity severity) {
    // The window shows what was handled so far while the box is open.
    NotifyChanged();
    interaction_.Message(severity, text);
}

void MainSession::HandleDeviceReply() {
    const uint8_t* reply = buffer.DeviceReport();
    const uint8_t code = ReportCode(reply);
    // After a run's result only its option and protection results belong to
    // it; any other reply means they are not coming.
    runs_.ReplyArrived(code);
    if (const StepRow* row = StepRowForReply(code)) {
        HandleOutcome(*row);
    } else {
        switch (code) {
            case RPL_PROTECT_RESULT:
                HandleResultPanelReply(kProtectPassed, kProtectFailed, true);
                runs_.OptionResult(true, DecodeResultState(reply), kProtectFailed);
                break;
            case RPL_OPTION_RESULT:
                HandleResultPanelReply(kOptionPassed, kOptionFailed, false);
                runs_.OptionResult(false, DecodeResultState(reply), kOptionFailed);
                break;
            case RPL_CACHE_BLOCK:
                HandleReadBackBlock(hooks.CacheBlock, DecodeCacheBlock(reply).has_value());
                break;
            case RPL_DOWNLOAD_DONE:
                HandleDownloadDone();
                break;
            case RPL_AUTO_RESULT:
                HandleAutoResult();
                break;
            case RPL_DOWNLOAD_ERROR:
                HandleDownloadError();
                break;
            case RPL_CHIP_BLOCK:
                HandleReadBackBlock(hooks.ChipBlock, DecodeChipBlock(reply).has_value());
                break;
            case RPL_STATUS:
                HandleStatus();
                break;
            case RPL_STORAGE_ERASED:
                form.Edit1.text = kStorageErased;
                Emit(event::StorageErased{kStorageErased});
                break;
            case RPL_CHECKSUM:
                HandleChecksum();
                break;
            case RPL_MODEL_MISMATCH:
                // The chip is not the file's model: the run ends here.
                Emit(event::ChipRefused{kModelMismatch});
                runs_.EndWithoutResult("failed", kModelMismatch);
                ShowMessage(kModelMismatch, Severity::Warning);
                break;
            case RPL_BLOCK_ACK:
                HandleBlockAck();
                break;
            case RPL_NO_CHIP:
                // No chip, no run: nothing more comes for it.
                Emit(event::ChipRefused{kNoChip});
                runs_.EndWithoutResult("failed", kNoChip);
                ShowMessage(kNoChip, Severity::Warning);
                break;
            case RPL_RESEND:
                ResendLastReport();
                break;
            case RPL_DOWNLOAD_READY:
                HandleDownloadReady();
                break;
            default:
                break;  // not a reply of this protocol
        }
    }
    buffer.ClearDeviceReport();
}

void MainSession::HandleResultPanelReply(const char* passed, const char* failed, bool protect) {
    const uint8_t state = DecodeResultState(buffer.DeviceReport());
    if (state == kStatePassed)
        ShowResultPanel(passed, colors::clGreen);
    else if (state == kStateFailed)
        ShowResultPanel(failed, colors::clRed);
    if (state == kStatePassed || state == kStateFailed)
        Emit(event::OptionOutcome{protect, state == kStatePassed, form.Panel1.caption});
}

void MainSession::HandleOutcome(const StepRow& row) {
    const StepOutcomeFields outcome = DecodeStepOutcome(buffer.DeviceReport());
    const uint8_t state = outcome.state;
    ProgressBar& bar = form.Bar(row.bar);
    const int index = static_cast<int>(&row - kStepRows);
    if (state == kStateProgress) {
        SetPosition(bar, Progress(outcome.count));
        Emit(event::StepProgress{index, bar.max > 0 ? bar.position * 100 / bar.max : 100});
        return;
    }
    if (state != kStatePassed && state != kStateFailed) return;
    form.Image(row.passImage).visible = state == kStatePassed;
    form.Image(row.failImage).visible = state == kStateFailed;
    bar.position = bar.max;
    Emit(event::StepOutcome{index, state == kStatePassed});
    runs_.StepEnded(row, state == kStatePassed);
    // A blank check or erase outcome clears the rows below it and the
    // download bar.
    if (row.reply == RPL_BLANK_CHECK || row.reply == RPL_ERASE) {
        const int firstLater = row.reply == RPL_BLANK_CHECK ? 1 : 2;
        for (int r = firstLater; r < 4; ++r) {
            form.Bar(kStepRows[r].bar).position = 0;
            form.Image(kStepRows[r].passImage).visible = false;
            form.Image(kStepRows[r].failImage).visible = false;
        }
        form.ProgressBar5.position = 0;
    }
}

void MainSession::HandleAutoResult() {
    // The run counter is shown as a signed 32-bit number.
    const AutoResultFields received = DecodeAutoResult(buffer.DeviceReport());
    const std::string count = std::to_string(static_cast<int32_t>(received.count));
    const bool failed = received.failed;
    if (failed) {
        ShowResultPanel(kRunFailed, colors::clRed);
        form.Edit5.text = count;
    } else {
        ShowResultPanel(kRunPassed, colors::clGreen);
        form.Edit4.text = count;
    }
    event::RunResult result;
    result.passed = !failed;
    result.panel = form.Panel1.caption;
    result.passedCount = CountValue(form.Edit4.text);
    result.failedCount = CountValue(form.Edit5.text);
    Emit(result);
    runs_.AutoResult(failed);
}

void MainSession::HandleStatus() {
    if (StatusBusy == 1) return;  // a status arriving while another is handled
    StatusBusy = 1;
    statusRetried_ = false;
    const ReceivedStatus received = DecodeStatus(buffer.DeviceReport());
    const StatusFields& s = received.fields;

    StartAddress = static_cast<int>(s.startAddress);
    ImageLength = EndAddress = static_cast<int>(s.imageLength);
    ImageChecksum = static_cast<int>(s.checksum);
    StoredLength = ImageLength;
    storedChecksum_ = static_cast<unsigned>(ImageChecksum);
    ShowStatusSteps(s);
    StatusBusy = 0;
    form.Button7.enabled = true;

    firmware_.reset();
    if (buffer.UpdateMode() == 0) {
        // The first status after a firmware replacement says whether it took.
        const bool updateEnded = firmwareCheckPending_;
        firmwareCheckPending_ = false;
        if (s.kind == 'A')
            HandleFirmwareVersion(s.firmwareMajor, s.firmwareMinor, updateEnded);
        else
            HandleStatusOfOtherKind(received.integrityMatches, updateEnded);
    }
    Emit(StatusEvent());
}

void MainSession::ShowStatusSteps(const StatusFields& s) {
    // Checking a box runs its click rule, which sets its StepFlags bit; clear
    // bits uncheck nothing.
    if (s.steps & kStepFlagBlankCheck) form.CheckBox1.SetChecked(true);
    if (s.steps & kStepFlagErase) form.CheckBox2.SetChecked(true);
    if (s.steps & kStepFlagVerify) form.CheckBox4.SetChecked(true);
    form.CheckBox3.SetChecked(true);

    form.Edit3.text = H4(static_cast<unsigned>(ImageChecksum)) + "H";
    form.Edit4.text = std::to_string(static_cast<int32_t>(s.successCount));
    form.Edit5.text = std::to_string(static_cast<int32_t>(s.failureCount));

    buffer.FileKind() = s.fileKind;
    if (buffer.FileKind() != kPlainImage) {
        // A production file decides the steps: only the automatic run remains.
        for (int n = 1; n <= 4; ++n) {
            form.StepBox(n).enabled = false;
            form.StepButton(n + 2).enabled = false;
        }
        form.Edit2.text = ModelName(s.model.data(), s.model.size());
    }

    if (s.secondSteps & kStepFlagBlankCheck)
        form.CheckBox1.SetChecked(true);
    else if (s.secondSteps & kStepFlagErase)
        form.CheckBox2.SetChecked(true);
    else if (s.secondSteps & kStepFlagVerify)
        form.CheckBox4.SetChecked(true);
}

void MainSession::HandleFirmwareVersion(uint8_t major, uint8_t minor, bool updateEnded) {
    // Only a programmer of kind 'A' tells its firmware version.
    firmware_ = FirmwareVersionText(major, minor);
    if (FirmwareOlderThanExpected(major, minor)) {
        if (!updateEnded) ShowMessage(kFirmwareUpdateOffer);
        form.Button16.visible = true;
        if (updateEnded) ReportFirmwareUpdate(false);
    } else {
        form.caption = FirmwareVersionCaption(major, minor);
        form.Button16.visible = false;
        if (updateEnded) ReportFirmwareUpdate(true);
    }
}

void MainSession::HandleStatusOfOtherKind(bool integrityMatches, bool updateEnded) {
    form.caption += " X";
    form.Button16.visible = false;
    // A programmer of another kind tells no version: the update cannot be
    // confirmed, and "Update" stays offered.
    if (updateEnded) {
        form.Button16.visible = true;
        ReportFirmwareUpdate(false);
    }
    if (integrityMatches) {
        statusRetries_ = 0;
    } else if (statusRetries_ < kMaxStatusRetries) {
        ++statusRetries_;
        statusRetried_ = true;
        SendCommand(CMD_STATUS, 0);
    } else {
        // Asking on for ever would keep the operator waiting and the caption
        // growing: the status cannot be read.
        statusUnreadable_ = true;
        form.RichEdit1.lines = {kStatusUnreadable};
        form.RichEdit1.fontColor = colors::clRed;
    }
}

event::Status MainSession::StatusEvent() const {
    event::Status e;
    e.caption = form.caption;
    e.productionFile = buffer.bytes[ReportBuffer::kFileKind] != kPlainImage;
    e.model = form.Edit2.text;
    e.checksum = static_cast<unsigned>(ImageChecksum);
    e.storedLength = StoredLength;
    e.passed = CountValue(form.Edit4.text);
    e.failed = CountValue(form.Edit5.text);
    e.firmware = firmware_;
    e.retried = statusRetried_;
    e.unreadable = statusUnreadable_;
    return e;
}

void MainSession::HandleBlockAck() {
    const unsigned received = DecodeBlockAck(buffer.DeviceReport());
    if (received == 0) {
        form.Edit1.visible = false;
        form.ProgressBar5.visible = true;
        form.ProgressBar5.position = 0;
    } else {
        SetPosition(form.ProgressBar5, Progress(received));
    }
    const bool firmware = buffer.UpdateMode() == kUpdateModeFirmware;
    const ProgressBar& bar = form.ProgressBar5;
    Emit(event::DownloadProgress{firmware, bar.max > 0 ? bar.position * 100 / bar.max : 100});
    if (firmware) {
        SendFirmwareBlock();
        return;
    }
    const bool abandoned = loader.Abandoned();
    SendNextBlock();
    // The loader gave up on the file on its way (its message is shown).
    if (!abandoned && loader.Abandoned())
        Emit(event::DownloadEnded{false, false, 0, kDownloadAbandoned});
}

void MainSession::HandleDownloadReady() {
    buffer.ClearDeviceReport();
    EncodeDownloadBegin(buffer.HostReport(), static_cast<unsigned>(StartAddress),
                        static_cast<unsigned>(EndAddress));
    WriteHostReport();
    buffer.ClearHostReport();
}

void MainSession::HandleDownloadDone() {
    transferActive_ = false;
    const bool firmware = buffer.UpdateMode() == kUpdateModeFirmware;
    const DownloadDoneFields done = DecodeDownloadDone(buffer.DeviceReport());
    form.Edit3.text = H4(done.checksum) + "H";
    form.Edit1.visible = true;
    form.ProgressBar5.visible = false;
    buffer.LastDownloadStatus() = done.status;
    const int stored = static_cast<int>(done.lastAddress);
    if (stored > EndAddress) EndAddress = stored;
    if (firmware) {
        // The replacement is over; the status that follows tells its version.
        buffer.UpdateMode() = 0;
        TransferOffset = 0;  // it counted the firmware's bytes, not a record's
        firmwareCheckPending_ = true;
    } else {
        downloadIncomplete_ = false;
        storedChecksum_ = done.checksum;
    }
    Emit(event::DownloadEnded{firmware, true, done.checksum, {}});
    buffer.ClearDeviceReport();
    // A plain image carries no option data: the user chooses it. A firmware
    // replacement stored no image, so there is nothing to choose.
    if (buffer.FileKind() == kPlainImage && !firmware && hooks.ShowOptionChooserAfterDownload) {
        NotifyChanged();
        hooks.ShowOptionChooserAfterDownload();
    }
    // The step boxes, model, checksum and counters show what the programmer
    // now holds, as after a connection.
    SendCommand(CMD_STATUS, 0);
}

void MainSession::HandleDownloadError() {
    if (!DecodeDownloadFailed(buffer.DeviceReport())) return;
    transferActive_ = false;
    form.RichEdit1.lines = {kDownloadFailed};
    form.RichEdit1.fontColor = colors::clRed;
    SendCommand(CMD_DOWNLOAD_ABORT, 0);
    Emit(event::DownloadEnded{buffer.UpdateMode() == kUpdateModeFirmware, false, 0,
                              kDownloadFailed});
}

void MainSession::HandleChecksum() {
    ImageChecksum = static_cast<int>(DecodeChecksum(buffer.DeviceReport()));
    form.Edit3.text = H4(static_cast<unsigned>(ImageChecksum)) + " H";
    Emit(event::ChecksumRead{static_cast<unsigned>(ImageChecksum)});
}

void MainSession::HandleReadBackBlock(const std::function<void()>& hook, bool whole) {
    // A block whose count would reach past the report is not a block this
    // protocol sends; it is dropped rather than read beyond the DeviceReport.
    if (!whole) return;
    if (hook) hook();
}

}  // namespace qrv
