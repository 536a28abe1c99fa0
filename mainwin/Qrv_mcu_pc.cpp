#include "mainwin/Qrv_mcu_pc.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "calibration/Qrv_mcu_oscadj.h"
#include "chooser/Qrv_mcu_option.h"
#include "qtview/qtview.h"

namespace qrv {

namespace {

using view::Place;
using view::Q;
using view::RenderBox;
using view::RenderCombo;
using view::ToQColor;

QString CssColor(uint32_t bgr) {
    return ToQColor(bgr).name();
}

// A label placed at its left and top, as wide as its caption.
QLabel* PlaceLabel(QWidget* parent, const char* name, int left, int top, const char* caption) {
    auto* l = new QLabel(Q(caption), parent);
    l->setObjectName(name);
    l->adjustSize();
    l->move(left, top);
    return l;
}

// The caption font of most controls: 微软雅黑 16 px regular, with the CJK fonts
// of the system behind it.
QFont CaptionFont() {
    QFont f;
    f.setFamilies({Q("微软雅黑"), "Microsoft YaHei", "Noto Sans CJK SC", "WenQuanYi Micro Hei"});
    f.setPixelSize(16);
    f.setBold(false);
    return f;
}

// The controls of the window in its caption font: a button that takes the
// focus only by tab, a label as wide as its caption, a read-only value box, and
// a list whose text without a selection names it.
QPushButton* CaptionButton(QWidget* parent, const QFont& font, const char* name, int l, int t,
                           int w, int h, const char* text) {
    auto* b = Place<QPushButton>(parent, name, l, t, w, h);
    b->setText(Q(text));
    b->setFont(font);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

QLabel* CaptionLabel(QWidget* parent, const QFont& font, const char* name, int l, int t,
                     const char* text) {
    QLabel* lab = PlaceLabel(parent, name, l, t, text);
    lab->setFont(font);
    lab->adjustSize();
    return lab;
}

QLineEdit* ValueBox(QWidget* parent, const char* name, int l, int t, int w, int h) {
    auto* e = Place<QLineEdit>(parent, name, l, t, w, h);
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    return e;
}

QComboBox* CaptionList(QWidget* parent, const QFont& font, const char* name, int l, int t, int w,
                       const char* text) {
    auto* c = Place<QComboBox>(parent, name, l, t, w, 25);
    c->setFont(font);
    c->setPlaceholderText(Q(text));
    c->setCurrentIndex(-1);
    // The text shown without a selection names the list: it reads as
    // plainly as an item.
    QPalette p = c->palette();
    p.setColor(QPalette::PlaceholderText, p.color(QPalette::Active, QPalette::ButtonText));
    c->setPalette(p);
    return c;
}

void SetVisible(QWidget* w, bool visible) {
    if (w->isVisibleTo(w->parentWidget()) != visible) w->setVisible(visible);
}

void SetText(QLineEdit* e, const std::string& text) {
    const QString t = Q(text);
    if (e->text() != t) e->setText(t);
}

QString JoinLines(std::vector<std::string>::const_iterator begin,
                  std::vector<std::string>::const_iterator end) {
    QStringList list;
    for (auto it = begin; it != end; ++it) list << Q(*it);
    return list.join('\n');
}

// Mirrors a line list into a memo. The memos hold a whole file and the
// download trace and are rendered after every reply, so only a change is
// applied: lines added at the end are appended, anything else replaces the text.
void SetLines(QPlainTextEdit* memo, const std::vector<std::string>& lines,
              std::vector<std::string>& shown) {
    if (lines == shown) return;
    if (!shown.empty() && lines.size() > shown.size() &&
        std::equal(shown.begin(), shown.end(), lines.begin())) {
        const auto added = lines.begin() + static_cast<std::ptrdiff_t>(shown.size());
        memo->appendPlainText(JoinLines(added, lines.end()));
        shown.insert(shown.end(), added, lines.end());
        return;
    }
    memo->setPlainText(JoinLines(lines.begin(), lines.end()));
    shown = lines;
}

void RenderWidget(QWidget* w, const Widget& m) {
    SetVisible(w, m.visible);
    w->setEnabled(m.enabled);
}

void RenderBar(QProgressBar* bar, const ProgressBar& m) {
    RenderWidget(bar, m);
    if (bar->maximum() != m.max) bar->setRange(0, m.max);
    bar->setValue(m.position);
}

// A list as wide as its widest item or placeholder needs, with its arrow.
int ListWidth(const QFont& font, const QStringList& texts) {
    const QFontMetrics fm(font);
    int widest = 0;
    for (const QString& t : texts) widest = std::max(widest, fm.horizontalAdvance(t));
    return widest + 40;
}

}  // namespace

TForm1::TForm1(MainSession& session, QWidget* parent) : QWidget(parent), session_(session) {
    setObjectName("TForm1");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(395, 622);
    setWindowTitle(Q(kCaptionDesign));
    QFont formFont;
    formFont.setFamilies({"Tahoma", "DejaVu Sans", "Noto Sans CJK SC"});
    formFont.setPixelSize(16);
    formFont.setBold(true);
    setFont(formFont);
    setAutoFillBackground(true);
    BuildControls();
    ConnectControls();
    session_.Changed = [this] { Render(); };
    // The space bar reaches whichever control holds the focus; the window
    // takes it first (SpaceBar).
    qApp->installEventFilter(this);
}

TForm1::~TForm1() {
    // The session outlives the window: it must not call into it any more.
    session_.Changed = nullptr;
    session_.hooks.ShowConfigWindow = nullptr;
    session_.hooks.ShowOptionChooser = nullptr;
    session_.hooks.ShowOptionChooserAfterDownload = nullptr;
    session_.hooks.PresetOptionWord = nullptr;
    session_.hooks.DisableOptionGroup = nullptr;
    session_.hooks.ShowCalibrationDialog = nullptr;
    if (form3_) form3_->Session().SendCommand = nullptr;
    if (form5_) form5_->Session().SendCustom = nullptr;
    qApp->removeEventFilter(this);
    session_.hooks.StartReadBackTimer = nullptr;
    session_.hooks.StartRunTimer = nullptr;
    if (form2_) form2_->removeEventFilter(this);
}

void TForm1::BuildControls() {
    // In this order: the order of creation is the stacking and the tab order.
    BuildTopControls();
    BuildStepRows();
    BuildCounterControls();
    BuildServiceControls();
    // The status line covers Edit8; the download bar shows in Edit1's place.
    RichEdit1->raise();
    ProgressBar5->raise();
}

// The logo, the connection, import and value rows, and the automatic run.
void TForm1::BuildTopControls() {
    const QFont caption = CaptionFont();
    const QString grey = "background: #D4D0C8;";

    Image1 = Place<QLabel>(this, "Image1", 20, 5, 265, 49);
    Image1->setPixmap(LogoPicture());
    Button1 = CaptionButton(this, caption, "Button1", 312, 8, 75, 41, "配置");

    Button7 = CaptionButton(this, caption, "Button7", 8, 60, 65, 27, "连接");
    Edit8 = ValueBox(this, "Edit8", 79, 60, 234, 27);
    Edit8->setEnabled(false);
    RichEdit1 = Place<QTextEdit>(this, "RichEdit1", 79, 60, 234, 27);
    RichEdit1->setReadOnly(true);
    RichEdit1->setFocusPolicy(Qt::NoFocus);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    RichEdit1->setLineWrapMode(QTextEdit::NoWrap);
    // Regular weight, so the longest status line fits the box.
    statusFont_ = CaptionFont();
    RichEdit1->setFont(statusFont_);
    RichEdit1->document()->setDocumentMargin(2);

    BitBtn1 = CaptionButton(this, caption, "BitBtn1", 8, 100, 65, 27, "导入文件");
    // Four characters of the caption font fill the whole button: a smaller size
    // keeps them clear of its frame.
    QFont importFont = caption;
    importFont.setPixelSize(14);
    BitBtn1->setFont(importFont);
    ProgressBar5 = Place<QProgressBar>(this, "ProgressBar5", 79, 97, 234, 27);
    Edit1 = ValueBox(this, "Edit1", 79, 98, 234, 27);
    Edit1->setReadOnly(false);  // service words are typed here
    Edit1->setFocusPolicy(Qt::StrongFocus);
    Edit1->setStyleSheet("QLineEdit { " + grey + " }");
    Label1 = CaptionLabel(this, caption, "Label1", 319, 104, "导入文件");
    // It ends above "Update", which shows right below it.
    Label1->resize(Label1->width(), std::min(Label1->height(), 127 - 104));
    Button16 = CaptionButton(this, caption, "Button16", 302, 127, 87, 25, "Update");

    Label2 = CaptionLabel(this, caption, "Label2", 8, 155, "器件型号");
    Edit2 = ValueBox(this, "Edit2", 79, 152, 121, 27);
    Label3 = CaptionLabel(this, caption, "Label3", 223, 155, "校验码");
    Edit3 = ValueBox(this, "Edit3", 300, 152, 89, 27);
    // The model and checksum boxes are disabled, as they only show a value,
    // yet must stay readable: their text keeps the normal colour on the
    // disabled background.
    for (QLineEdit* value : {Edit2, Edit3}) {
        QPalette p = value->palette();
        p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
        value->setPalette(p);
    }
    valueFont_ = Edit2->font();

    Button2 = CaptionButton(this, caption, "Button2", 140, 200, 173, 41, "自动编程");
}

void TForm1::BuildStepRows() {
    const QFont caption = CaptionFont();
    // The step rows: selection box, step button, bar, pass and fail mark.
    const int rowTops[4] = {262, 309, 355, 401};
    const char* boxNames[4] = {"CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4"};
    const char* buttonNames[4] = {"Button3", "Button4", "Button5", "Button6"};
    const char* buttonCaptions[4] = {"空检验", "擦除", "编程", "校验"};
    const char* barNames[4] = {"ProgressBar1", "ProgressBar2", "ProgressBar3", "ProgressBar4"};
    const char* passNames[4] = {"Image2", "Image3", "Image4", "Image5"};
    const char* failNames[4] = {"Image6", "Image7", "Image8", "Image9"};
    QCheckBox** boxes[4] = {&CheckBox1, &CheckBox2, &CheckBox3, &CheckBox4};
    QPushButton** buttons[4] = {&Button3, &Button4, &Button5, &Button6};
    QProgressBar** bars[4] = {&ProgressBar1, &ProgressBar2, &ProgressBar3, &ProgressBar4};
    QLabel** passes[4] = {&Image2, &Image3, &Image4, &Image5};
    QLabel** fails[4] = {&Image6, &Image7, &Image8, &Image9};
    const QPixmap tick =
        TickPicture().scaled(26, 22, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QPixmap cross = CrossPicture();
    for (int r = 0; r < 4; ++r) {
        const int top = rowTops[r];
        *boxes[r] = Place<QCheckBox>(this, boxNames[r], 8, top + 4, 17, 17);
        (*boxes[r])->setFocusPolicy(Qt::TabFocus);
        *buttons[r] =
            CaptionButton(this, caption, buttonNames[r], 31, top, 92, 25, buttonCaptions[r]);
        *bars[r] = Place<QProgressBar>(this, barNames[r], 140, top, 221, 25);
        *passes[r] = Place<QLabel>(this, passNames[r], 367, top + 1, 26, 22);
        (*passes[r])->setPixmap(tick);
        (*passes[r])->setAlignment(Qt::AlignCenter);
        *fails[r] = Place<QLabel>(this, failNames[r], 369, top + 1, 26, 22);
        (*fails[r])->setPixmap(cross);
        (*fails[r])->setAlignment(Qt::AlignCenter);
    }
    for (QProgressBar* bar :
         {ProgressBar1, ProgressBar2, ProgressBar3, ProgressBar4, ProgressBar5}) {
        bar->setRange(0, 100);
        bar->setTextVisible(false);
    }
}

// The result panel, the counters with their buttons, and the hidden memos.
void TForm1::BuildCounterControls() {
    const QFont caption = CaptionFont();
    Panel1 = Place<QLabel>(this, "Panel1", 140, 431, 173, 41);
    Panel1->setAlignment(Qt::AlignCenter);
    panelFont_ = CaptionFont();
    panelFont_.setPixelSize(20);
    panelFont_.setBold(true);
    Panel1->setFont(panelFont_);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setAutoFillBackground(true);

    Button13 = CaptionButton(this, caption, "Button13", 31, 440, 92, 25, "读校验码");
    Label5 = CaptionLabel(this, caption, "Label5", 198, 494, "成功编程次数");
    Edit4 = ValueBox(this, "Edit4", 300, 493, 87, 27);
    Label6 = CaptionLabel(this, caption, "Label6", 198, 535, "失败编程次数");
    Edit5 = ValueBox(this, "Edit5", 300, 533, 84, 27);
    Button12 = CaptionButton(this, caption, "Button12", 32, 501, 92, 25, "擦除存储");
    CheckBox5 = Place<QCheckBox>(this, "CheckBox5", 31, 561, 97, 17);
    CheckBox5->setText(Q("编程配置"));
    CheckBox5->setFont(caption);

    Memo1 = Place<QPlainTextEdit>(this, "Memo1", 8, 580, 120, 30);
    Memo2 = Place<QPlainTextEdit>(this, "Memo2", 140, 580, 120, 30);
    for (QPlainTextEdit* memo : {Memo1, Memo2}) {
        memo->setReadOnly(true);
        memo->hide();
    }
}

void TForm1::BuildServiceControls() {
    const QFont caption = CaptionFont();
    // Service controls (hidden at start-up). They are placed below the design
    // area when revealed (LayoutServiceControls).
    Button8 = CaptionButton(this, caption, "Button8", 8, kDesignHeight, 92, 25, "save");
    Button9 = CaptionButton(this, caption, "Button9", 8, kDesignHeight, 92, 25, "Read chip");
    Button10 = CaptionButton(this, caption, "Button10", 8, kDesignHeight, 92, 25, "Read cach");
    Button11 = CaptionButton(this, caption, "Button11", 8, kDesignHeight, 92, 25, "UserOption");
    // The working-mode and EEPROM lists take their items from the session;
    // each is as wide as its longest text.
    QStringList modes, addresses, types, calibration;
    for (const WorkingMode& mode : kWorkingModes) modes << Q(mode.item);
    for (const char* item : kEepromAddressItems) addresses << Q(item);
    for (const char* item : kEepromTypeItems) types << Q(item);
    for (const CalibrationItem& item : kCalibrationItems) calibration << Q(item.text);
    ComboBox1 =
        CaptionList(this, caption, "ComboBox1", 8, kDesignHeight, ListWidth(caption, modes), "");
    Label4 = CaptionLabel(this, caption, "Label4", 8, kDesignHeight, "工作模式");
    ComboBox2 =
        CaptionList(this, caption, "ComboBox2", 8, kDesignHeight,
                    ListWidth(caption, calibration + QStringList{Q("內振校正")}), "內振校正");
    for (const QString& item : calibration) ComboBox2->addItem(item);
    ComboBox2->setCurrentIndex(-1);
    Button14 = CaptionButton(this, caption, "Button14", 8, kDesignHeight, 92, 25, "读EEPROM");
    Button15 = CaptionButton(this, caption, "Button15", 8, kDesignHeight, 92, 25, "写EEPROM");
    ComboBox3 = CaptionList(this, caption, "ComboBox3", 8, kDesignHeight,
                            ListWidth(caption, addresses + QStringList{Q("EEP地址")}), "EEP地址");
    ComboBox4 = CaptionList(this, caption, "ComboBox4", 8, kDesignHeight,
                            ListWidth(caption, types + QStringList{Q("型号")}), "型号");
    for (QComboBox* list : {ComboBox1, ComboBox3, ComboBox4}) list->setFocusPolicy(Qt::TabFocus);
    for (QWidget* w : std::initializer_list<QWidget*>{Button8, Button9, Button10, Button11,
                                                      Button14, Button15, Button16, ComboBox1,
                                                      ComboBox2, ComboBox3, ComboBox4, Label4})
        w->hide();
}

template <typename F>
void TForm1::UserAction(F&& action) {
    action();
    Render();
}

void TForm1::ConnectControls() {
    MainSession& s = session_;
    connect(Button1, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button3Click(); }); });
    connect(Button4, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button4Click(); }); });
    connect(Button5, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button5Click(); }); });
    connect(Button6, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button6Click(); }); });
    connect(Button7, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button7Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.BitBtn1Click(); }); });
    connect(Button12, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button12Click(); }); });
    connect(Button13, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button13Click(); }); });
    // The service controls.
    connect(Button8, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button8Click(); }); });
    connect(Button9, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button9Click(); }); });
    connect(Button10, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button10Click(); }); });
    connect(Button11, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button11Click(); }); });
    connect(Button14, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button14Click(); }); });
    connect(Button15, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button15Click(); }); });
    connect(Button16, &QPushButton::clicked, this,
            [this, &s] { UserAction([&] { s.Button16Click(); }); });
    connect(ComboBox1, &QComboBox::activated, this,
            [this, &s](int i) { UserAction([&] { s.ComboBox1Click(i); }); });
    connect(ComboBox3, &QComboBox::activated, this,
            [this, &s](int i) { UserAction([&] { s.ComboBox3Click(i); }); });
    connect(ComboBox4, &QComboBox::activated, this,
            [this, &s](int i) { UserAction([&] { s.ComboBox4Click(i); }); });
    // The session's one-shot timers: a start with 0 ms or less stops one.
    const auto oneShot = [this](std::function<void()> expired) {
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this,
                [this, expired = std::move(expired)] { UserAction(expired); });
        return [timer](int milliseconds) {
            if (milliseconds > 0)
                timer->start(milliseconds);
            else
                timer->stop();
        };
    };
    // The storage read-back's timer: a block that does not come ends it.
    s.hooks.StartReadBackTimer = oneShot([&s] { s.ReadBackTimedOut(); });
    // The run's timer: a programmer silent for 10 s ends the run in progress,
    // and after a result the option results are awaited a short while.
    s.hooks.StartRunTimer = oneShot([&s] { s.RunTimerExpired(); });
    // What the operator types into the file box (service words) is the box's
    // text; a later render keeps it.
    connect(Edit1, &QLineEdit::textEdited, this,
            [&s](const QString& text) { s.form.Edit1.text = text.toStdString(); });
    connect(Edit1, &QLineEdit::returnPressed, this,
            [this, &s] { UserAction([&] { s.Edit1KeyPress(kKeyEnter); }); });
    connect(ComboBox2, &QComboBox::activated, this,
            [this, &s](int index) { UserAction([&] { s.ComboBox2Click(index); }); });
    QCheckBox* boxes[5] = {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5};
    Toggle* toggles[5] = {&s.form.CheckBox1, &s.form.CheckBox2, &s.form.CheckBox3,
                          &s.form.CheckBox4, &s.form.CheckBox5};
    for (int i = 0; i < 5; ++i) {
        Toggle* t = toggles[i];
        connect(boxes[i], &QCheckBox::clicked, this,
                [this, t] { UserAction([t] { t->Click(); }); });
    }
}

