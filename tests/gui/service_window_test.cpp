// The user option chooser, the calibration list and dialog, and the space bar,
// in the main window on Qt's offscreen platform against the simulated
// programmer: what the programmer records is what the windows showed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>

#include "calibration/Qrv_mcu_oscadj.h"
#include "chooser/Qrv_mcu_option.h"
#include "tests/support/qt_window.h"

namespace qrv {
namespace {

using test::PumpUntil;
using ServiceWindow = test::SimulatedWindowFixture<0>;

std::vector<sim::RecordedCommand> Recorded(sim::SimSeam& seam, uint8_t code) {
    return seam.WithDevice([code](sim::SimProgrammer& d) { return d.RecordedOf(code); });
}

void Type(QLineEdit* edit, const char* text) {
    edit->selectAll();
    edit->insert(QString::fromUtf8(text));  // as typed: textEdited
}

TEST_F(ServiceWindow, APlainDownloadAsksForTheOptionsAndClosingSendsThem) {
    TForm3 form3(&form);
    form.SetOptionChooser(&form3);
    s.FormCreate();
    ASSERT_TRUE(PumpUntil([&] { return s.form.caption == " QRV MCU Writer V3.6"; }));
    form.move(100, 60);

    // A plain image whose option bytes at 0x0100 are A6 02 55 55.
    const std::string path = ::testing::TempDir() + "chooser.hex";
    std::ofstream(path) << ":1000000000112233445566778899AABBCCDDEEFFF8\r\n"
                           ":04010000A6025555A9\r\n:00000001FF\r\n";
    ui.openAnswers.push_back(path);

    QPoint shownAt;
    bool groupDisabled = false;
    QTimer user;
    user.setInterval(5);
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (!form3.isVisible()) return;
        user.stop();
        shownAt = form3.pos();
        groupDisabled = !form3.GroupBox1->isEnabled();
        emit form3.ComboBox3->activated(15);  // QM-084, profile R5
        form3.CheckBox1->click();
        form3.CheckBox11->click();
        form3.close();
    });
    user.start();
    form.BitBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return !Recorded(seam, CMD_SET_OPTION).empty(); }));

    const QRect main = form.frameGeometry();
    EXPECT_EQ(shownAt.x(), main.x() + main.width() / 2);
    EXPECT_TRUE(groupDisabled);
    EXPECT_TRUE(form3.GroupBox1->isEnabled());
    // The preset 0x2B200, then the model (bit 10 set, bits 14, 15, 17 cleared),
    // read protection and 5 V.
    EXPECT_EQ(Recorded(seam, CMD_SET_OPTION).back().argument, 0x13601u);
    EXPECT_TRUE(form3.CheckBox5->isChecked());
    EXPECT_EQ(form3.ComboBox1->currentText().toStdString(), "All Hard Lock");
}

TEST_F(ServiceWindow, CalibrationListAndDialogSendTheirReports) {
    TForm5 form5(&form, &ui);
    form.SetCalibrationDialog(&form5);
    s.FormCreate();
    ASSERT_TRUE(PumpUntil([&] { return s.form.caption == " QRV MCU Writer V3.6"; }));
    form.move(100, 60);
    Type(form.Edit1, "OscTrim");
    emit form.Edit1->returnPressed();
    ASSERT_TRUE(form.ComboBox2->isVisibleTo(&form));

    for (int item : {0, 1, 3}) emit form.ComboBox2->activated(item);
    emit form.ComboBox2->activated(2);
    ASSERT_TRUE(form5.isVisible());
    EXPECT_EQ(form5.x(), form.frameGeometry().x() + form.frameGeometry().width() / 2);
    Type(form5.Edit1, "16000");
    form5.Button2->click();
    // The programmer checks the bounds and trim start that belong to 16000 kHz.
    ASSERT_TRUE(PumpUntil([&] { return Recorded(seam, CMD_OSC_CALIBRATE).size() == 4; }));
    std::vector<uint32_t> arguments;
    for (const auto& r : Recorded(seam, CMD_OSC_CALIBRATE)) arguments.push_back(r.argument);
    EXPECT_EQ(arguments, (std::vector<uint32_t>{8, 32, 170, 0x23}));
    EXPECT_TRUE(seam.ProtocolErrors().empty());
    form5.close();
}

TEST_F(ServiceWindow, SpaceRunsOnceWhereverTheFocusIsButInTheFileBox) {
    std::vector<uint8_t> sent;
    s.Trace = [&](const uint8_t* report, bool out) {
        if (out) sent.push_back(report[3]);
    };
    s.FormCreate();
    ASSERT_TRUE(PumpUntil([&] { return s.form.caption == " QRV MCU Writer V3.6"; }));
    auto key = [](QWidget* w, QEvent::Type type, bool repeat) {
        QKeyEvent e(type, Qt::Key_Space, Qt::NoModifier, " ", repeat);
        QApplication::sendEvent(w, &e);
    };
    // On a step button a space is no click of it: the automatic run starts.
    form.Button3->setFocus();
    key(form.Button3, QEvent::KeyPress, false);
    key(form.Button3, QEvent::KeyPress, true);
    key(form.Button3, QEvent::KeyRelease, false);
    EXPECT_EQ(form.Panel1->text().toStdString(), "编程开始");
    ASSERT_TRUE(PumpUntil([&] { return form.Edit4->text() == "1"; }));
    key(form.Edit1, QEvent::KeyPress, false);
    EXPECT_EQ(form.Edit1->text(), " ");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), CMD_AUTO_PROGRAM), 1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), CMD_BLANK_CHECK), 0);
}

}  // namespace
}  // namespace qrv
