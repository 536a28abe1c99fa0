// What one tile of the station window shows: the slot, its programmer, the
// image it holds, the state of its run, the progress, the counters and the
// last message. The tile takes these from its session's events alone, so the
// window and its tests see the same texts. Qt-free.
#pragma once

#include <optional>
#include <string>

#include "session/events.h"
#include "station/slots.h"

namespace qrv {

// The state a tile shows before its programmer was found, and after it left
// with no run to report.
inline constexpr const char* kTileNotConnected = "未连接";
inline constexpr const char* kTileDownloading = "下载文件";
inline constexpr const char* kTileDownloaded = "下载完成";
inline constexpr const char* kTileUnplugged = "烧录器已拔出";
inline constexpr const char* kTileNoProgrammer = "此工位没有烧录器";

// The Chinese name of step row 0..3, as the main window's buttons say it.
const char* StepNameChinese(int row);

struct TileTexts {
    std::string title;     // "1 号位" and the slot's name
    std::string where;     // port and serial ("1-1.3  SIM0003"), or "-"
    std::string model;     // the model the programmer holds, or "-"
    std::string checksum;  // "1A2BH", or "-"
    std::string state;     // kRunWaiting, kRunStarted, a step, a result, kTileNotConnected
    int percent = 0;
    long long passed = 0;
    long long failed = 0;
    std::string message;  // the last message
};

class TileModel {
  public:
    explicit TileModel(SlotBinding binding);

    // The programmer now in the slot, its port and serial (none: the slot's
    // port is empty).
    void SetProgrammer(const std::optional<AttachedProgrammer>& programmer);
    // One event of the slot's session.
    void Apply(const SessionEvent& e);
    // A message of the slot's session or of the window (no message box).
    void SetMessage(std::string text) { texts_.message = std::move(text); }

    const TileTexts& Texts() const { return texts_; }
    bool Connected() const { return connected_; }
    bool Running() const { return running_; }
    // The stored image's checksum, once a status or a download told it.
    std::optional<unsigned> StoredChecksum() const { return checksum_; }

  private:
    void SetChecksum(unsigned checksum);
    // What each event changes on the tile; the others change nothing.
    void On(const event::Connection& v);
    void On(const event::Status& v);
    void On(const event::DownloadProgress& v);
    void On(const event::DownloadEnded& v);
    void On(const event::RunStarted& v);
    void On(const event::StepProgress& v);
    void On(const event::StepOutcome& v);
    void On(const event::OptionOutcome& v);
    void On(const event::RunResult& v);
    void On(const event::ChipRefused& v);
    void On(const event::RunEnded& v);
    template <class Other>
    void On(const Other&) {}

    SlotBinding binding_;
    TileTexts texts_;
    bool connected_ = false;
    bool running_ = false;
    // The automatic run's result, or a single step's outcome, once it came.
    std::optional<bool> result_;
    std::optional<unsigned> checksum_;
};

}  // namespace qrv