void TForm1::SetConfigWindow(QDialog* form2) {
    form2_ = form2;
    form2Object_ = form2;
    form2->installEventFilter(this);
    session_.hooks.ShowConfigWindow = [this](bool show) {
        if (!form2_) return;
        if (show) {
            DockConfigWindow();
            form2_->show();
            DockConfigWindow();
        } else {
            form2_->close();
        }
    };
}

void TForm1::SetOptionChooser(TForm3* form3) {
    form3_ = form3;
    ChooserSession& chooser = form3->Session();
    chooser.SendCommand = [this](uint8_t code, uint32_t argument) {
        session_.SendCommand(code, argument);
    };
    session_.hooks.PresetOptionWord = [this](uint32_t word) {
        if (!form3_) return;
        form3_->Session().PresetFromFile(
            static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
            static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word));
        form3_->Render();
    };
    session_.hooks.DisableOptionGroup = [this] {
        if (!form3_) return;
        form3_->Session().DisableOptionGroup();
        form3_->Render();
    };
    session_.hooks.ShowOptionChooserAfterDownload = [this] {
        if (!form3_) return;
        const QRect main = frameGeometry();
        form3_->move(main.x() + main.width() / 2, form3_->y());
        form3_->exec();
    };
    session_.hooks.ShowOptionChooser = [this](bool show) {
        if (!form3_) return;
        if (show)
            form3_->exec();
        else
            form3_->hide();
    };
}

