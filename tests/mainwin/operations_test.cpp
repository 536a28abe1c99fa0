// The programming operations: the step boxes and StepFlags, the single steps,
// the automatic run, read checksum, erase storage, start-up state and the
// configuration window toggle.
#include <gtest/gtest.h>

#include "tests/mainwin/session_fixture.h"

namespace qrv {
namespace {

struct Operations : test::SessionTest {
    void FillDisplay() {
        for (int n = 2; n <= 9; ++n) s.form.Image(n).visible = true;
        for (int n = 1; n <= 5; ++n) s.form.Bar(n).position = 60;
    }
};

TEST_F(Operations, AllFourBoxesSelect0x17AndTheRunCarriesIt) {
    Connect();
    for (int n = 1; n <= 4; ++n) s.form.StepBox(n).Click();
    EXPECT_EQ(s.StepFlags, 0x17);
    s.Button2Click();
    ASSERT_EQ(Written().size(), 1u);
    EXPECT_EQ(LastWritten()[3], CMD_AUTO_PROGRAM);
    EXPECT_EQ(LastWritten()[8], 0x17);
}

TEST_F(Operations, ProgramIsBit0x10AndBit0x08StaysClear) {
    s.form.CheckBox3.Click();
    EXPECT_EQ(s.StepFlags, 0x10);
    s.form.CheckBox4.Click();
    EXPECT_EQ(s.StepFlags, 0x14);
}

TEST_F(Operations, UncheckingAndCheckingAgainLeavesStepFlagsAsBefore) {
    s.form.CheckBox1.Click();
    s.form.CheckBox2.Click();
    s.form.CheckBox2.Click();
    EXPECT_EQ(s.StepFlags, 0x01);
    s.form.CheckBox2.Click();
    EXPECT_EQ(s.StepFlags, 0x03);
    // Setting the state a box already has runs nothing.
    s.StepFlags = 0;
    s.form.CheckBox2.SetChecked(true);
    EXPECT_EQ(s.StepFlags, 0);
}

TEST_F(Operations, ABlankCheckCarriesTheSelectedSteps) {
    Connect();
    s.form.CheckBox3.Click();
    s.Button3Click();
    EXPECT_EQ(LastWritten()[3], CMD_BLANK_CHECK);
    EXPECT_EQ(LastWritten()[8], 0x10);
}

TEST_F(Operations, EraseProgramAndVerifyCarryZero) {
    Connect();
    for (int n = 1; n <= 4; ++n) s.form.StepBox(n).Click();
    s.Button4Click();
    s.Button5Click();
    s.Button6Click();
    auto w = Written();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0][3], CMD_ERASE);
    EXPECT_EQ(w[1][3], CMD_PROGRAM);
    EXPECT_EQ(w[2][3], CMD_VERIFY);
    for (const Report& r : w) EXPECT_EQ(r[8], 0);
}

TEST_F(Operations, ASingleStepDisablesItsButtonForThePauseThenResetsTheDisplay) {
    Connect();
    FillDisplay();
    std::vector<bool> enabledDuringPause;
    std::size_t writtenDuringPause = 99;
    clock.duringPause = [&] {
        enabledDuringPause.push_back(s.form.Button5.enabled);
        writtenDuringPause = Written().size();
    };
    s.Button5Click();
    EXPECT_EQ(clock.pauses, std::vector<int>{10});
    EXPECT_EQ(enabledDuringPause, std::vector<bool>{false});
    EXPECT_EQ(writtenDuringPause, 0u);  // the command goes after the pause
    EXPECT_TRUE(s.form.Button5.enabled);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(s.form.Bar(n).position, 0) << n;
    EXPECT_EQ(s.form.ProgressBar5.position, 60);
    for (int n = 2; n <= 9; ++n) EXPECT_FALSE(s.form.Image(n).visible) << n;
}

TEST_F(Operations, TheAutomaticRunStartsWithTheTealPanelAndAnEmptyDisplay) {
    Connect();
    FillDisplay();
    bool enabledDuringPause = true;
    clock.duringPause = [&] { enabledDuringPause = s.form.Button2.enabled; };
    s.Button2Click();
    EXPECT_FALSE(enabledDuringPause);
    EXPECT_TRUE(s.form.Button2.enabled);
    EXPECT_EQ(s.form.Panel1.caption, "编程开始");
    EXPECT_EQ(s.form.Panel1.color, 0x808000u);
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(s.form.Bar(n).position, 0) << n;
    for (int n = 2; n <= 9; ++n) EXPECT_FALSE(s.form.Image(n).visible) << n;
}

TEST_F(Operations, PressingTheRunTwiceSendsTwoCommands) {
    Connect();
    s.Button2Click();
    s.form.Panel1.caption = "编程成功";
    s.Button2Click();
    EXPECT_EQ(Written().size(), 2u);
    EXPECT_EQ(s.form.Panel1.caption, "编程开始");
}

TEST_F(Operations, WithoutProgrammerTheDisplayStillChanges) {
    FillDisplay();
    s.Button2Click();
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(s.form.Panel1.caption, "编程开始");
    EXPECT_EQ(s.form.ProgressBar5.position, 0);
}

TEST_F(Operations, ReadChecksumWithoutProgrammerClearsMemoAndStepDisplayOnly) {
    FillDisplay();
    s.form.Memo2.lines = {"line"};
    s.form.Edit3.text = "1234H";
    s.Button13Click();
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(s.form.Memo2.lines.empty());
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(s.form.Bar(n).position, 0) << n;
    EXPECT_EQ(s.form.ProgressBar5.position, 60);
    for (int n = 2; n <= 9; ++n) EXPECT_FALSE(s.form.Image(n).visible) << n;
    EXPECT_EQ(s.form.Edit3.text, "1234H");
    EXPECT_EQ(clock.pauses, std::vector<int>{10});
}

TEST_F(Operations, ReadChecksumAndEraseStorageSendTheirCommands) {
    Connect();
    s.Button13Click();
    s.Button12Click();
    auto w = Written();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0][3], CMD_READ_CHECKSUM);
    EXPECT_EQ(w[1][3], CMD_ERASE_STORAGE);
    EXPECT_EQ(clock.pauses, (std::vector<int>{10, 10}));
}

TEST_F(Operations, ConfigureButtonTogglesTheConfigurationWindow) {
    std::vector<bool> shows;
    s.hooks.ShowConfigWindow = [&](bool show) {
        shows.push_back(show);
        if (!show) s.ConfigWindowClosed();
    };
    s.Button1Click();
    EXPECT_EQ(s.form.ConfigShown, 1);
    s.Button1Click();
    EXPECT_EQ(s.form.ConfigShown, 0);
    s.Button1Click();
    // The operator closes it with its own close box: the next press shows it.
    s.ConfigWindowClosed();
    s.Button1Click();
    EXPECT_EQ(shows, (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(s.form.ConfigShown, 1);
}

TEST_F(Operations, CheckBox5ShowsAndHidesTheOptionChooser) {
    std::vector<bool> shows;
    s.hooks.ShowOptionChooser = [&](bool show) { shows.push_back(show); };
    s.form.CheckBox5.Click();
    s.form.CheckBox5.Click();
    EXPECT_EQ(shows, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace qrv
