#include "mainwin/station_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace qrv {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

constexpr int kTileWidth = 326;
constexpr int kTileHeight = 140;

// The state's colours: grey while waiting, amber while running, green for a
// pass, red for a failure or a run without result.
QString StateStyle(const std::string& state) {
    const char* background = "#d8d8d8";
    const char* text = "#202020";
    if (state == kRunPassed) {
        background = "#17a773";
        text = "#ffffff";
    } else if (state == kRunFailed || state == kRunUnfinished) {
        background = "#c94230";
        text = "#ffffff";
    } else if (state == kTileNotConnected) {
        background = "#a0a0a0";
        text = "#ffffff";
    } else if (state != kRunWaiting) {
        background = "#f0c040";
    }
    return QString("QLabel { background: %1; color: %2; border-radius: 3px; }")
        .arg(background, text);
}

// A line that may be longer than the window: what fits, the whole text in
// its tooltip.
void SetElided(QLabel* label, const QString& text) {
    label->setToolTip(text);
    const int width = std::max(label->contentsRect().width(), 40);
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, width));
}

}  // namespace

QSize StationWindow::GridShape(int n) {
    const int columns = n <= 1 ? 1 : n <= 4 ? 2 : n <= 6 ? 3 : 4;
    return {columns, (n + columns - 1) / columns};
}

StationWindow::StationWindow(HidSeam& seam, Station station, Interaction& dialogs, Clock& clock,
                             const Options& options, QWidget* parent)
    : QWidget(parent),
      dialogs_(dialogs),
      sessions_(seam, std::move(station), clock, options.log,
                [this](std::size_t i) { RenderTile(i); }) {
    setObjectName("StationWindow");
    setWindowTitle("QRV Writer V2.6 多机编程");
    QFont font;
    font.setFamilies({"Tahoma", "DejaVu Sans", "Noto Sans CJK SC"});
    font.setPixelSize(13);
    setFont(font);
    setFocusPolicy(Qt::StrongFocus);

    auto* top = new QHBoxLayout;
    ImportButton = new QPushButton("导入文件", this);
    StartAllButton = new QPushButton("全部开始", this);
    ConfigButton = new QPushButton("配置", this);
    StartAllButton->setToolTip("开始所有就绪的烧录器（空格键）");
    for (QPushButton* b : {ImportButton, StartAllButton, ConfigButton}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setMinimumWidth(90);
        top->addWidget(b);
    }
    top->addStretch(1);
    FileLine = new QLabel(this);
    FileLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    const QSize shape = GridShape(static_cast<int>(sessions_.Count()));
    tiles_.resize(sessions_.Count());
    for (std::size_t i = 0; i < sessions_.Count(); ++i) {
        const int n = static_cast<int>(i);
        grid->addWidget(BuildTile(i), n / shape.width(), n % shape.width());
        ConnectSession(i);
    }

    StatusLine = new QLabel(this);
    StatusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 6);
    outer->setSpacing(6);
    outer->addLayout(top);
    outer->addWidget(FileLine);
    outer->addLayout(grid);
    outer->addWidget(StatusLine);

    connect(ImportButton, &QPushButton::clicked, this, [this] {
        const auto path = dialogs_.OpenFile("");
        if (path) ImportFile(*path);
    });
    connect(StartAllButton, &QPushButton::clicked, this, [this] { StartAll(); });
    connect(ConfigButton, &QPushButton::clicked, this, [this] {
        if (!form2_) return;
        if (form2_->isVisible()) {
            form2_->close();
        } else {
            form2_->show();
            form2_->raise();
        }
    });
    RenderLines();
    for (std::size_t i = 0; i < tiles_.size(); ++i) RenderTile(i);
}

StationWindow::~StationWindow() {
    // Each reader stops before its window goes, so that no reply is posted to
    // it; what a session still reports while it goes reaches no tile.
    sessions_.Close();
    for (std::size_t i = 0; i < sessions_.Count(); ++i) {
        sessions_.Session(i).hooks.StartRunTimer = nullptr;
        sessions_.Session(i).hooks.StartReadBackTimer = nullptr;
    }
}

void StationWindow::ConnectSession(std::size_t index) {
    MainSession& s = sessions_.Session(index);
    // The reader's replies are dispatched on the UI thread, as TForm1 does.
    s.Channel().SetPoster([this, &s] {
        QMetaObject::invokeMethod(
            this,
            [&s] {
                s.Channel().DispatchPending([&s](const Report& report) { s.OnReply(report); });
            },
            Qt::QueuedConnection);
    });
    // The session's one-shot timers, as the main window has them.
    const auto oneShot = [this](std::function<void()> expired) {
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, std::move(expired));
        return [timer](int milliseconds) {
            if (milliseconds > 0)
                timer->start(milliseconds);
            else
                timer->stop();
        };
    };
    s.hooks.StartRunTimer = oneShot([&s] { s.RunTimerExpired(); });
    s.hooks.StartReadBackTimer = oneShot([&s] { s.ReadBackTimedOut(); });
}