void TForm1::SetCalibrationDialog(TForm5* form5) {
    form5_ = form5;
    form5->Session().SendCustom = [this](uint16_t frequencyKHz) {
        session_.SendCustomCalibration(frequencyKHz);
    };
    // One dialog, shown again where it is asked for.
    session_.hooks.ShowCalibrationDialog = [this] {
        if (!form5_) return;
        const QRect main = frameGeometry();
        form5_->move(main.x() + main.width() / 2, form5_->y());
        if (form5_->isVisible()) {
            form5_->raise();
            form5_->activateWindow();
        } else {
            form5_->show();
        }
    };
}

bool TForm1::SpaceBar(QObject* watched, QKeyEvent* event) {
    // Space starts the automatic run wherever the focus is in this window -
    // also on a button or a box, which would otherwise take it as a click -
    // except in the file box, where it is typed.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || widget == Edit1) return false;
    if (event->key() != Qt::Key_Space) return false;
    if (event->type() == QEvent::KeyPress)
        UserAction([&] { session_.FormKeyDown(kKeySpace, event->isAutoRepeat()); });
    return true;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        if (SpaceBar(watched, static_cast<QKeyEvent*>(event))) return true;
    }
    // However the configuration window goes away (Button1, its close box, Esc),
    // the next press of Button1 shows it again.
    if (event->type() == QEvent::Hide && !event->spontaneous() && watched == form2Object_) {
        session_.ConfigWindowClosed();
    }
    return QWidget::eventFilter(watched, event);
}

