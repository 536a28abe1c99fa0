// The main window's service controls on the simulated programmer: the
// read-backs fill Memo2 with the bar moving, and "save" writes the lines.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <QPushButton>
#include <set>

#include "common/atomic_file.h"
#include "tests/support/qt_window.h"

namespace qrv {
namespace {

using test::PumpUntil;
using ReadBackWindow = test::SimulatedWindowFixture<200>;

TEST_F(ReadBackWindow, ReadBacksFillTheListAndSaveWritesIt) {
    s.FormCreate();
    ASSERT_TRUE(PumpUntil([&] { return form.windowTitle() == " QRV MCU Writer V3.6"; }));
    // What the first service word reveals.
    for (Widget* w : {&s.form.Button8, &s.form.Button9, &s.form.Button10}) w->visible = true;
    s.StoredLength = 0x10000;  // the chip's 100 % mark, as a status announces it
    form.Render();

    form.Button9->click();
    std::set<int> positions;
    ASSERT_TRUE(PumpUntil([&] {
        positions.insert(form.ProgressBar3->value());
        return s.form.Memo2.lines.size() == 4096;
    }));
    EXPECT_EQ(form.ProgressBar3->value(), 100);
    EXPECT_GT(positions.size(), 3u);
    EXPECT_FALSE(s.ChipReadBackActive());  // it reached the stored length

    s.StoredLength = 0;
    form.Button10->click();
    EXPECT_FALSE(form.Button10->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return form.Button10->isEnabled(); }));
    EXPECT_EQ(s.form.Memo2.lines.size(), 1u);  // the end address 0 asks once

    const std::string path = testing::TempDir() + "qrv-window-save.hex";
    ui.saveAnswers = {path};
    form.Button8->click();
    std::string text;
    ASSERT_TRUE(ReadWholeFile(path, &text, nullptr));
    EXPECT_EQ(text, JoinCrLf(s.form.Memo2.lines));
}

}  // namespace
}  // namespace qrv
