// The station window: several programmers from one window, one tile per slot.
// Each slot has its own session over its own slot seam, its own reader and
// timers, all dispatched on the UI thread; a slot's messages go into its tile
// instead of a message box, so that one slot never holds up the others.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/session.h"
#include "station/slots.h"
#include "station/tile_model.h"

class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qrv {

// A slot's message boxes: the text goes into the tile's last message, and a
// question is answered no (the tile says so). No dialog is ever shown.
class TileInteraction : public Interaction {
  public:
    explicit TileInteraction(std::function<void(const std::string&)> show)
        : show_(std::move(show)) {}
    void ShowMessage(const std::string& text) override { show_(text); }
    void Warning(const std::string& text) override { show_(text); }
    bool Question(const std::string& text) override;
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&, const std::string&) override {
        return std::nullopt;
    }

  private:
    std::function<void(const std::string&)> show_;
};

// Why a slot does not start: it holds another image than the file downloaded
// from this window, or no file was stored in it yet.
inline constexpr const char* kTileOtherImage = "烧录器中的文件与导入的文件不同，请重新导入文件!";
inline constexpr const char* kTileNoFile = "导入的文件未下载到此烧录器，请重新导入文件!";

class StationWindow : public QWidget {
    Q_OBJECT
  public:
    struct Options {
        std::optional<std::string> log;  // --log: one line per slot run
    };
    // seam: every programmer of the host. dialogs: the open-file dialog of
    // "导入文件" (its message boxes are not used).
    StationWindow(HidSeam& seam, Station station, Interaction& dialogs, Clock& clock,
                  Options options, QWidget* parent = nullptr);
    ~StationWindow() override;

    // Connects every slot's programmer (the sessions' start-up).
    void Start();
    // Called from any thread: the change reaches every slot's session on the
    // UI thread, and the slot map is shown again.
    void PostDeviceChange(const DeviceChange& change);
    // The configuration window that "配置" shows and hides.
    void SetConfigWindow(QDialog* form2) { form2_ = form2; }

    // "导入文件" with the file chosen: checked once, then downloaded to every
    // connected slot at once. False when the file was refused.
    bool ImportFile(const std::string& path);
    // "全部开始" and the space bar: every ready slot starts its automatic run.
    void StartAll();
    // A tile's "开始": false with the reason in its tile when it is not ready.
    bool StartSlot(std::size_t index);
    // Connected, no run or download in progress, and holding the file
    // downloaded from this window (when there was one).
    bool Ready(std::size_t index) const;

    // Programmers and sessions of the tiles, in slot order.
    std::size_t SlotCount() const { return slots_.size(); }
    MainSession& Session(std::size_t index) { return *slots_.at(index)->session; }
    const TileModel& Tile(std::size_t index) const { return slots_.at(index)->model; }
    const SlotBinding& Binding(std::size_t index) const { return slots_.at(index)->binding; }
    // The texts the tile's labels show now.
    QString StateText(std::size_t index) const;
    QString MessageText(std::size_t index) const;
    // The programmers in no slot, as the status line shows them.
    const std::vector<AttachedProgrammer>& Unassigned() const { return unassigned_; }

    // The grid of n tiles: columns × rows (1×1, 2×1, 2×2, 3×2, 4×2, 4×3, 4×4).
    static QSize GridShape(int n);

    QPushButton* ImportButton = nullptr;
    QPushButton* StartAllButton = nullptr;
    QPushButton* ConfigButton = nullptr;
    QLabel* FileLine = nullptr;
    QLabel* StatusLine = nullptr;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct TileWidgets {
        QWidget* frame = nullptr;
        QLabel *title = nullptr, *where = nullptr, *image = nullptr, *state = nullptr,
               *counters = nullptr, *message = nullptr;
        QProgressBar* bar = nullptr;
        QPushButton* start = nullptr;
        QString stateShown;
    };
    struct Slot {
        explicit Slot(SlotBinding b) : binding(b), model(std::move(b)) {}
        SlotBinding binding;
        std::unique_ptr<SlotSeam> seam;
        std::unique_ptr<TileInteraction> interaction;
        std::unique_ptr<MainSession> session;
        TileModel model;
        TileWidgets tile;
    };

    void BuildSlot(std::size_t index, const SlotState& state, Clock& clock, const Options& options);
    QWidget* BuildTile(std::size_t index);
    void RenderTile(std::size_t index);
    void OnEvent(std::size_t index, const SessionEvent& e);
    // Where each slot's programmer is now, and the unassigned ones.
    void ShowSlotMap();
    void PostReply(std::size_t index);
    // The file line: the file downloaded, or why it was refused.
    void ShowFile(const QString& text);

    HidSeam& seam_;
    Station station_;
    Interaction& dialogs_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<AttachedProgrammer> unassigned_;
    QPointer<QDialog> form2_;
    // The file downloaded from this window, and the checksum of the image the
    // first programmer that stored it reported.
    std::string file_;
    std::optional<unsigned> fileChecksum_;
    // The whole texts of the file line and the status line.
    QString fileText_, statusText_;
    bool closing_ = false;
};

}  // namespace qrv