QPoint TForm1::DockPosition(const QRect& main, const QSize& dialog, const QRect& screen) {
    constexpr int kGap = 8;
    const int right = main.x() + main.width() + kGap;
    const int left = main.x() - kGap - dialog.width();
    int x = right;
    if (right + dialog.width() > screen.x() + screen.width()) {
        x = left >= screen.x() ? left
                               : std::max(screen.x(), screen.x() + screen.width() - dialog.width());
    }
    const int lowest = std::max(screen.y(), screen.y() + screen.height() - dialog.height());
    return {x, std::clamp(main.y(), screen.y(), lowest)};
}

void TForm1::DockConfigWindow(bool force) {
    if (!form2_) return;
    // A window found away from where it was docked was moved by its user.
    if (!force && form2_->isVisible() && !docked_.isNull() &&
        (form2_->pos() - docked_).manhattanLength() > 2)
        userPlacedConfig_ = true;
    if (force) userPlacedConfig_ = false;
    if (userPlacedConfig_) return;
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect area = shown ? shown->availableGeometry() : QRect(0, 0, 1 << 15, 1 << 15);
    const QPoint target = DockPosition(frameGeometry(), form2_->frameGeometry().size(), area);
    docked_ = target;
    if (form2_->pos() != target) form2_->move(target);
}

