#include "mainwin/station_window.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "common/atomic_file.h"
#include "image/hex_check.h"
#include "image/image_buffer.h"

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

bool TileInteraction::Question(const std::string& text) {
    show_(text + "（已自动回答“否”）");
    return false;
}

QSize StationWindow::GridShape(int n) {
    const int columns = n <= 1 ? 1 : n <= 4 ? 2 : n <= 6 ? 3 : 4;
    return {columns, (n + columns - 1) / columns};
}

StationWindow::StationWindow(HidSeam& seam, Station station, Interaction& dialogs, Clock& clock,
                             Options options, QWidget* parent)
    : QWidget(parent), seam_(seam), station_(std::move(station)), dialogs_(dialogs) {
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
    FileLine = new QLabel(this);
    FileLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    for (QPushButton* b : {ImportButton, StartAllButton, ConfigButton}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setMinimumWidth(90);
        top->addWidget(b);
    }
    top->addStretch(1);

    const auto present = ListProgrammers(seam_);
    const SlotMap map = AssignSlots(station_, present.value_or(std::vector<AttachedProgrammer>{}));
    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    const QSize shape = GridShape(static_cast<int>(map.slots.size()));
    for (std::size_t i = 0; i < map.slots.size(); ++i) {
        BuildSlot(i, map.slots[i], clock, options);
        const int n = static_cast<int>(i);
        grid->addWidget(slots_[i]->tile.frame, n / shape.width(), n % shape.width());
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
    ShowSlotMap();
    ShowFile("未导入文件");
    for (std::size_t i = 0; i < slots_.size(); ++i) RenderTile(i);
}

void StationWindow::ShowFile(const QString& text) {
    fileText_ = text;
    SetElided(FileLine, text);
}

void StationWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    SetElided(FileLine, fileText_);
    SetElided(StatusLine, statusText_);
}

StationWindow::~StationWindow() {
    // Each reader stops before its window goes, so that no reply is posted to
    // it; what a session still reports while it goes reaches no tile.
    closing_ = true;
    for (auto& slot : slots_) {
        slot->session->Link().CloseReadSide();
        slot->session->Channel().SetPoster({});
        slot->session->Changed = nullptr;
        slot->session->hooks.StartRunTimer = nullptr;
        slot->session->hooks.StartReadBackTimer = nullptr;
    }
}

void StationWindow::BuildSlot(std::size_t index, const SlotState& state, Clock& clock,
                              const Options& options) {
    auto slot = std::make_unique<Slot>(state.binding);
    slot->model.SetProgrammer(state.programmer);
    slot->seam = std::make_unique<SlotSeam>(seam_, state.binding);
    slot->interaction = std::make_unique<TileInteraction>([this, index](const std::string& text) {
        if (closing_) return;
        slots_[index]->model.SetMessage(text);
        RenderTile(index);
    });
    slot->session = std::make_unique<MainSession>(*slot->seam, *slot->interaction, clock);
    MainSession& s = *slot->session;
    if (options.log) {
        std::string port = state.binding.port, serial = state.binding.serial;
        if (state.programmer && state.programmer->identity) {
            port = state.programmer->identity->port;
            serial = state.programmer->identity->serial;
        }
        ProductionLog log(*options.log);
        log.SetStationColumns(state.binding.slot, port, serial);
        s.SetProductionLog(std::move(log));
    }
    s.Channel().SetPoster([this, index] { PostReply(index); });
    s.Subscribe([this, index](const SessionEvent& e) { OnEvent(index, e); });
    s.Changed = [this, index] { RenderTile(index); };
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
    slots_.push_back(std::move(slot));
    slots_.back()->tile.frame = BuildTile(index);
}

QWidget* StationWindow::BuildTile(std::size_t index) {
    TileWidgets& t = slots_[index]->tile;
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
    Slot& slot = *slots_[index];
    TileWidgets& t = slot.tile;
    if (!t.frame || closing_) return;
    const TileTexts& x = slot.model.Texts();
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
    const int width = kTileWidth - 16;
    set(t.message, t.message->fontMetrics().elidedText(message, Qt::ElideRight, width));
    if (t.message->toolTip() != message) t.message->setToolTip(message);
    t.start->setEnabled(slot.model.Connected() && !slot.model.Running() &&
                        !slot.session->TransferActive());
}

QString StationWindow::StateText(std::size_t index) const {
    return slots_.at(index)->tile.state->text();
}

QString StationWindow::MessageText(std::size_t index) const {
    return slots_.at(index)->tile.message->toolTip();
}

