// "导入文件" in the main window on Qt's offscreen platform, against the
// simulated programmer: the download bar moves and the checksum is shown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "common/hex.h"
#include "mainwin/Qrv_mcu_pc.h"
#include "sim/sim_seam.h"
#include "tests/support/hex_lines.h"
#include "tests/support/qt_window.h"
#include "tests/support/scripted.h"
#include "tests/support/temp_file.h"

namespace qrv {
namespace {

std::string WriteImage(const std::string& name, int end = 0x1000) {
    std::vector<std::string> lines;
    for (int a = 0; a < end; a += 16) {
        std::vector<uint8_t> data;
        for (int i = 0; i < 16; ++i) data.push_back(static_cast<uint8_t>(a + 3 * i));
        lines.push_back(test::DataRecord(a, data));
    }
    lines.push_back(":00000001FF");
    return test::WriteTempFile(name, lines);
}

struct ImportWindow : test::SimulatedWindowFixture<200> {
    // Waits for the connection's status reply (it sets the version caption),
    // however busy the machine: a late one would otherwise stand in for the
    // checksum of the download.
    void AwaitStatus() {
        ASSERT_TRUE(test::PumpUntil([this] {
            return s.form.caption.rfind(" QRV MCU Writer", 0) == 0;
        })) << s.form.caption;
    }
};

TEST_F(ImportWindow, ImportButtonDownloadsWithTheBarMovingAndShowsTheChecksum) {
    s.FormCreate();
    auto* bar = form.findChild<QProgressBar*>("ProgressBar5");
    auto* fileBox = form.findChild<QLineEdit*>("Edit1");
    auto* checksum = form.findChild<QLineEdit*>("Edit3");
    auto* button = form.findChild<QPushButton*>("BitBtn1");
    ASSERT_TRUE(bar && fileBox && checksum && button);
    AwaitStatus();
    // The status reply showed the stored checksum; the download shows it anew.
    s.form.Edit3.text.clear();
    checksum->setText({});

    const std::string path = WriteImage("window.hex");
    ui.openAnswers.push_back(path);
    button->click();
    EXPECT_EQ(fileBox->text().toStdString(), path);
    // Every change of the model is rendered: the bar is looked at after each.
    std::set<int> positions;
    const auto render = s.Changed;
    s.Changed = [&] {
        render();
        if (bar->isVisibleTo(&form)) positions.insert(bar->value());
    };
    for (int i = 0; i < 50000 && checksum->text().isEmpty(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    s.Changed = render;
    ASSERT_FALSE(checksum->text().isEmpty());
    EXPECT_EQ(checksum->text().toStdString(), H4(seam.Device().StoredChecksum()) + "H");
    // The bar moved through the download and gave its place back to the file box.
    EXPECT_GE(
        std::count_if(positions.begin(), positions.end(), [](int p) { return p > 0 && p < 100; }),
        3);
    EXPECT_FALSE(bar->isVisibleTo(&form));
    EXPECT_TRUE(fileBox->isVisibleTo(&form));
    EXPECT_TRUE(button->isEnabled());
}

QString Joined(const std::vector<std::string>& lines) {
    QStringList list;
    for (const std::string& line : lines) list << QString::fromStdString(line);
    return list.join('\n');
}

TEST_F(ImportWindow, MemosShowTheFileAndTheTraceOfEachImport) {
    s.FormCreate();
    auto* memo1 = form.findChild<QPlainTextEdit*>("Memo1");
    auto* memo2 = form.findChild<QPlainTextEdit*>("Memo2");
    auto* checksum = form.findChild<QLineEdit*>("Edit3");
    ASSERT_TRUE(memo1 && memo2 && checksum);
    AwaitStatus();
    for (int end : {0x1000, 0x300}) {
        s.form.Edit3.text.clear();
        checksum->setText({});
        ui.openAnswers.push_back(WriteImage("memo.hex", end));
        form.findChild<QPushButton*>("BitBtn1")->click();
        // The loader keeps the file; the hidden Memo1 holds no copy of it.
        EXPECT_EQ(memo1->toPlainText(), Joined(s.form.Memo1.lines));
        EXPECT_TRUE(s.form.Memo1.lines.empty());
        EXPECT_EQ(s.loader.Image().LineCount(), end / 16 + 1);
        for (int i = 0; i < 50000 && checksum->text().isEmpty(); ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_FALSE(checksum->text().isEmpty());
        // One trace line per block, each added as its block went out.
        EXPECT_EQ(s.form.Memo2.lines.size(), static_cast<std::size_t>((end + 58) / 59));
        EXPECT_EQ(memo2->toPlainText(), Joined(s.form.Memo2.lines));
        // The status read after the download comes before the next import.
        ASSERT_TRUE(test::PumpUntil([&] { return s.StoredLength == end && !s.TransferActive(); }));
    }
}

}  // namespace
}  // namespace qrv