void TForm1::paintEvent(QPaintEvent* event) {
    DockConfigWindow();
    QWidget::paintEvent(event);
}

void TForm1::moveEvent(QMoveEvent* event) {
    DockConfigWindow(true);
    QWidget::moveEvent(event);
}

void TForm1::FitText(QWidget* w, const QFont& design, const QString& text, int available,
                     int smallest) {
    QFont font = design;
    const int designSize = design.pixelSize() > 0 ? design.pixelSize() : 16;
    for (int px = designSize; px >= smallest; --px) {
        font.setPixelSize(px);
        int widest = 0;
        for (const QString& line : text.split('\n'))
            widest = std::max(widest, QFontMetrics(font).horizontalAdvance(line));
        if (widest <= available) break;
    }
    if (w->font() != font) w->setFont(font);
}

void TForm1::LayoutServiceControls() {
    // The service words' order: save, Read chip, Read cach, UserOption, the
    // working-mode list (with its label), 內振校正, 读EEPROM, EEP地址, 写EEPROM,
    // 型号. Each visible one takes the next place, row by row.
    struct Unit {
        QWidget* label;
        QWidget* control;
    };
    const Unit units[] = {{nullptr, Button8},  {nullptr, Button9},   {nullptr, Button10},
                          {nullptr, Button11}, {Label4, ComboBox1},  {nullptr, ComboBox2},
                          {nullptr, Button14}, {nullptr, ComboBox3}, {nullptr, Button15},
                          {nullptr, ComboBox4}};
    constexpr int kMargin = 8, kGap = 6, kRow = 25;
    int x = kMargin;
    int y = kDesignHeight;
    bool any = false;
    for (const Unit& u : units) {
        if (!u.control->isVisibleTo(this)) continue;
        const int labelWidth = u.label ? u.label->width() + 4 : 0;
        const int width = labelWidth + u.control->width();
        if (any && x + width > this->width() - kMargin) {
            x = kMargin;
            y += kRow + kGap;
        }
        if (u.label) u.label->move(x, y + (kRow - u.label->height()) / 2);
        u.control->move(x + labelWidth, y);
        x += width + kGap;
        any = true;
    }
    const int height = any ? y + kRow + kMargin : kDesignHeight;
    if (this->height() != height) setFixedSize(this->width(), height);
}

