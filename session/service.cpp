// The service functions of the main window: reading the chip and the stored
// image back into Memo2 and saving it, the user option, working mode and
// EEPROM requests, and the replacement of the programmer's own firmware.
#include "session/service.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>

#include "common/atomic_file.h"
#include "protocol/reports.h"
#include "session/session.h"

namespace qrv {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void PutHex(char*& p, unsigned byte) {
    *p++ = kDigits[(byte >> 4) & 0xF];
    *p++ = kDigits[byte & 0xF];
}

enum class LineSum { Plain, IntelHex };

// ":" LL AAAA, "00" when typeZero, then n bytes (at most 256), then the low byte
// of their plain sum, or for an Intel HEX record the two's complement of the
// sum over LL, AAAA and the bytes.
std::string Line(unsigned count, unsigned address, bool typeZero, const uint8_t* bytes,
                 std::size_t n, LineSum kind) {
    char text[1 + 2 + 4 + 2 + 2 * 256 + 2];
    char* p = text;
    *p++ = ':';
    PutHex(p, count);
    PutHex(p, address >> 8);
    PutHex(p, address);
    if (typeZero) PutHex(p, 0);
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        PutHex(p, bytes[i]);
        sum += bytes[i];
    }
    if (kind == LineSum::IntelHex) sum = 0x100 - ((sum + count + (address >> 8) + address) & 0xFF);
    PutHex(p, sum);
    return std::string(text, static_cast<std::size_t>(p - text));
}

}  // namespace

uint32_t WorkingModeValue(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kWorkingModes)))
        return kDefaultWorkingMode;
    return kWorkingModes[index].value;
}

std::string DefaultFirmwarePath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data && *data) {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.local/share";
    }
    return base + "/qrv-writer/programmer-firmware.bin";
}

bool LoadFirmwareImage(const std::string& path, std::vector<uint8_t>* image, std::string* error) {
    const std::string what = "烧录器固件文件 " + path;
    // The size is checked before reading, so that a device node or a large
    // file is never read whole.
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) {
        *error =
            what + " 无法读取: " + (ec ? ec.message() : std::string("No such file or directory"));
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        *error = what + " 不是普通文件";
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    std::string content;
    std::string why;
    if (!ec && size == kFirmwareImageSize && !ReadWholeFile(path, &content, &why)) {
        *error = what + " 无法读取: " + why;
        return false;
    }
    if (ec || content.size() != kFirmwareImageSize) {
        *error = what + " 有 " + std::to_string(ec ? 0 : size) + " 字节, 应为 " +
                 std::to_string(kFirmwareImageSize) + " 字节";
        return false;
    }
    image->assign(content.begin(), content.end());
    return true;
}

std::string FirmwareVersionText(uint8_t major, uint8_t minor) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(major - 0x30) & 0xFFu);
    std::string text = digits;
    if (minor >= '0' && minor <= 'D') text += "." + std::to_string(minor - '0');
    return text;
}

ReadBackData ChipBlockData(const uint8_t* reply) {
    const std::optional<ReadBackBlock> b = DecodeChipBlock(reply);
    return b ? ReadBackData{b->address, b->count, b->data} : ReadBackData{};
}

ReadBackData CacheBlockData(const uint8_t* reply) {
    const std::optional<ReadBackBlock> b = DecodeCacheBlock(reply);
    return b ? ReadBackData{b->address, b->count, b->data} : ReadBackData{};
}

std::string ChipBlockLine(const uint8_t* reply) {
    const std::optional<ReadBackBlock> b = DecodeChipBlock(reply);
    if (!b) return {};
    // The record-type byte counts as a line byte and enters the sum.
    return Line(b->count, b->address, false, b->line.data(), b->line.size(), LineSum::Plain);
}

std::string CacheBlockLine(const uint8_t* reply) {
    const std::optional<ReadBackBlock> b = DecodeCacheBlock(reply);
    if (!b) return {};
    return Line(b->count, b->address, true, b->line.data(), b->line.size(), LineSum::Plain);
}

