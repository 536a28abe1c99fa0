// The sessions of a station window, without Qt: one session per slot over its
// own slot seam, each with an interaction that puts its messages into the
// slot's tile, and the rules of the window — the file checked once and
// downloaded to every connected slot, which slots are ready to start, and the
// slot map after each device change. The Qt window renders the tiles and
// gives each session its reply poster and timers.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/session.h"
#include "station/slots.h"
#include "station/tile_model.h"

namespace qrv {

// Why a slot does not start: it holds another image than the file downloaded
// from this window, or no file was stored in it yet.
inline constexpr const char* kTileOtherImage = "烧录器中的文件与导入的文件不同，请重新导入文件!";
inline constexpr const char* kTileNoFile = "导入的文件未下载到此烧录器，请重新导入文件!";
inline constexpr const char* kTileNoFileChosen = "未导入文件";
// Said after a question a slot's session asked: slots never wait on a dialog.
inline constexpr const char* kTileAnsweredNo = "（已自动回答“否”）";

// A slot's message boxes: the text goes into the tile's last message, and a
// question is answered no (the tile says so). No dialog is ever shown.
class TileInteraction : public Interaction {
  public:
    explicit TileInteraction(std::function<void(const std::string&)> show)
        : show_(std::move(show)) {}
    void ShowMessage(const std::string& text) override { show_(text); }
    void Warning(const std::string& text) override { show_(text); }
    bool Question(const std::string& text) override {
        show_(text + kTileAnsweredNo);
        return false;
    }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&, const std::string&) override {
        return std::nullopt;
    }

  private:
    std::function<void(const std::string&)> show_;
};

class StationSessions {
  public:
    // seam: every programmer of the host. log: one production log line per
    // slot run, with the slot's columns. changed(i): tile i has new texts.
    StationSessions(HidSeam& seam, Station station, Clock& clock,
                    const std::optional<std::string>& log,
                    std::function<void(std::size_t)> changed);
    ~StationSessions();
    StationSessions(const StationSessions&) = delete;
    StationSessions& operator=(const StationSessions&) = delete;

    std::size_t Count() const { return slots_.size(); }
    MainSession& Session(std::size_t i) { return *slots_.at(i)->session; }
    const MainSession& Session(std::size_t i) const { return *slots_.at(i)->session; }
    const TileModel& Tile(std::size_t i) const { return slots_.at(i)->model; }

    // Connects every slot's programmer (the sessions' start-up).
    void Start();
    // Every slot's session takes the change; the slot map is read again.
    void OnDeviceChange(const DeviceChange& change);
    // Where each slot's programmer is now; the programmers in no slot.
    void ReadSlotMap();
    const std::vector<AttachedProgrammer>& Unassigned() const { return unassigned_; }
    // "N 个工位", then the unassigned programmers.
    const std::string& StatusText() const { return status_; }

    // The file checked once, then downloaded to every connected slot at
    // once. False with the refusal in FileText() when it is refused.
    bool ImportFile(const std::string& path);
    // The file downloaded, or why it was refused.
    const std::string& FileText() const { return fileText_; }
    // Connected, no run or download in progress, and holding the file
    // downloaded from this window (when there was one).
    bool Ready(std::size_t i) const;
    // A tile's "开始": false with the reason in its tile when it is not ready.
    bool StartSlot(std::size_t i);
    // "全部开始": every ready slot starts; a slot at rest that is not ready
    // is told why.
    void StartAll();
    // Whether tile i's start button takes a press.
    bool CanStart(std::size_t i) const;

    // Stops every reader: nothing more is reported to the tiles.
    void Close();

  private:
    struct Slot {
        explicit Slot(const SlotBinding& b) : binding(b), model(b) {}
        SlotBinding binding;
        std::unique_ptr<SlotSeam> seam;
        std::unique_ptr<TileInteraction> interaction;
        std::unique_ptr<MainSession> session;
        TileModel model;
    };
    void OnEvent(std::size_t i, const SessionEvent& e);
    void Changed(std::size_t i) {
        if (changed_ && !closed_) changed_(i);
    }

    HidSeam& seam_;
    Station station_;
    std::function<void(std::size_t)> changed_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<AttachedProgrammer> unassigned_;
    std::string status_;
    // The file downloaded from this window, and the checksum of the image the
    // first programmer that stored it reported.
    std::string file_;
    std::optional<unsigned> fileChecksum_;
    std::string fileText_ = kTileNoFileChosen;
    bool closed_ = false;
};

}  // namespace qrv
