// The programming operations: the step boxes and StepFlags, the single steps,
// the automatic run, read checksum, erase storage, start-up state and the
// configuration window toggle.
#include <gtest/gtest.h>

#include "common/atomic_file.h"
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
    Reply(test::MakeReply(RPL_ERASE, {{6, 1}}));
    s.Button5Click();
    Reply(test::MakeReply(RPL_PROGRAM, {{6, 1}}));
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
    s.form.CheckBox3.Click();
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

TEST_F(Operations, ASecondStartWhileARunIsInProgressIsIgnored) {
    Connect();
    s.form.CheckBox3.Click();
    EXPECT_EQ(s.Button2Click(), RunStart::Started);
    // Neither the button, the space bar nor a step starts a second chip.
    EXPECT_EQ(s.Button2Click(), RunStart::Busy);
    s.FormKeyDown(kKeySpace);
    EXPECT_EQ(s.RunSingleStep(3), RunStart::Busy);
    EXPECT_EQ(Written().size(), 1u);
    Reply(test::MakeReply(RPL_AUTO_RESULT, {{8, 1}}));
    // The result came: the next chip may start, its option results or not.
    EXPECT_EQ(s.Button2Click(), RunStart::Started);
    EXPECT_EQ(Written().size(), 2u);
    EXPECT_EQ(s.form.Panel1.caption, "编程开始");
}

TEST_F(Operations, RunsThatCannotStartSendNothingAndSaySo) {
    // No programmer: the run ends at once.
    FillDisplay();
    EXPECT_EQ(s.Button2Click(), RunStart::NotConnected);
    EXPECT_EQ(s.form.Panel1.caption, "编程未完成");
    EXPECT_EQ(s.form.Panel1.color, colors::clRed);
    // No step selected.
    Connect();
    EXPECT_EQ(s.Button2Click(), RunStart::NoSteps);
    EXPECT_EQ(ui.messages.back(), "请选择编程步骤!");
    // A download that did not complete: the store is not what the window shows.
    s.form.CheckBox3.Click();
    const std::string path = ::testing::TempDir() + "ops-plain.hex";
    ASSERT_TRUE(WriteFileAtomically(path, ":0400000001020304F2\r\n", nullptr));
    ASSERT_EQ(s.ImportFile(path), ImportResult::Requested);
    Reply(test::MakeReply(RPL_DOWNLOAD_ERROR, {{6, 1}}));
    EXPECT_EQ(s.form.RichEdit1.fontColor, colors::clRed);
    const std::size_t sent = Written().size();
    s.form.CheckBox3.SetChecked(true);
    EXPECT_EQ(s.Button2Click(), RunStart::DownloadIncomplete);
    EXPECT_EQ(s.RunSingleStep(2), RunStart::DownloadIncomplete);
    EXPECT_EQ(ui.messages.back(), "下载中断，请重新下载文件!");
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{"下载中断，请重新下载文件!"});
    EXPECT_EQ(Written().size(), sent);
    EXPECT_EQ(s.form.Edit4.text, "0");
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