std::string IntelHexDataRecord(unsigned address, const uint8_t* data, unsigned count) {
    count = std::min(count, 255u);
    return Line(count, address & 0xFFFF, true, data, count, LineSum::IntelHex);
}

// --- The session's service controls -----------------------------------------

void MainSession::InstallServiceHooks() {
    hooks.ChipBlock = [this] { ChipBlock(); };
    hooks.CacheBlock = [this] { CacheBlock(); };
    hooks.SendFirmwareBlock = [this] { NextFirmwareBlock(); };
    for (const WorkingMode& mode : kWorkingModes) form.ComboBox1.items.emplace_back(mode.item);
    form.ComboBox3.items.assign(std::begin(kEepromAddressItems), std::end(kEepromAddressItems));
    form.ComboBox3.text = "EEP地址";
    form.ComboBox4.items.assign(std::begin(kEepromTypeItems), std::end(kEepromTypeItems));
    form.ComboBox4.text = "型号";
    firmwareFile_ = DefaultFirmwarePath();
}

void MainSession::Button9Click() {
    form.Memo2.lines.clear();
    SendCommand(CMD_READ_CHIP, 0);
    form.ProgressBar3.position = 0;
    // The programmer sends the blocks on its own; they end at the stored
    // image's length, and a pause without a block ends the read-back.
    chipReadBackActive_ = true;
    if (hooks.StartReadBackTimer) hooks.StartReadBackTimer(kReadBackTimeoutMs);
    NotifyChanged();
    clock_.Pause(10);
}

void MainSession::ChipBlock() {
    form.Memo2.lines.push_back(ChipBlockLine(buffer.DeviceReport()));
    const ReadBackData d = ChipBlockData(buffer.DeviceReport());
    ProgressBar& bar = form.ProgressBar3;
    // The end is the programmer's: the length its status reported.
    if (StoredLength == 0)
        bar.position = bar.max;
    else
        SetPosition(bar, static_cast<int>(d.address + d.count) * bar.max / StoredLength);
    EmitReadBackBlock(true, d);
    if (chipReadBackActive_) {
        const bool complete =
            StoredLength > 0 && d.address + d.count >= static_cast<unsigned>(StoredLength);
        chipReadBackActive_ = !complete;
        if (hooks.StartReadBackTimer) hooks.StartReadBackTimer(complete ? 0 : kReadBackTimeoutMs);
        if (complete) Emit(event::ReadBackEnded{true, true, {}});
    }
    buffer.ClearHostReport();
    buffer.ClearDeviceReport();
}

void MainSession::SendCacheRequest(unsigned address) {
    // The end of the stored image as the programmer's status gave it, not the
    // last address a download wrote.
    EncodeCacheRequest(buffer.HostReport(),
                       {address, static_cast<unsigned>(StoredLength), buffer.LastDownloadStatus()});
    // Written without the connection check of SendCommand: without a
    // programmer the write fails silently and the timer ends the read-back.
    WriteHostReport();
    cacheReadBackActive_ = true;
    if (hooks.StartReadBackTimer) hooks.StartReadBackTimer(kReadBackTimeoutMs);
}

void MainSession::Button10Click() {
    form.Button10.enabled = false;
    form.Memo2.lines.clear();
    SendCacheRequest(0);
    NotifyChanged();
}

void MainSession::CacheBlock() {
    form.Memo2.lines.push_back(CacheBlockLine(buffer.DeviceReport()));
    const ReadBackData d = CacheBlockData(buffer.DeviceReport());
    EmitReadBackBlock(false, d);
    const unsigned next = d.address + d.count;
    if (next < static_cast<unsigned>(StoredLength)) {
        // A block without bytes would ask for the same block for ever.
        if (d.count == 0) {
            EndInterruptedReadBack();
            return;
        }
        SendCacheRequest(next);
        buffer.ClearHostReport();
        buffer.ClearDeviceReport();
        return;
    }
    cacheReadBackActive_ = false;
    if (hooks.StartReadBackTimer) hooks.StartReadBackTimer(0);
    form.Button10.enabled = true;
    Emit(event::ReadBackEnded{false, true, {}});
}

