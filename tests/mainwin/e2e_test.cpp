// The session end to end: its reader thread, the simulated programmer, and the
// replies handed over through the reply channel.
#include <gtest/gtest.h>

#include "sim/sim_seam.h"
#include "tests/mainwin/session_fixture.h"

namespace qrv {
namespace {

using Operations = test::SessionTest;

TEST_F(Operations, FormCreateSetsColoursHidesMarksAndConnects) {
    s.FormCreate();
    EXPECT_EQ(s.form.color, 0xF0F0F0u);
    EXPECT_EQ(s.form.Edit4Color, 0x17A773u);
    EXPECT_EQ(s.form.Edit5Color, 0x3042C9u);
    EXPECT_EQ(s.form.Panel1.color, 0x17A773u);
    EXPECT_EQ(s.form.Panel1.caption, "编程成功");
    EXPECT_EQ(s.form.Edit4.text, "0");
    EXPECT_EQ(s.form.Edit5.text, "0");
    for (int n = 2; n <= 9; ++n) EXPECT_FALSE(s.form.Image(n).visible) << n;
    EXPECT_FALSE(s.form.CheckBox5.visible);
    EXPECT_FALSE(s.form.Button12.visible);
    EXPECT_FALSE(s.form.Button16.visible);
    EXPECT_EQ(s.buffer.UpdateMode(), 0);
    EXPECT_EQ(s.EepromType, 1);
    EXPECT_EQ(s.form.caption, "QRV Writer V2.6 QRV Writer connected");
    EXPECT_EQ(Written().size(), 1u);  // CMD_STATUS
    EXPECT_TRUE(s.Link().Registered());
    s.Link().CloseReadSide();
}

struct EndToEnd : ::testing::Test {
    sim::SimSeam seam{sim::SimOptions{0}};
    test::ScriptedInteraction ui;
    InstantClock clock;
    MainSession s{seam, ui, clock};
};

TEST_F(EndToEnd, TheStatusOfTheSimulatedProgrammerFillsTheWindow) {
    s.FormCreate();
    EXPECT_EQ(test::Pump(s), 1);
    EXPECT_EQ(s.form.caption, " QRV MCU Writer V3.6");
    EXPECT_TRUE(s.form.CheckBox3.Checked());
    EXPECT_EQ(s.StepFlags & kStepProgram, kStepProgram);
    EXPECT_TRUE(s.form.Button7.enabled);
    EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace qrv
