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
    EXPECT_EQ(s.form.Panel1.color, 0xF0F0F0u);
    EXPECT_EQ(s.form.Panel1.caption, "等待编程");
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
    s.Link().CloseReadSide();
}

sim::SimOptions Quick() {
    sim::SimOptions o;
    o.latencyUs = 0;
    return o;
}

// A session on the simulated programmer, started and given its status.
struct Simulated {
    explicit Simulated(sim::SimOptions options = Quick()) : seam(options) {}
    sim::SimSeam seam;
    test::ScriptedInteraction ui;
    InstantClock clock;
    MainSession s{seam, ui, clock};

    void Start() {
        s.FormCreate();
        test::Pump(s);
    }
    // The operator ticks every step and starts the automatic run.
    void RunAllSteps() {
        for (int n = 1; n <= 4; ++n) s.form.StepBox(n).SetChecked(true);
        s.Button2Click();
        test::Pump(s);
    }
    bool Shown(int image) { return s.form.Image(image).visible; }
};

struct EndToEnd : ::testing::Test, Simulated {};

TEST_F(EndToEnd, TheStatusOfTheSimulatedProgrammerFillsTheWindow) {
    s.FormCreate();
    EXPECT_EQ(test::Pump(s), 1);
    EXPECT_EQ(s.form.caption, " QRV MCU Writer V3.6");
    EXPECT_TRUE(s.form.CheckBox3.Checked());
    EXPECT_EQ(s.StepFlags & kStepFlagProgram, kStepFlagProgram);
    EXPECT_TRUE(s.form.Button7.enabled);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(EndToEnd, AnAutomaticRunPassesEveryStep) {
    Start();
    RunAllSteps();
    EXPECT_EQ(s.form.Panel1.caption, "编程成功");
    EXPECT_EQ(s.form.Panel1.color, 0x008000u);
    EXPECT_EQ(s.form.Edit4.text, "1");
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(s.form.Bar(n).position, 100) << n;
    for (int n = 2; n <= 5; ++n) EXPECT_TRUE(Shown(n)) << n;
    for (int n = 6; n <= 9; ++n) EXPECT_FALSE(Shown(n)) << n;
    // The counter is the programmer's: a second run shows 2.
    RunAllSteps();
    EXPECT_EQ(s.form.Edit4.text, "2");
    EXPECT_TRUE(seam.WithDevice([](sim::SimProgrammer& d) { return d.ProtocolErrors().empty(); }));
}

TEST(EndToEndOptions, AFailingVerifyShowsItsMarkAndTheFailure) {
    sim::SimOptions o = Quick();
    o.failStep = sim::ChipStep::Verify;
    Simulated run(o);
    run.Start();
    run.RunAllSteps();
    EXPECT_EQ(run.s.form.Panel1.caption, "编程失败");
    EXPECT_EQ(run.s.form.Panel1.color, 0x0000FFu);
    EXPECT_EQ(run.s.form.Edit5.text, "1");
    EXPECT_EQ(run.s.form.Edit4.text, "0");
    EXPECT_TRUE(run.Shown(4));  // program passed
    EXPECT_TRUE(run.Shown(9));  // verify failed
    EXPECT_FALSE(run.Shown(5));
    EXPECT_EQ(run.s.form.ProgressBar4.position, 100);
}

TEST(EndToEndOptions, NoChipShowsTheMessageAndEndsTheRunUnfinished) {
    sim::SimOptions o = Quick();
    o.noChip = true;
    Simulated run(o);
    run.Start();
    run.RunAllSteps();
    EXPECT_EQ(run.ui.messages, std::vector<std::string>{"没有检测到芯片，请放入芯片!"});
    EXPECT_EQ(run.s.form.Panel1.caption, "编程未完成");
    EXPECT_EQ(run.s.form.Panel1.color, colors::clRed);
    EXPECT_FALSE(run.s.CurrentRun());
    for (int n = 2; n <= 9; ++n) EXPECT_FALSE(run.Shown(n)) << n;
    EXPECT_EQ(run.s.form.Edit5.text, "0");
}

TEST_F(EndToEnd, SingleStepsShowTheirRows) {
    Start();
    s.Button4Click();
    test::Pump(s);
    EXPECT_TRUE(Shown(3));
    EXPECT_EQ(s.form.ProgressBar2.position, 100);
    s.Button3Click();
    test::Pump(s);
    EXPECT_TRUE(Shown(2));
    EXPECT_FALSE(Shown(3));  // a blank check clears the rows below it
    s.Button13Click();
    test::Pump(s);
    EXPECT_EQ(s.form.Edit3.text.size(), 6u);
    EXPECT_EQ(s.form.Edit3.text.substr(4), " H");
    s.Button12Click();
    test::Pump(s);
    EXPECT_EQ(s.form.Edit1.text, "擦除整片FLASH成功!");
}

TEST(EndToEndOptions, AnOldFirmwareIsOfferedTheUpdate) {
    sim::SimOptions o = Quick();
    o.oldFirmware = true;
    Simulated run(o);
    run.Start();
    EXPECT_TRUE(run.s.form.Button16.visible);
    EXPECT_EQ(run.ui.messages.size(), 1u);
    EXPECT_EQ(run.s.form.caption, "QRV Writer V2.6 QRV Writer connected");
}

TEST(EndToEndOptions, ResendRequestsRepeatTheCommandAndTheRunCompletes) {
    sim::SimOptions o = Quick();
    o.resendEvery = 2;
    Simulated run(o);
    run.Start();
    run.RunAllSteps();
    EXPECT_EQ(run.s.form.Panel1.caption, "编程成功");
    EXPECT_GT(run.seam.WithDevice([](sim::SimProgrammer& d) { return d.ResendRequests(); }), 0);
}

}  // namespace
}  // namespace qrv