void TForm1::PostReply() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            session_.Channel().DispatchPending(
                [this](const Report& report) { session_.OnReply(report); });
        },
        Qt::QueuedConnection);
}

void TForm1::PostDeviceChange(const DeviceChange& change) {
    QMetaObject::invokeMethod(
        this, [this, change] { session_.OnDeviceChange(change); }, Qt::QueuedConnection);
}

void TForm1::Render() {
    const MainWindowModel& m = session_.form;
    // Rendering never runs a rule: the widgets' signals are blocked meanwhile.
    QList<QWidget*> children = findChildren<QWidget*>();
    std::vector<std::unique_ptr<QSignalBlocker>> blockers;
    blockers.reserve(static_cast<std::size_t>(children.size()));
    for (QWidget* w : children) blockers.push_back(std::make_unique<QSignalBlocker>(w));

    if (windowTitle() != Q(m.caption)) setWindowTitle(Q(m.caption));
    if (formColor_ != m.color) {
        QPalette pal = palette();
        pal.setColor(QPalette::Window, ToQColor(m.color));
        setPalette(pal);
        formColor_ = m.color;
    }

    RenderWidget(Image1, m.Image1);
    RenderWidget(Button1, m.Button1);
    RenderWidget(Button2, m.Button2);
    RenderWidget(Button3, m.Button3);
    RenderWidget(Button4, m.Button4);
    RenderWidget(Button5, m.Button5);
    RenderWidget(Button6, m.Button6);
    RenderWidget(Button7, m.Button7);
    RenderWidget(Button8, m.Button8);
    RenderWidget(Button9, m.Button9);
    RenderWidget(Button10, m.Button10);
    RenderWidget(Button11, m.Button11);
    RenderWidget(Button12, m.Button12);
    RenderWidget(Button13, m.Button13);
    RenderWidget(Button14, m.Button14);
    RenderWidget(Button15, m.Button15);
    RenderWidget(Button16, m.Button16);
    RenderWidget(BitBtn1, m.BitBtn1);
    RenderCombo(ComboBox1, m.ComboBox1);
    RenderWidget(ComboBox2, m.ComboBox2);
    RenderCombo(ComboBox3, m.ComboBox3);
    RenderCombo(ComboBox4, m.ComboBox4);
    SetVisible(Label4, m.ComboBox1.visible);

    RenderStatusLine(m);
    RenderValueBoxes(m);

    RenderBox(CheckBox1, m.CheckBox1);
    RenderBox(CheckBox2, m.CheckBox2);
    RenderBox(CheckBox3, m.CheckBox3);
    RenderBox(CheckBox4, m.CheckBox4);
    RenderBox(CheckBox5, m.CheckBox5);

    RenderBar(ProgressBar1, m.ProgressBar1);
    RenderBar(ProgressBar2, m.ProgressBar2);
    RenderBar(ProgressBar3, m.ProgressBar3);
    RenderBar(ProgressBar4, m.ProgressBar4);
    RenderBar(ProgressBar5, m.ProgressBar5);

    QLabel* images[] = {Image2, Image3, Image4, Image5, Image6, Image7, Image8, Image9};
    const Widget* markModels[] = {&m.Image2, &m.Image3, &m.Image4, &m.Image5,
                                  &m.Image6, &m.Image7, &m.Image8, &m.Image9};
    for (int i = 0; i < 8; ++i) SetVisible(images[i], markModels[i]->visible);

    RenderPanel(m);

    SetLines(Memo1, m.Memo1.lines, memo1Shown_);
    SetLines(Memo2, m.Memo2.lines, memo2Shown_);
    RenderWidget(Memo1, m.Memo1);
    RenderWidget(Memo2, m.Memo2);
    LayoutServiceControls();
}

