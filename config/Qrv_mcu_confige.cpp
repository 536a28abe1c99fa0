#include "config/Qrv_mcu_confige.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <algorithm>

#include "config/file_view_model.h"
#include "qtview/gui_interaction.h"
#include "qtview/qtview.h"

namespace qrv {

namespace {

using view::Place;
using view::Q;
using view::RenderBox;
using view::RenderCombo;
using view::ToQColor;

QLabel* Caption(QWidget* parent, const char* text, int left, int top, int width, int height = 24) {
    auto* l = Place<QLabel>(parent, "", left, top, width, height);
    l->setText(QString::fromUtf8(text));
    return l;
}

QLineEdit* ReadOnlyEdit(QWidget* parent, const char* name, int left, int top, int width) {
    auto* e = Place<QLineEdit>(parent, name, left, top, width, 24);
    e->setReadOnly(true);
    return e;
}

// A group box whose title is a coloured panel across its top.
QGroupBox* Group(QWidget* parent, const char* name, QLabel*& panel, const char* panelName, int left,
                 int top, int width, int height) {
    auto* g = Place<QGroupBox>(parent, name, left, top, width, height);
    panel = Place<QLabel>(g, panelName, 2, 2, width - 4, 20);
    panel->setAlignment(Qt::AlignCenter);
    panel->setAutoFillBackground(true);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    return g;
}

void RenderEdit(QLineEdit* edit, const TextBox& t) {
    const QSignalBlocker block(edit);
    const QString text = Q(t.text);
    // The box takes no more than its limit, but shows all of a longer text it
    // holds (the user code after a change of mode): nothing is cut off unseen.
    const int limit =
        t.maxLength > 0 ? std::max<int>(t.maxLength, static_cast<int>(text.size())) : 32767;
    if (edit->maxLength() != limit) edit->setMaxLength(limit);
    if (edit->text() != text) edit->setText(text);
    edit->setEnabled(t.enabled);
    edit->setVisible(t.visible);
}

void RenderButton(QPushButton* button, const Button& b) {
    const QSignalBlocker block(button);
    if (!b.caption.empty()) button->setText(Q(b.caption));
    button->setEnabled(b.enabled);
    button->setVisible(b.visible);
}

void RenderPanel(QWidget* panel, const Panel& p) {
    if (p.color == 0) return;  // not coloured yet: the style's own colour
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, ToQColor(p.color));
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
}

}  // namespace

TForm2::TForm2(QWidget* parent, Interaction* interaction) : QDialog(parent) {
    setObjectName("TForm2");
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(649, 623);
    if (!interaction) {
        ownInteraction_ =
            std::make_unique<GuiInteraction>(this, GuiInteraction::Title::ParentWindow);
        interaction = ownInteraction_.get();
    }
    session_ = std::make_unique<ConfigSession>(*interaction);
    Build();
    Connect();
    session_->FormCreate();
    Render();
}

TForm2::~TForm2() = default;

void TForm2::Build() {
    QFont formFont = font();
    formFont.setPixelSize(12);
    setFont(formFont);

    // Model, ROM size, voltage, merge.
    Caption(this, "器件型号", 8, 8, 56);
    ComboBox4 = Place<QComboBox>(this, "ComboBox4", 64, 8, 96, 24);
    ComboBox4->setMaxVisibleItems(20);
    Caption(this, "ROM大小", 168, 8, 56);
    Edit2 = ReadOnlyEdit(this, "Edit2", 226, 8, 46);
    Caption(this, "芯片电压", 284, 8, 56);
    ComboBox3 = Place<QComboBox>(this, "ComboBox3", 340, 8, 60, 24);
    CheckBox20 = Place<QCheckBox>(this, "CheckBox20", 412, 8, 70, 24);

    // Source file, merge file.
    BitBtn1 = Place<QPushButton>(this, "BitBtn1", 8, 40, 30, 26);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    Edit3 = ReadOnlyEdit(this, "Edit3", 42, 41, 234);
    Button5 = Place<QPushButton>(this, "Button5", 284, 40, 76, 26);
    Edit11 = ReadOnlyEdit(this, "Edit11", 364, 41, 277);

    // File information.
    GroupBox2 = Group(this, "GroupBox2", Panel2, "Panel2", 8, 74, 268, 92);
    Caption(GroupBox2, "起始地址", 6, 30, 56);
    Edit4 = ReadOnlyEdit(GroupBox2, "Edit4", 62, 30, 62);
    Caption(GroupBox2, "终止地址", 134, 30, 56);
    Edit5 = ReadOnlyEdit(GroupBox2, "Edit5", 190, 30, 70);
    Caption(GroupBox2, "校验和", 6, 60, 56);
    Edit6 = ReadOnlyEdit(GroupBox2, "Edit6", 62, 60, 62);
    Caption(GroupBox2, "芯片电压", 134, 60, 56);
    Edit7 = ReadOnlyEdit(GroupBox2, "Edit7", 190, 60, 70);

    BuildOptionGroups();

    Button2 = Place<QPushButton>(this, "Button2", 8, 560, 268, 36);
    Button3 = Place<QPushButton>(this, "Button3", 8, 600, 60, 20);
    Button4 = Place<QPushButton>(this, "Button4", 72, 600, 60, 20);
    for (QPushButton* b : {BitBtn1, Button2, Button3, Button4, Button5}) {
        b->setAutoDefault(false);  // Enter in the code box presses no button
        b->setDefault(false);
    }

    BuildFileView();
}

