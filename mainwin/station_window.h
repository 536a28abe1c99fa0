// The station window: several programmers from one window, one tile per slot.
// A thin Qt view of StationSessions: each slot's session gets its reply poster
// and timers on the UI thread here, and its tile is rendered from the tile
// model after every change.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "station/station_sessions.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace qrv {

class StationWindow : public QWidget {
    Q_OBJECT
  public:
    struct Options {
        std::optional<std::string> log;  // --log: one line per slot run
    };
    // seam: every programmer of the host. dialogs: the open-file dialog of
    // "导入文件" (its message boxes are not used).
    StationWindow(HidSeam& seam, Station station, Interaction& dialogs, Clock& clock,
                  const Options& options, QWidget* parent = nullptr);
    ~StationWindow() override;

    // Connects every slot's programmer (the sessions' start-up).
    void Start();
    // Called from any thread: the change reaches every slot's session on the
    // UI thread, and the slot map is shown again.
    void PostDeviceChange(const DeviceChange& change);
    // The configuration window that "配置" shows and hides.
    void SetConfigWindow(QDialog* form2) { form2_ = form2; }

    // "导入文件" with the file chosen; "全部开始" and the space bar; a tile's
    // "开始" (see StationSessions).
    bool ImportFile(const std::string& path);
    void StartAll();
    bool StartSlot(std::size_t index);

    StationSessions& Sessions() { return sessions_; }
    MainSession& Session(std::size_t index) { return sessions_.Session(index); }
    const TileModel& Tile(std::size_t index) const { return sessions_.Tile(index); }
    const std::vector<AttachedProgrammer>& Unassigned() const { return sessions_.Unassigned(); }
    // The texts the tile's labels show now.
    QString StateText(std::size_t index) const;
    QString MessageText(std::size_t index) const;

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
        QLabel *title = nullptr, *where = nullptr, *image = nullptr, *state = nullptr,
               *counters = nullptr, *message = nullptr;
        QProgressBar* bar = nullptr;
        QPushButton* start = nullptr;
        QString stateShown;
    };

    QWidget* BuildTile(std::size_t index);
    void ConnectSession(std::size_t index);
    void RenderTile(std::size_t index);
    // The file line and the status line from the sessions' texts.
    void RenderLines();

    Interaction& dialogs_;
    // Before the sessions, which report changes from their construction on.
    std::vector<TileWidgets> tiles_;
    StationSessions sessions_;
    QPointer<QDialog> form2_;
};

}  // namespace qrv