// The status line, in its colour and at a size at which it fits.
void TForm1::RenderStatusLine(const MainWindowModel& m) {
    QStringList lines;
    for (const auto& l : m.RichEdit1.lines) lines << Q(l);
    const QString status = lines.join('\n');
    if (RichEdit1->toPlainText() != status || statusColor_ != m.RichEdit1.fontColor) {
        QPalette rp = RichEdit1->palette();
        rp.setColor(QPalette::Text, ToQColor(m.RichEdit1.fontColor));
        rp.setColor(QPalette::Base, QColor(0xD4, 0xD0, 0xC8));
        RichEdit1->setPalette(rp);
        // The longest status line fits the box: its font shrinks rather than
        // the text being cut.
        FitText(RichEdit1, statusFont_, status,
                RichEdit1->width() - 2 * RichEdit1->frameWidth() -
                    2 * static_cast<int>(RichEdit1->document()->documentMargin()) - 4);
        RichEdit1->setPlainText(status);
        statusColor_ = m.RichEdit1.fontColor;
    }
    RenderWidget(RichEdit1, m.RichEdit1);
}

// The value boxes, each shown whole, and the counters in their colours.
void TForm1::RenderValueBoxes(const MainWindowModel& m) {
    const TextBox* texts[] = {&m.Edit1, &m.Edit2, &m.Edit3, &m.Edit4, &m.Edit5, &m.Edit8};
    QLineEdit* edits[] = {Edit1, Edit2, Edit3, Edit4, Edit5, Edit8};
    for (int i = 0; i < 6; ++i) {
        const bool changed = edits[i]->text() != Q(texts[i]->text);
        SetText(edits[i], texts[i]->text);
        RenderWidget(edits[i], *texts[i]);
        if (!changed || edits[i] == Edit8) continue;
        // Values are shown whole, from their first character; a path too long
        // for the file box scrolls.
        FitText(edits[i], valueFont_, edits[i]->text(), edits[i]->width() - 12,
                edits[i] == Edit1 ? 11 : 8);
        if (edits[i] != Edit1) edits[i]->setCursorPosition(0);
    }
    // The counters: white text on their colour.
    if (edit4Color_ != m.Edit4Color) {
        Edit4->setStyleSheet(
            QString("QLineEdit { background: %1; color: white; }").arg(CssColor(m.Edit4Color)));
        edit4Color_ = m.Edit4Color;
    }
    if (edit5Color_ != m.Edit5Color) {
        Edit5->setStyleSheet(
            QString("QLineEdit { background: %1; color: white; }").arg(CssColor(m.Edit5Color)));
        edit5Color_ = m.Edit5Color;
    }
}