// The user options, the user info code and the steps of the automatic run.
void TForm2::BuildOptionGroups() {
    // User options.
    GroupBox1 = Group(this, "GroupBox1", Panel1, "Panel1", 8, 172, 268, 212);
    const int left = 8, right = 136, w = 124;
    auto row = [](int r) { return 27 + 25 * r; };
    CheckBox1 = Place<QCheckBox>(GroupBox1, "CheckBox1", left, row(0), w, 22);
    CheckBox2 = Place<QCheckBox>(GroupBox1, "CheckBox2", right, row(0), w, 22);
    CheckBox3 = Place<QCheckBox>(GroupBox1, "CheckBox3", left, row(1), w, 22);
    ComboBox1 = Place<QComboBox>(GroupBox1, "ComboBox1", right, row(1), w, 22);
    CheckBox4 = Place<QCheckBox>(GroupBox1, "CheckBox4", left, row(2), w, 22);
    ComboBox2 = Place<QComboBox>(GroupBox1, "ComboBox2", right, row(2), w, 22);
    CheckBox13 = Place<QCheckBox>(GroupBox1, "CheckBox13", left, row(3), w, 22);
    CheckBox14 = Place<QCheckBox>(GroupBox1, "CheckBox14", right, row(3), w, 22);
    CheckBox15 = Place<QCheckBox>(GroupBox1, "CheckBox15", left, row(4), w, 22);
    CheckBox16 = Place<QCheckBox>(GroupBox1, "CheckBox16", right, row(4), w, 22);
    CheckBox11 = Place<QCheckBox>(GroupBox1, "CheckBox11", left, row(5), w, 22);
    CheckBox17 = Place<QCheckBox>(GroupBox1, "CheckBox17", right, row(5), w, 22);
    CheckBox12 = Place<QCheckBox>(GroupBox1, "CheckBox12", left, row(6), w, 22);

    // User info code.
    GroupBox3 = Group(this, "GroupBox3", Panel3, "Panel3", 8, 390, 268, 84);
    Caption(GroupBox3, "用户信息代码", 8, 28, 84);
    Edit1 = Place<QLineEdit>(GroupBox3, "Edit1", 94, 28, 166, 24);
    CheckBox10 = Place<QCheckBox>(GroupBox3, "CheckBox10", left, 56, w, 22);
    CheckBox19 = Place<QCheckBox>(GroupBox3, "CheckBox19", right, 56, w, 22);

    // Steps of the automatic run.
    Panel4 = Place<QFrame>(this, "Panel4", 8, 480, 268, 72);
    Panel4->setFrameShape(QFrame::Panel);
    Panel4->setFrameShadow(QFrame::Raised);
    Caption(Panel4, "自动编程设定", 8, 2, 120, 20);
    CheckBox5 = Place<QCheckBox>(Panel4, "CheckBox5", left, 22, w, 22);
    CheckBox6 = Place<QCheckBox>(Panel4, "CheckBox6", right, 22, w, 22);
    CheckBox7 = Place<QCheckBox>(Panel4, "CheckBox7", left, 46, w, 22);
    CheckBox8 = Place<QCheckBox>(Panel4, "CheckBox8", right, 46, w, 22);
}

void TForm2::BuildFileView() {
    // The file view.
    Caption(this, "文件视窗", 284, 72, 100, 20);
    StringGrid1 = Place<QTableView>(this, "StringGrid1", 284, 94, 357, 521);
    gridModel_ = new FileViewTableModel(session_->form.StringGrid1, StringGrid1);
    StringGrid1->setModel(gridModel_);
    QFont gridFont = StringGrid1->font();
    gridFont.setPixelSize(11);
    StringGrid1->setFont(gridFont);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setTextElideMode(Qt::ElideNone);
    StringGrid1->setWordWrap(false);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    for (QHeaderView* h : {StringGrid1->horizontalHeader(), StringGrid1->verticalHeader()}) {
        h->setFont(gridFont);
        h->setMinimumSectionSize(8);
        h->setDefaultSectionSize(19);
        h->setSectionResizeMode(QHeaderView::Fixed);
        h->setHighlightSections(false);
    }
    StringGrid1->horizontalHeader()->setFixedHeight(19);
    StringGrid1->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
}