void MainSession::EmitReadBackBlock(bool chip, const ReadBackData& d) {
    event::ReadBackBlock e;
    e.chip = chip;
    e.address = d.address;
    e.bytes.assign(d.bytes, d.bytes + d.count);
    const unsigned end = d.address + d.count;
    e.percent = StoredLength > 0 ? static_cast<int>(std::min<unsigned>(
                                       end * 100 / static_cast<unsigned>(StoredLength), 100))
                                 : 100;
    Emit(e);
}

void MainSession::EndInterruptedReadBack() {
    const bool cache = cacheReadBackActive_;
    // Without a stored image the whole chip is read, and a pause is its end.
    const bool chipShort = chipReadBackActive_ && StoredLength > 0;
    if (!cache && !chipReadBackActive_) return;
    cacheReadBackActive_ = false;
    chipReadBackActive_ = false;
    if (hooks.StartReadBackTimer) hooks.StartReadBackTimer(0);
    const bool chip = !cache;
    // A chip read without a stored image ends with the pause: it is whole.
    Emit(event::ReadBackEnded{chip, chip && !chipShort,
                              cache       ? kReadBackIncomplete
                              : chipShort ? kChipReadBackIncomplete
                                          : ""});
    if (cache) {
        form.Button10.enabled = true;
        ShowMessage(kReadBackIncomplete, Severity::Warning);
    }
    if (chipShort) ShowMessage(kChipReadBackIncomplete, Severity::Warning);
}

void MainSession::ReadBackTimedOut() {
    EndInterruptedReadBack();
    NotifyChanged();
}

void MainSession::Button8Click() {
    const std::optional<std::string> path = interaction_.SaveFile("*.hex||*.*", "");
    if (!path) return;
    // A read-only file is replaced only when the user says so.
    if (IsReadOnlyFile(*path) &&
        !interaction_.Question(std::string(kReplaceReadOnlyQuestion) + "\n" + *path))
        return;
    std::string error;
    if (!SaveMemo2(*path, &error, true))
        ShowMessage(("保存文件错误!\n" + error).c_str(), Severity::Critical);
}

bool MainSession::SaveMemo2(const std::string& path, std::string* error,
                            bool replaceReadOnly) const {
    return WriteFileAtomically(path, JoinCrLf(form.Memo2.lines), error, replaceReadOnly);
}

void MainSession::Button11Click() {
    form.Button11.enabled = false;
    NotifyChanged();
    SendCommand(CMD_USER_OPTION, 0);
    clock_.Pause(10);
    form.Button11.enabled = true;
    NotifyChanged();
}

void MainSession::ComboBox1Click(int index) {
    form.ComboBox1.itemIndex = index;
    SendCommand(CMD_WRITER_MODE, WorkingModeValue(index));
    NotifyChanged();
    clock_.Pause(10);
}

void MainSession::ComboBox3Click(int index) {
    form.ComboBox3.itemIndex = index;
    buffer.EepromAddress() = static_cast<uint8_t>(kFirstEepromAddress + (index < 0 ? 0 : index));
    NotifyChanged();
    clock_.Pause(10);
}

void MainSession::ComboBox4Click(int index) {
    form.ComboBox4.itemIndex = index;
    EepromType = index == 1 ? 2 : 1;
    NotifyChanged();
}

void MainSession::Button14Click() {
    form.Button14.enabled = false;
    form.Memo2.lines.clear();
    SendCommand(CMD_EEPROM_READ, EepromArgument(EepromType, buffer.EepromAddress()));
    form.ProgressBar3.position = 0;
    NotifyChanged();
    clock_.Pause(10);
    form.Button14.enabled = true;
    NotifyChanged();
}

