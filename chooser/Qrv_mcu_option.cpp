#include "chooser/Qrv_mcu_option.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <utility>

#include "qtview/qtview.h"

namespace qrv {

namespace {

using view::Place;
using view::Q;
using view::RenderBox;
using view::RenderCombo;

}  // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName("TForm3");
    setFixedSize(330, 330);
    // The window's design place; the main window sets its left edge when it shows it.
    move(0, 150);
    Build();
    Connect();
    session_.FormCreate();
    Render();
}

void TForm3::Build() {
    Label1 = Place<QLabel>(this, "Label1", 10, 8, 310, 20);
    Label1->setText(QString::fromUtf8(kChooserHeading));
    Label1->setStyleSheet("color: red;");
    Label2 = Place<QLabel>(this, "Label2", 10, 38, 60, 20);
    Label2->setText("Device");
    ComboBox3 = Place<QComboBox>(this, "ComboBox3", 70, 35, 130, 24);
    ComboBox3->setMaxVisibleItems(20);

    GroupBox1 = Place<QGroupBox>(this, "GroupBox1", 10, 68, 310, 252);
    GroupBox1->setTitle("User option");
    auto box = [this](const char* name, int left, int top, int width) {
        return Place<QCheckBox>(GroupBox1, name, left, top, width, 22);
    };
    // Left: protections, hard lock, data flash, supply. Right: SWD, crystal, WDT, pins.
    CheckBox1 = box("CheckBox1", 12, 24, 140);
    CheckBox2 = box("CheckBox2", 12, 50, 140);
    CheckBox3 = box("CheckBox3", 12, 76, 140);
    ComboBox1 = Place<QComboBox>(GroupBox1, "ComboBox1", 12, 102, 130, 24);
    CheckBox4 = box("CheckBox4", 12, 136, 140);
    ComboBox2 = Place<QComboBox>(GroupBox1, "ComboBox2", 12, 162, 130, 24);
    CheckBox11 = box("CheckBox11", 12, 196, 140);
    CheckBox7 = box("CheckBox7", 160, 24, 145);
    CheckBox8 = box("CheckBox8", 160, 50, 145);
    CheckBox9 = box("CheckBox9", 160, 76, 145);
    CheckBox10 = box("CheckBox10", 160, 102, 145);
    CheckBox5 = box("CheckBox5", 160, 136, 145);
    CheckBox6 = box("CheckBox6", 160, 162, 145);
    CheckBox12 = box("CheckBox12", 160, 188, 145);
}

void TForm3::Connect() {
    ChooserWindowModel& f = session_.form;
    const std::pair<QCheckBox*, Toggle*> boxes[] = {
        {CheckBox1, &f.CheckBox1},   {CheckBox2, &f.CheckBox2},   {CheckBox3, &f.CheckBox3},
        {CheckBox4, &f.CheckBox4},   {CheckBox5, &f.CheckBox5},   {CheckBox6, &f.CheckBox6},
        {CheckBox7, &f.CheckBox7},   {CheckBox8, &f.CheckBox8},   {CheckBox9, &f.CheckBox9},
        {CheckBox10, &f.CheckBox10}, {CheckBox11, &f.CheckBox11}, {CheckBox12, &f.CheckBox12}};
    for (const auto& [widget, toggle] : boxes) {
        connect(widget, &QCheckBox::clicked, this, [this, t = toggle] {
            session_.Click(*t);
            Render();
        });
    }
    const std::pair<QComboBox*, void (ChooserSession::*)(int)> lists[] = {
        {ComboBox1, &ChooserSession::ComboBox1Click},
        {ComboBox2, &ChooserSession::ComboBox2Click},
        {ComboBox3, &ChooserSession::ComboBox3Click}};
    for (const auto& [widget, rule] : lists) {
        connect(widget, &QComboBox::activated, this, [this, r = rule](int i) {
            (session_.*r)(i);
            Render();
        });
    }
}

void TForm3::Render() {
    const ChooserWindowModel& f = session_.form;
    setWindowTitle(Q(f.caption));
    RenderCombo(ComboBox3, f.ComboBox3);
    RenderCombo(ComboBox1, f.ComboBox1);
    RenderCombo(ComboBox2, f.ComboBox2);
    GroupBox1->setEnabled(f.GroupBox1.enabled);
    const std::pair<QCheckBox*, const Toggle*> boxes[] = {
        {CheckBox1, &f.CheckBox1},   {CheckBox2, &f.CheckBox2},   {CheckBox3, &f.CheckBox3},
        {CheckBox4, &f.CheckBox4},   {CheckBox5, &f.CheckBox5},   {CheckBox6, &f.CheckBox6},
        {CheckBox7, &f.CheckBox7},   {CheckBox8, &f.CheckBox8},   {CheckBox9, &f.CheckBox9},
        {CheckBox10, &f.CheckBox10}, {CheckBox11, &f.CheckBox11}, {CheckBox12, &f.CheckBox12}};
    for (const auto& [widget, model] : boxes) RenderBox(widget, *model);
}

void TForm3::done(int result) {
    session_.FormClose();
    QDialog::done(result);
}

}  // namespace qrv