QWidget* StationWindow::BuildTile(std::size_t index) {
    TileWidgets& t = tiles_[index];
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFixedSize(kTileWidth, kTileHeight);
    QFont bold = font();
    bold.setBold(true);
    t.title = new QLabel(frame);
    t.title->setFont(bold);
    t.where = new QLabel(frame);
    t.where->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    t.image = new QLabel(frame);
    t.state = new QLabel(frame);
    QFont big = bold;
    big.setPixelSize(17);
    t.state->setFont(big);
    t.state->setAlignment(Qt::AlignCenter);
    t.state->setFixedHeight(28);
    t.start = new QPushButton("开始", frame);
    t.start->setFocusPolicy(Qt::NoFocus);
    t.start->setFixedSize(64, 28);
    t.bar = new QProgressBar(frame);
    t.bar->setRange(0, 100);
    t.bar->setFixedHeight(14);
    t.bar->setTextVisible(false);
    t.counters = new QLabel(frame);
    t.message = new QLabel(frame);
    t.message->setTextFormat(Qt::PlainText);

    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(8, 5, 8, 5);
    layout->setSpacing(3);
    auto* head = new QHBoxLayout;
    head->addWidget(t.title);
    head->addWidget(t.where, 1);
    layout->addLayout(head);
    layout->addWidget(t.image);
    auto* run = new QHBoxLayout;
    run->addWidget(t.state, 1);
    run->addWidget(t.start);
    layout->addLayout(run);
    layout->addWidget(t.bar);
    layout->addWidget(t.counters);
    layout->addWidget(t.message);
    connect(t.start, &QPushButton::clicked, this, [this, index] { StartSlot(index); });
    return frame;
}

void StationWindow::RenderTile(std::size_t index) {
    if (index >= tiles_.size() || !tiles_[index].title) return;
    TileWidgets& t = tiles_[index];
    const TileTexts& x = sessions_.Tile(index).Texts();
    const auto set = [](QLabel* label, const QString& text) {
        if (label->text() != text) label->setText(text);
    };
    set(t.title, Q(x.title));
    set(t.where, Q(x.where));
    set(t.image, Q("型号: " + x.model + "    校验和: " + x.checksum));
    if (t.stateShown != Q(x.state)) {
        t.stateShown = Q(x.state);
        t.state->setText(t.stateShown);
        t.state->setStyleSheet(StateStyle(x.state));
    }
    if (t.bar->value() != x.percent) t.bar->setValue(x.percent);
    set(t.counters,
        Q("成功: " + std::to_string(x.passed) + "    失败: " + std::to_string(x.failed)));
    // The whole message is in the tooltip; the line shows what fits.
    const QString message = Q(x.message);
    set(t.message, t.message->fontMetrics().elidedText(message, Qt::ElideRight, kTileWidth - 16));
    if (t.message->toolTip() != message) t.message->setToolTip(message);
    t.start->setEnabled(sessions_.CanStart(index));
}

void StationWindow::RenderLines() {
    SetElided(FileLine, Q(sessions_.FileText()));
    SetElided(StatusLine, Q(sessions_.StatusText()));
}

QString StationWindow::StateText(std::size_t index) const {
    return tiles_.at(index).state->text();
}

QString StationWindow::MessageText(std::size_t index) const {
    return tiles_.at(index).message->toolTip();
}

void StationWindow::PostDeviceChange(const DeviceChange& change) {
    QMetaObject::invokeMethod(
        this,
        [this, change] {
            sessions_.OnDeviceChange(change);
            RenderLines();
        },
        Qt::QueuedConnection);
}

void StationWindow::Start() {
    sessions_.Start();
}

bool StationWindow::ImportFile(const std::string& path) {
    const bool imported = sessions_.ImportFile(path);
    RenderLines();
    return imported;
}

void StationWindow::StartAll() {
    sessions_.StartAll();
}

bool StationWindow::StartSlot(std::size_t index) {
    return sessions_.StartSlot(index);
}

void StationWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        StartAll();
        return;
    }
    QWidget::keyPressEvent(event);
}

void StationWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RenderLines();
}

}  // namespace qrv
