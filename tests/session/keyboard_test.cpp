// The main window's keyboard entries: the service words typed into the file
// box, and the space bar.
#include <gtest/gtest.h>

#include "tests/mainwin/session_fixture.h"

namespace qrv {
namespace {

// Visibility of: the five service buttons, the mode list, the calibration
// list, the four EEPROM controls, "编程配置".
std::string Shown(const MainWindowModel& f) {
    std::string shown;
    for (const Widget* w : {&f.Button8, &f.Button9, &f.Button10, &f.Button11, &f.Button12})
        shown += w->visible ? 'B' : '.';
    shown += ' ';
    shown += f.ComboBox1.visible ? 'M' : '.';
    shown += f.ComboBox2.visible ? 'C' : '.';
    shown += ' ';
    for (const Widget* w : {&f.Button14, static_cast<const Widget*>(&f.ComboBox3),
                            static_cast<const Widget*>(&f.ComboBox4), &f.Button15})
        shown += w->visible ? 'E' : '.';
    shown += f.CheckBox5.visible ? " P" : " .";
    return shown;
}

using Keyboard = test::SessionTest;

TEST_F(Keyboard, ServiceWordsRevealAndHideAsTabled) {
    struct Case {
        std::vector<std::string> typed;
        const char* shown;
    };
    const Case cases[] = {
        {{"QrvTool"}, "BBBBB .. EEEE ."},
        {{"QrvTool", "abcdefg"}, "..... .. EEEE ."},
        {{"WorkMod", "OscTrim", "qrvtool"}, "..... .. .... ."},
        {{"QrvTool", "WorkMod", "OscTrim", ""}, "..... MC EEEE ."},
        {{"QrvTool", "OscTrim", "a path"}, "..... .C EEEE ."},
        {{"WorkMod", "UserOpt"}, "...B. M. .... ."},
        {{"Chooser", "abcdefg"}, "..... .. .... P"},
        {{"OscTrim", "abc导入"}, "..... .. .... ."},  // seven bytes in the ANSI code page
    };
    for (const Case& c : cases) {
        MainSession session{seam, ui, clock};
        session.FormCreate();
        session.form.Button4.enabled = false;
        for (const std::string& text : c.typed) {
            session.form.Edit1.text = text;
            session.Edit1KeyPress(kKeyEnter);
        }
        EXPECT_EQ(Shown(session.form), c.shown) << c.typed.back();
        EXPECT_EQ(session.form.Edit1.text, c.typed.back());
        EXPECT_EQ(session.form.Button4.enabled, c.typed[0] == "QrvTool");
    }
}

TEST_F(Keyboard, SpaceRunsOncePerPressAndWithoutProgrammerEndsUnfinished) {
    s.form.CheckBox3.Click();
    s.FormKeyDown(kKeySpace);
    EXPECT_EQ(s.form.Panel1.caption, "编程未完成");
    EXPECT_EQ(s.form.Panel1.color, colors::clRed);
    EXPECT_FALSE(s.CurrentRun());

    Connect();
    for (int n = 2; n <= 9; ++n) s.form.Image(n).visible = true;
    for (int n = 1; n <= 5; ++n) s.form.Bar(n).position = 60;
    s.FormKeyDown(kKeySpace);
    s.FormKeyDown(kKeySpace, true);  // held: auto-repeat
    EXPECT_EQ(s.form.Panel1.caption, "编程开始");
    EXPECT_EQ(s.form.Panel1.color, colors::clTeal);
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(s.form.Bar(n).position, 0) << n;
    for (int n = 2; n <= 9; ++n) EXPECT_FALSE(s.form.Image(n).visible) << n;
    ASSERT_EQ(Written().size(), 1u);
    EXPECT_EQ(LastWritten()[3], CMD_AUTO_PROGRAM);
    // The space bar's run is the button's: one run in progress.
    ASSERT_TRUE(s.CurrentRun());
    EXPECT_EQ(s.CurrentRun()->row, -1);
    EXPECT_EQ(clock.pauses, std::vector<int>(3, 10));
}

}  // namespace
}  // namespace qrv