void MainSession::Button15Click() {
    form.Button15.enabled = false;
    SendCommand(CMD_EEPROM_WRITE, EepromArgument(EepromType, buffer.EepromAddress()));
    form.ProgressBar3.position = 0;
    NotifyChanged();
    clock_.Pause(10);
    form.Button15.enabled = true;
    NotifyChanged();
}

void MainSession::SetFirmwareFile(std::string path) {
    firmwareFile_ = std::move(path);
    FirmwareImage.clear();
}

void MainSession::SetFirmwareImage(std::vector<uint8_t> image) {
    firmwareFile_.clear();
    FirmwareImage = std::move(image);
}

UpdateResult MainSession::Button16Click() {
    form.Button16.enabled = false;
    form.ProgressBar5.position = 0;
    if (!Connected()) {
        NotifyChanged();
        interaction_.Warning(kNoProgrammerWarning);
        form.BitBtn1.enabled = true;
        // Nothing was started: "Update" works once the programmer is plugged in.
        form.Button16.enabled = true;
        NotifyChanged();
        return UpdateResult::NotConnected;
    }
    if (!firmwareFile_.empty()) {
        std::string error;
        if (!LoadFirmwareImage(firmwareFile_, &FirmwareImage, &error)) {
            FirmwareImage.clear();
            form.Button16.enabled = true;
            ShowMessage(error.c_str(), Severity::Warning);
            NotifyChanged();
            return UpdateResult::NoImage;
        }
    }
    if (FirmwareImage.size() != kFirmwareImageSize) {
        form.Button16.enabled = true;
        ShowMessage("没有 57304 字节的烧录器固件", Severity::Warning);
        NotifyChanged();
        return UpdateResult::NoImage;
    }

    // The window as a file import leaves it.
    loader.ResetForImport();
    ResetOperationDisplay();
    TransferOffset = 0;
    StartAddress = 0;
    EndAddress = static_cast<int>(kFirmwareImageSize);

    EncodeDownloadRequest(buffer.HostReport(), {static_cast<unsigned>(StartAddress),
                                                static_cast<unsigned>(kFirmwareImageSize),
                                                kFirmwareUpdateMark,
                                                {}});
    WriteHostReport();
    buffer.ClearHostReport();

    buffer.UpdateMode() = kUpdateModeFirmware;
    ImageLength = static_cast<int>(kFirmwareImageSize);
    buffer.UpdateEndSent() = 0;
    form.BitBtn1.enabled = false;
    transferActive_ = true;
    NotifyChanged();
    return UpdateResult::Requested;
}

void MainSession::ReportFirmwareUpdate(bool current) {
    Emit(event::FirmwareUpdateEnded{current, firmware_.value_or("")});
    if (current) {
        // The programmer runs the expected firmware: files can be imported again.
        form.BitBtn1.enabled = true;
        ShowMessage(kFirmwareUpdated);
    } else {
        // The offer stays: "Update" can be tried again.
        form.Button16.enabled = true;
        ShowMessage(kFirmwareUpdateFailed, Severity::Warning);
    }
}

void MainSession::NextFirmwareBlock() {
    const auto offset = static_cast<unsigned>(TransferOffset);
    uint8_t* host = buffer.HostReport();
    WriteBlockView(host).Begin(offset);
    if (offset < FirmwareImage.size()) {
        const std::size_t n =
            std::min<std::size_t>(kFirmwareBlockSize, FirmwareImage.size() - offset);
        // The last block is shorter than the one before it: no byte of that
        // block may stay behind its data.
        EncodeWriteBlock(host, offset, std::span(FirmwareImage).subspan(offset, n));
        TransferOffset += static_cast<int>(n);
        WriteHostReport();
        return;
    }
    if (buffer.UpdateEndSent() == 1) return;
    buffer.UpdateEndSent() = 1;
    // The count keeps that of the last block.
    EncodeDownloadEnd(host, {static_cast<unsigned>(StartAddress), offset, 0});
    WriteHostReport();
    buffer.ClearHostReport();
    form.ProgressBar5.position = form.ProgressBar5.max;
}

}  // namespace qrv