void StationWindow::OnEvent(std::size_t index, const SessionEvent& e) {
    if (closing_) return;
    Slot& slot = *slots_[index];
    slot.model.Apply(e);
    if (const auto* ended = std::get_if<event::DownloadEnded>(&e)) {
        // The image the file became, as the first programmer that stored it
        // tells its checksum.
        if (ended->stored && !ended->firmware && !file_.empty() && !fileChecksum_)
            fileChecksum_ = ended->checksum;
    }
    RenderTile(index);
}

void StationWindow::PostReply(std::size_t index) {
    QMetaObject::invokeMethod(
        this,
        [this, index] {
            MainSession& s = *slots_[index]->session;
            s.Channel().DispatchPending([&s](const Report& report) { s.OnReply(report); });
        },
        Qt::QueuedConnection);
}

void StationWindow::PostDeviceChange(const DeviceChange& change) {
    QMetaObject::invokeMethod(
        this,
        [this, change] {
            for (auto& slot : slots_) slot->session->OnDeviceChange(change);
            ShowSlotMap();
        },
        Qt::QueuedConnection);
}

void StationWindow::ShowSlotMap() {
    const auto present = ListProgrammers(seam_);
    if (!present) {
        statusText_ = "无法列出 USB HID 设备";
        SetElided(StatusLine, statusText_);
        return;
    }
    const SlotMap map = AssignSlots(station_, *present);
    for (std::size_t i = 0; i < map.slots.size() && i < slots_.size(); ++i) {
        // An empty slot shows its binding: the port it waits on.
        slots_[i]->model.SetProgrammer(map.slots[i].programmer);
        if (!map.slots[i].problem.empty()) slots_[i]->model.SetMessage(map.slots[i].problem);
        RenderTile(i);
    }
    unassigned_ = map.unassigned;
    QString line = QString("%1 个工位").arg(slots_.size());
    if (!unassigned_.empty()) {
        line += "    未分配的烧录器:";
        for (const AttachedProgrammer& p : unassigned_) line += " " + Q(ProgrammerName(p));
    }
    statusText_ = line;
    SetElided(StatusLine, line);
}

void StationWindow::Start() {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        slots_[i]->session->CheckProductionLog();
        slots_[i]->session->FormCreate();
        RenderTile(i);
    }
}

bool StationWindow::ImportFile(const std::string& path) {
    // The file is checked once, as the command line checks it, before any
    // programmer is sent anything.
    std::string text, error;
    if (!ReadWholeFile(path, &text, &error)) {
        ShowFile(Q(error));
        return false;
    }
    const ImageBuffer image = ImageBuffer::FromText(text);
    if (const auto problem = CheckHexLines(image.Lines())) {
        ShowFile(Q(std::string(kFormatErrorText) + " " + path + ", " + problem->ChineseText()));
        return false;
    }
    file_ = path;
    fileChecksum_.reset();
    ShowFile(Q(path));
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        MainSession& s = *slots_[i]->session;
        if (!s.Connected() || s.CurrentRun() || s.TransferActive()) {
            slots_[i]->model.SetMessage(kTileNoFile);
            RenderTile(i);
            continue;
        }
        s.ImportFile(path);
        RenderTile(i);
    }
    return true;
}

bool StationWindow::Ready(std::size_t index) const {
    const Slot& slot = *slots_.at(index);
    const MainSession& s = *slot.session;
    if (!s.Connected() || s.CurrentRun() || s.TransferActive()) return false;
    if (file_.empty()) return true;
    return fileChecksum_ && slot.model.StoredChecksum() == fileChecksum_;
}

bool StationWindow::StartSlot(std::size_t index) {
    Slot& slot = *slots_.at(index);
    MainSession& s = *slot.session;
    if (!Ready(index)) {
        // A slot busy or without its programmer says so itself; one holding
        // another image is told why it does not start.
        if (s.Connected() && !s.CurrentRun() && !s.TransferActive()) {
            slot.model.SetMessage(fileChecksum_ ? kTileOtherImage : kTileNoFile);
            RenderTile(index);
        }
        return false;
    }
    const bool started = s.Button2Click() == RunStart::Started;
    RenderTile(index);
    return started;
}

void StationWindow::StartAll() {
    // A connected slot at rest that is not ready is told why.
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const MainSession& s = *slots_[i]->session;
        if (s.Connected() && !s.CurrentRun() && !s.TransferActive()) StartSlot(i);
    }
}

void StationWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        StartAll();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace qrv