void TForm1::RenderPanel(const MainWindowModel& m) {
    // The result panel: every verdict fits at its place, in a smaller font
    // where the design size would cut it.
    if (Panel1->text() != Q(m.Panel1.caption)) {
        FitText(Panel1, panelFont_, Q(m.Panel1.caption), Panel1->contentsRect().width() - 6);
        Panel1->setText(Q(m.Panel1.caption));
    }
    if (panelColor_ != m.Panel1.color || panelTextColor_ != m.Panel1.fontColor) {
        QPalette pp = Panel1->palette();
        pp.setColor(QPalette::Window, ToQColor(m.Panel1.color));
        pp.setColor(QPalette::WindowText, ToQColor(m.Panel1.fontColor));
        Panel1->setPalette(pp);
        panelColor_ = m.Panel1.color;
        panelTextColor_ = m.Panel1.fontColor;
    }
    RenderWidget(Panel1, m.Panel1);
}

QPixmap TForm1::LogoPicture() {
    QPixmap pix(265, 49);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    // A chip with its pins.
    const QRectF chip(10, 8, 33, 33);
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 2));
    for (int i = 0; i < 4; ++i) {
        const double o = 13 + i * 8;
        p.drawLine(QPointF(o, 3), QPointF(o, 8));
        p.drawLine(QPointF(o, 41), QPointF(o, 46));
        p.drawLine(QPointF(5, o - 2), QPointF(10, o - 2));
        p.drawLine(QPointF(43, o - 2), QPointF(48, o - 2));
    }
    QLinearGradient body(chip.topLeft(), chip.bottomRight());
    body.setColorAt(0, QColor(0x2B, 0x57, 0x9A));
    body.setColorAt(1, QColor(0x12, 0x2B, 0x52));
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(chip, 4, 4);
    p.setPen(QColor(0xFF, 0xFF, 0xFF));
    QFont chipFont("DejaVu Sans");
    chipFont.setPixelSize(11);
    chipFont.setBold(true);
    p.setFont(chipFont);
    p.drawText(chip, Qt::AlignCenter, "QRV");
    // The name.
    QFont name("DejaVu Sans");
    name.setPixelSize(26);
    name.setBold(true);
    p.setFont(name);
    p.setPen(QColor(0x1F, 0x4E, 0x8C));
    p.drawText(QRectF(58, 2, 200, 30), Qt::AlignLeft | Qt::AlignVCenter, "QRV Writer");
    QFont sub("DejaVu Sans");
    sub.setPixelSize(11);
    p.setFont(sub);
    p.setPen(QColor(0x70, 0x70, 0x70));
    p.drawText(QRectF(60, 31, 200, 16), Qt::AlignLeft | Qt::AlignVCenter, "USB MCU Programmer");
    return pix;
}

QPixmap TForm1::TickPicture() {
    QPixmap pix(33, 18);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(0x00, 0xA0, 0x00), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    QPainterPath path;
    path.moveTo(9, 9);
    path.lineTo(15, 15);
    path.lineTo(26, 3);
    p.drawPath(path);
    return pix;
}

QPixmap TForm1::CrossPicture() {
    QPixmap pix(16, 16);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xE0, 0x00, 0x00), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 3), QPointF(13, 13));
    p.drawLine(QPointF(13, 3), QPointF(3, 13));
    return pix;
}

}  // namespace qrv