void TForm2::Connect() {
    ConfigWindowModel& f = session_->form;
    const std::pair<QCheckBox*, Toggle*> boxes[] = {
        {CheckBox1, &f.CheckBox1},   {CheckBox2, &f.CheckBox2},   {CheckBox3, &f.CheckBox3},
        {CheckBox4, &f.CheckBox4},   {CheckBox5, &f.CheckBox5},   {CheckBox6, &f.CheckBox6},
        {CheckBox7, &f.CheckBox7},   {CheckBox8, &f.CheckBox8},   {CheckBox10, &f.CheckBox10},
        {CheckBox11, &f.CheckBox11}, {CheckBox12, &f.CheckBox12}, {CheckBox13, &f.CheckBox13},
        {CheckBox14, &f.CheckBox14}, {CheckBox15, &f.CheckBox15}, {CheckBox16, &f.CheckBox16},
        {CheckBox17, &f.CheckBox17}, {CheckBox19, &f.CheckBox19}, {CheckBox20, &f.CheckBox20}};
    for (const auto& [widget, toggle] : boxes) {
        connect(widget, &QCheckBox::clicked, this, [this, t = toggle] {
            t->Click();
            Render();
        });
    }
    const std::pair<QComboBox*, void (ConfigSession::*)(int)> lists[] = {
        {ComboBox1, &ConfigSession::ComboBox1Click},
        {ComboBox2, &ConfigSession::ComboBox2Click},
        {ComboBox3, &ConfigSession::ComboBox3Click},
        {ComboBox4, &ConfigSession::ComboBox4Click}};
    for (const auto& [widget, rule] : lists) {
        connect(widget, &QComboBox::activated, this, [this, r = rule](int i) {
            ((*session_).*r)(i);
            Render();
        });
    }
    connect(Edit1, &QLineEdit::textEdited, this,
            [this](const QString& text) { session_->Edit1Change(text.toStdString()); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        session_->BitBtn1Click();
        Render();
    });
    connect(Button2, &QPushButton::clicked, this, [this] {
        session_->Button2Click();
        Render();
    });
    connect(Button5, &QPushButton::clicked, this, [this] {
        session_->Button5Click();
        Render();
    });
}

void TForm2::Render() {
    const ConfigWindowModel& f = session_->form;
    setWindowTitle(Q(f.caption));
    RenderPanel(this, Panel{{}, {}, f.color});
    RenderPanel(Panel1, f.Panel1);
    RenderPanel(Panel2, f.Panel2);
    RenderPanel(Panel3, f.Panel3);
    Panel1->setText(Q(f.Panel1.caption));
    Panel2->setText(Q(f.Panel2.caption));
    Panel3->setText(Q(f.Panel3.caption));

    RenderCombo(ComboBox1, f.ComboBox1);
    RenderCombo(ComboBox2, f.ComboBox2);
    RenderCombo(ComboBox3, f.ComboBox3);
    RenderCombo(ComboBox4, f.ComboBox4);
    const std::pair<QLineEdit*, const TextBox*> edits[] = {
        {Edit1, &f.Edit1}, {Edit2, &f.Edit2}, {Edit3, &f.Edit3}, {Edit4, &f.Edit4},
        {Edit5, &f.Edit5}, {Edit6, &f.Edit6}, {Edit7, &f.Edit7}, {Edit11, &f.Edit11}};
    for (const auto& [widget, model] : edits) RenderEdit(widget, *model);
    const std::pair<QCheckBox*, const Toggle*> boxes[] = {
        {CheckBox1, &f.CheckBox1},   {CheckBox2, &f.CheckBox2},   {CheckBox3, &f.CheckBox3},
        {CheckBox4, &f.CheckBox4},   {CheckBox5, &f.CheckBox5},   {CheckBox6, &f.CheckBox6},
        {CheckBox7, &f.CheckBox7},   {CheckBox8, &f.CheckBox8},   {CheckBox10, &f.CheckBox10},
        {CheckBox11, &f.CheckBox11}, {CheckBox12, &f.CheckBox12}, {CheckBox13, &f.CheckBox13},
        {CheckBox14, &f.CheckBox14}, {CheckBox15, &f.CheckBox15}, {CheckBox16, &f.CheckBox16},
        {CheckBox17, &f.CheckBox17}, {CheckBox19, &f.CheckBox19}, {CheckBox20, &f.CheckBox20}};
    for (const auto& [widget, model] : boxes) RenderBox(widget, *model);
    RenderButton(BitBtn1, f.BitBtn1);
    RenderButton(Button2, f.Button2);
    RenderButton(Button3, f.Button3);
    RenderButton(Button4, f.Button4);
    RenderButton(Button5, f.Button5);

    gridModel_->Refresh();
    StringGrid1->verticalHeader()->setFixedWidth(f.StringGrid1.addressColumnWidth);
}

void TForm2::done(int result) {
    if (!closing_) {
        closing_ = true;
        session_->FormClose();
        Render();
        QDialog::done(result);
        closing_ = false;
        return;
    }
    QDialog::done(result);
}

// A window hidden by code rather than closed is closed all the same: the reset
// runs and finished is emitted, so the main window knows it is gone.
void TForm2::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (event->spontaneous() || closing_) return;
    closing_ = true;
    session_->FormClose();
    Render();
    closing_ = false;
    emit finished(result());
}

// The window stays open on Escape, as a tool window does; only closing it resets it.
void TForm2::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace qrv
