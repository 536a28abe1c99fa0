#include "station/tile_model.h"

#include <type_traits>

#include "common/hex.h"
#include "session/session.h"

namespace qrv {

const char* StepNameChinese(int row) {
    static constexpr const char* kNames[4] = {"空检验", "擦除", "编程", "校验"};
    return row >= 0 && row < 4 ? kNames[row] : "";
}

namespace {

std::string Or(const std::string& text) {
    return text.empty() ? "-" : text;
}

// The session's reasons in the tile's language; others (the system's own
// reasons a programmer cannot be opened) as they are.
std::string Reason(const std::string& reason) {
    if (reason == kUnpluggedReason) return kTileUnplugged;
    if (reason == "no programmer found") return kTileNoProgrammer;
    return reason;
}

}  // namespace

TileModel::TileModel(SlotBinding binding) : binding_(std::move(binding)) {
    texts_.title = std::to_string(binding_.slot) + " 号位";
    if (!binding_.name.empty()) texts_.title += "  " + binding_.name;
    texts_.model = "-";
    texts_.checksum = "-";
    texts_.state = kTileNotConnected;
    SetProgrammer(std::nullopt);
}

void TileModel::SetProgrammer(const std::optional<AttachedProgrammer>& programmer) {
    // A programmer the seam knows no port or serial of keeps the binding's.
    std::string port = binding_.port, serial = binding_.serial;
    if (programmer && programmer->identity) {
        port = programmer->identity->port;
        serial = programmer->identity->serial;
    }
    texts_.where = Or(port) + "  " + Or(serial);
}

void TileModel::SetChecksum(unsigned checksum) {
    checksum_ = checksum;
    texts_.checksum = H4(checksum) + "H";
}

void TileModel::Apply(const SessionEvent& e) {
    std::visit([this](const auto& v) { On(v); }, e);
}

void TileModel::On(const event::Connection& v) {
    const bool was = connected_;
    connected_ = v.connected;
    if (v.connected) {
        // A reconnection after another programmer's change keeps
        // the last result; a programmer come back waits again.
        if (!was) {
            texts_.state = kRunWaiting;
            texts_.message.clear();
        }
    } else {
        // A run cut short keeps its place: its end says "编程未完成".
        if (!running_ && texts_.state != kRunUnfinished) texts_.state = kTileNotConnected;
        texts_.percent = 0;
        if (!v.reason.empty()) texts_.message = Reason(v.reason);
    }
}

void TileModel::On(const event::Status& v) {
    if (v.unreadable) {
        texts_.message = kStatusUnreadable;
        return;
    }
    if (v.retried) return;
    texts_.model = Or(v.model);
    SetChecksum(v.checksum);
    texts_.passed = v.passed;
    texts_.failed = v.failed;
}

void TileModel::On(const event::DownloadProgress& v) {
    texts_.state = kTileDownloading;
    texts_.percent = v.percent;
}

void TileModel::On(const event::DownloadEnded& v) {
    if (v.stored) {
        SetChecksum(v.checksum);
        texts_.state = kRunWaiting;
        texts_.percent = 100;
        texts_.message = kTileDownloaded;
    } else {
        texts_.state = connected_ ? kRunWaiting : kTileNotConnected;
        texts_.percent = 0;
        texts_.message = v.reason.empty() ? kDownloadFailed : v.reason;
    }
}

void TileModel::On(const event::RunStarted& /*started*/) {
    running_ = true;
    result_.reset();
    texts_.state = kRunStarted;
    texts_.percent = 0;
    texts_.message.clear();
}

void TileModel::On(const event::StepProgress& v) {
    texts_.state = StepNameChinese(v.row);
    texts_.percent = v.percent;
}

void TileModel::On(const event::StepOutcome& v) {
    if (!v.passed) texts_.message = std::string(StepNameChinese(v.row)) + "失败";
    if (running_) result_ = result_.value_or(true) && v.passed;
}

void TileModel::On(const event::OptionOutcome& v) {
    if (!v.panel.empty()) texts_.message = v.panel;
}

void TileModel::On(const event::RunResult& v) {
    result_ = v.passed;
    texts_.passed = v.passedCount;
    texts_.failed = v.failedCount;
    texts_.state = v.passed ? kRunPassed : kRunFailed;
    if (v.passed) texts_.percent = 100;
}

void TileModel::On(const event::ChipRefused& v) {
    texts_.message = v.message;
}

void TileModel::On(const event::RunEnded& v) {
    running_ = false;
    // A run without its result (no chip, a wrong chip, the
    // programmer unplugged or silent) is unfinished.
    const bool resultCame = result_.has_value() && (v.outcome == "passed" || v.outcome == "failed");
    if (!resultCame)
        texts_.state = kRunUnfinished;
    else
        texts_.state = v.outcome == "passed" ? kRunPassed : kRunFailed;
    if (!v.message.empty() && texts_.message.empty()) texts_.message = Reason(v.message);
    texts_.passed = v.passedCount;
    texts_.failed = v.failedCount;
}

}  // namespace qrv
