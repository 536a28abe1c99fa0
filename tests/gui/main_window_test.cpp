// The main window on Qt's offscreen platform: its controls at their places,
// its start-up state, the configuration window, and an automatic run shown as
// the replies arrive.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "config/Qrv_mcu_confige.h"
#include "config/model_table.h"
#include "mainwin/Qrv_mcu_pc.h"
#include "qtview/gui_interaction.h"
#include "sim/sim_seam.h"
#include "tests/support/fake_hid.h"
#include "tests/support/qt_window.h"
#include "tests/support/reports.h"
#include "tests/support/scripted.h"

namespace qrv {
namespace {

using test::MakeReply;

std::vector<uint8_t> Bytes(const Report& r) {
    return {r.begin(), r.end()};
}

using test::App;
using test::PumpUntil;
using test::WithApplication;

struct MainWindow : WithApplication, ::testing::Test {
    void TearDown() override {
        s.Link().CloseReadSide();
        s.Channel().SetPoster({});
    }
    template <typename W = QWidget>
    W* Find(const char* name) {
        W* w = form.findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    bool Shown(const char* name) { return Find(name)->isVisibleTo(&form); }

    test::FakeSeam seam;
    test::ScriptedInteraction ui;
    InstantClock clock;
    MainSession s{seam, ui, clock};
    TForm1 form{s};
};

struct Place {
    const char* name;
    int left, top, width, height;  // width 0: a label, only its position is fixed
    const char* caption;
};

TEST_F(MainWindow, ControlsStandAtTheirPlacesWithTheirCaptions) {
    EXPECT_EQ(form.size(), QSize(395, 622));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    const Place places[] = {
        {"Image1", 20, 5, 265, 49, nullptr},          {"Button1", 312, 8, 75, 41, "配置"},
        {"Button7", 8, 60, 65, 27, "连接"},           {"RichEdit1", 79, 60, 234, 27, nullptr},
        {"Edit8", 79, 60, 234, 27, nullptr},          {"BitBtn1", 8, 100, 65, 27, "导入文件"},
        {"Edit1", 79, 98, 234, 27, nullptr},          {"ProgressBar5", 79, 97, 234, 27, nullptr},
        {"Label1", 319, 104, 0, 0, "导入文件"},       {"Button16", 302, 127, 87, 25, "Update"},
        {"Label2", 8, 155, 0, 0, "器件型号"},         {"Edit2", 79, 152, 121, 27, nullptr},
        {"Label3", 223, 155, 0, 0, "校验码"},         {"Edit3", 300, 152, 89, 27, nullptr},
        {"Button2", 140, 200, 173, 41, "自动编程"},   {"Button3", 31, 262, 92, 25, "空检验"},
        {"Button4", 31, 309, 92, 25, "擦除"},         {"Button5", 31, 355, 92, 25, "编程"},
        {"Button6", 31, 401, 92, 25, "校验"},         {"ProgressBar1", 140, 262, 221, 25, nullptr},
        {"ProgressBar4", 140, 401, 221, 25, nullptr}, {"Panel1", 140, 431, 173, 41, nullptr},
        {"Button13", 31, 440, 92, 25, "读校验码"},    {"Label5", 198, 494, 0, 0, "成功编程次数"},
        {"Edit4", 300, 493, 87, 27, nullptr},         {"Label6", 198, 535, 0, 0, "失败编程次数"},
        {"Edit5", 300, 533, 84, 27, nullptr},         {"Button12", 32, 501, 92, 25, "擦除存储"},
        {"CheckBox5", 31, 561, 97, 17, "编程配置"},
    };
    for (const Place& p : places) {
        QWidget* w = Find(p.name);
        if (!w) continue;
        EXPECT_EQ(w->pos(), QPoint(p.left, p.top)) << p.name;
        if (p.width) {
            EXPECT_EQ(w->size(), QSize(p.width, p.height)) << p.name;
        }
        if (!p.caption) continue;
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
        if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
        EXPECT_EQ(text.toStdString(), p.caption) << p.name;
    }
    // The step rows: box at 8, button at 31, bar at 140, marks at the bar's end.
    const int tops[] = {262, 309, 355, 401};
    for (int r = 0; r < 4; ++r) {
        const std::string n = std::to_string(r + 1);
        EXPECT_EQ(Find(("CheckBox" + n).c_str())->x(), 8);
        const QWidget* pass = Find(("Image" + std::to_string(r + 2)).c_str());
        const QWidget* fail = Find(("Image" + std::to_string(r + 6)).c_str());
        EXPECT_EQ(pass->size(), QSize(26, 22));
        EXPECT_EQ(fail->size(), QSize(26, 22));
        EXPECT_GE(pass->x(), 367);
        EXPECT_LE(fail->x(), 369);
        EXPECT_NEAR(pass->y(), tops[r], 3);
    }
}

TEST_F(MainWindow, StartUpWithoutProgrammerShowsTheUnconnectedState) {
    s.FormCreate();
    EXPECT_EQ(form.windowTitle().toStdString(), "QRV Writer V2.6 QRV Writer unconnected");
    EXPECT_EQ(form.RichEdit1->toPlainText().toStdString(), "   QRV Writer unconnected");
    EXPECT_EQ(form.RichEdit1->palette().color(QPalette::Text), QColor(0xFF, 0, 0));
    for (const char* hidden : {"Image2",    "Image5",    "Image6",   "Image9",    "CheckBox5",
                               "Button12",  "Button16",  "Button8",  "Button9",   "Button10",
                               "Button11",  "Button14",  "Button15", "ComboBox1", "ComboBox2",
                               "ComboBox3", "ComboBox4", "Memo1",    "Memo2",     "ProgressBar5"})
        EXPECT_FALSE(Shown(hidden)) << hidden;
    for (const char* shown : {"Button2", "Panel1", "Edit1", "Edit4", "Edit5", "RichEdit1"})
        EXPECT_TRUE(Shown(shown)) << shown;
    // No verdict before the first chip: the panel waits, dark on the window's grey.
    EXPECT_EQ(form.Panel1->text().toStdString(), "等待编程");
    EXPECT_EQ(form.Edit4->text(), "0");
    EXPECT_EQ(form.Edit5->text(), "0");
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(0xF0, 0xF0, 0xF0));
    EXPECT_EQ(form.Panel1->palette().color(QPalette::Window), QColor(0xF0, 0xF0, 0xF0));
    EXPECT_EQ(form.Panel1->palette().color(QPalette::WindowText), QColor(0x20, 0x20, 0x20));
}

TEST_F(MainWindow, ChineseCaptionsAreDrawn) {
    form.show();
    QPushButton* b = form.Button2;
    // The caption font has the glyphs (a CJK font stands in for 微软雅黑).
    for (char32_t c : {U'自', U'动', U'编', U'程'})
        EXPECT_TRUE(QFontMetrics(b->font()).inFontUcs4(c)) << static_cast<unsigned>(c);
    const QImage withText = b->grab().toImage();
    b->setText(QString());
    const QImage without = b->grab().toImage();
    int differing = 0;
    for (int y = 0; y < withText.height(); ++y)
        for (int x = 0; x < withText.width(); ++x)
            if (withText.pixel(x, y) != without.pixel(x, y)) ++differing;
    EXPECT_GT(differing, 100);
}

TEST_F(MainWindow, ClickingAStepBoxRunsItsRuleOnce) {
    form.CheckBox3->click();
    EXPECT_EQ(s.StepFlags, 0x10);
    EXPECT_TRUE(form.CheckBox3->isChecked());
    // A box checked by the programmer's status shows checked without a second
    // run of its rule.
    s.form.CheckBox1.SetChecked(true);
    form.Render();
    EXPECT_TRUE(form.CheckBox1->isChecked());
    EXPECT_EQ(s.StepFlags, 0x11);
    form.CheckBox1->click();
    EXPECT_EQ(s.StepFlags, 0x10);
}

TEST_F(MainWindow, TextTypedIntoTheFileBoxSurvivesARender) {
    form.Edit1->setFocus();
    form.Edit1->insert("abcdefg");  // as typed: textEdited
    EXPECT_EQ(s.form.Edit1.text, "abcdefg");
    form.Render();
    EXPECT_EQ(form.Edit1->text(), "abcdefg");
}

TEST_F(MainWindow, ButtonCaptionsClearTheirFrames) {
    for (QPushButton* b : form.findChildren<QPushButton*>()) {
        if (b->text().isEmpty()) continue;
        // At least 3 pixels free on either side: the frame plus a gap.
        EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->text()) + 6, b->width())
            << b->objectName().toStdString();
    }
}

// WCAG contrast ratio of two colours.
double Contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto lin = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(MainWindow, DisabledValueBoxesStayReadable) {
    s.FormCreate();
    s.form.Edit2.text = "QM-012-64HS";  // "器件型号"
    s.form.Edit3.text = "12ABH";        // a checksum, as a download leaves it
    form.Render();
    int checked = 0;
    for (QLineEdit* e : form.findChildren<QLineEdit*>()) {
        if (e->isEnabled() || !e->isVisibleTo(&form) || e->text().isEmpty()) continue;
        const QPalette& p = e->palette();
        EXPECT_GE(Contrast(p.color(QPalette::Disabled, QPalette::Text),
                           p.color(QPalette::Disabled, QPalette::Base)),
                  4.5)
            << e->objectName().toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

// Whether text drawn in w's font fits `available` pixels.
bool Fits(const QWidget* w, const std::string& text, int available) {
    return QFontMetrics(w->font()).horizontalAdvance(QString::fromStdString(text)) <= available;
}

TEST_F(MainWindow, EveryTextAControlCanShowFitsItWithTheShippedFont) {
    s.FormCreate();
    const auto show = [&](auto set) {
        set();
        form.Render();
    };
    for (const char* verdict : {kRunWaiting, kRunStarted, kRunPassed, kRunFailed, kRunUnfinished,
                                kProtectPassed, kProtectFailed, kOptionPassed, kOptionFailed}) {
        show([&] { s.form.Panel1.caption = verdict; });
        EXPECT_TRUE(Fits(form.Panel1, verdict, form.Panel1->contentsRect().width() - 4)) << verdict;
    }
    for (const char* status : {kStatusUnconnected, kStatusConnected, kStatusUnreadable,
                               kDownloadFailed, kDownloadInterrupted}) {
        show([&] { s.form.RichEdit1.lines = {status}; });
        EXPECT_TRUE(Fits(form.RichEdit1, status, form.RichEdit1->width() - 8)) << status;
    }
    // Values: every model's 11 characters, from the first one; checksums;
    // counters as far as a signed 32-bit number goes.
    for (const ModelRow& row : ModelTable()) {
        const std::string model(row.deviceCode);
        show([&] { s.form.Edit2.text = model; });
        EXPECT_TRUE(Fits(form.Edit2, model, form.Edit2->width() - 10)) << model;
        EXPECT_EQ(form.Edit2->cursorPosition(), 0) << model;
    }
    show([&] { s.form.Edit3.text = "DDDD H"; });
    EXPECT_TRUE(Fits(form.Edit3, "DDDD H", form.Edit3->width() - 10));
    show([&] { s.form.Edit4.text = s.form.Edit5.text = "-2147483648"; });
    EXPECT_TRUE(Fits(form.Edit4, "-2147483648", form.Edit4->width() - 10));
    EXPECT_TRUE(Fits(form.Edit5, "-2147483648", form.Edit5->width() - 10));
    show([&] { s.form.Edit1.text = kStorageErased; });
    EXPECT_TRUE(Fits(form.Edit1, kStorageErased, form.Edit1->width() - 10));
    // The lists: each item and the text shown without a selection, beside the arrow.
    for (QComboBox* list : {form.ComboBox1, form.ComboBox2, form.ComboBox3, form.ComboBox4}) {
        QStringList texts{list->placeholderText()};
        for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
        for (const QString& t : texts)
            EXPECT_LE(QFontMetrics(list->font()).horizontalAdvance(t) + 30, list->width())
                << list->objectName().toStdString() << " " << t.toStdString();
    }
}

TEST_F(MainWindow, NoTwoVisibleControlsIntersectInAnyRevealState) {
    const std::vector<std::vector<const char*>> states = {
        {},
        {"QrvTool"},
        {"UserOpt"},
        {"WorkMod"},
        {"OscTrim"},
        {"Chooser"},
        {"QrvTool", "UserOpt", "WorkMod", "OscTrim", "Chooser"},
        {"WorkMod", "OscTrim", "abcdefg"},  // the lists stay hidden again
    };
    for (const auto& words : states) {
        MainSession session{seam, ui, clock};
        TForm1 window{session};
        session.FormCreate();
        for (const char* word : words) {
            session.form.Edit1.text = word;
            session.Edit1KeyPress(kKeyEnter);
        }
        session.form.Button16.visible = true;  // the firmware update offer
        window.Render();
        std::vector<QWidget*> shown;
        for (QWidget* w : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (w->isVisibleTo(&window)) shown.push_back(w);
        const std::string state = words.empty() ? "none" : words.back();
        for (QWidget* w : shown)
            EXPECT_TRUE(window.rect().contains(w->geometry()))
                << state << ": " << w->objectName().toStdString();
        for (std::size_t i = 0; i < shown.size(); ++i) {
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                const QString a = shown[i]->objectName(), b = shown[j]->objectName();
                // The status line covers its copy by design.
                if (QStringList{a, b}.contains("Edit8") && QStringList{a, b}.contains("RichEdit1"))
                    continue;
                EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                    << state << ": " << a.toStdString() << " and " << b.toStdString();
            }
        }
    }
}

TEST_F(MainWindow, QtDialogButtonsSpeakChinese) {
    ASSERT_TRUE(InstallQtChineseTranslation(App()));
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QString::fromUtf8("确定"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8("取消"));
    EXPECT_TRUE(
        QCoreApplication::translate("QFileDialog", "&Open").contains(QString::fromUtf8("打开")));
}

TEST(DockPosition, RightWhenItFitsElseLeftElseInsideTheScreen) {
    const QSize dialog(400, 300);
    const QRect screen(0, 0, 1920, 1080);
    struct Case {
        QRect main;
        QPoint expected;
    } cases[] = {
        {{100, 60, 395, 650}, {503, 60}},    // room on the right
        {{1400, 60, 395, 650}, {992, 60}},   // the screen ends: to the left
        {{300, 60, 1500, 650}, {1520, 60}},  // room on neither side: inside the screen
        {{100, 900, 395, 650}, {503, 780}},  // never below the screen's bottom
        {{100, -40, 395, 650}, {503, 0}},    // nor above its top
    };
    for (const Case& c : cases)
        EXPECT_EQ(TForm1::DockPosition(c.main, dialog, screen), c.expected) << c.main.x();
    // A screen that does not start at 0 (a second monitor).
    EXPECT_EQ(TForm1::DockPosition({2000, 60, 395, 650}, dialog, {1920, 0, 1280, 1024}),
              QPoint(2403, 60));
}

TEST_F(MainWindow, ConfigureShowsTheConfigurationWindowDockedAndClosesIt) {
    TForm2 form2(&form);
    form.SetConfigWindow(&form2);
    form.show();
    form.move(100, 60);
    const QRect screen = form.screen()->availableGeometry();
    const auto docked = [&] {
        return TForm1::DockPosition(form.frameGeometry(), form2.frameGeometry().size(), screen);
    };
    form.Button1->click();
    EXPECT_TRUE(form2.isVisible());
    EXPECT_EQ(s.form.ConfigShown, 1);
    EXPECT_EQ(form2.pos(), docked());
    EXPECT_TRUE(screen.contains(form2.frameGeometry())) << "half of it off the screen";
    // Moving the main window brings it along.
    form.move(140, 90);
    QCoreApplication::processEvents();
    EXPECT_EQ(form2.pos(), docked());
    EXPECT_EQ(form2.y(), 90);
    // A window its user moved stays there while the main window repaints...
    form2.move(20, 30);
    form.repaint();
    QCoreApplication::processEvents();
    EXPECT_EQ(form2.pos(), QPoint(20, 30));
    // ...until the main window moves.
    form.move(150, 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(form2.pos(), docked());
    form.Button1->click();
    EXPECT_FALSE(form2.isVisible());
    EXPECT_EQ(s.form.ConfigShown, 0);
    // Closed with its own close box, it shows again on the next press.
    form.Button1->click();
    form2.close();
    EXPECT_EQ(s.form.ConfigShown, 0);
    form.Button1->click();
    EXPECT_TRUE(form2.isVisible());
    form2.close();
}

struct ConnectedWindow : MainWindow {
    test::FakeDevice& dev = seam.Add(test::FakeInterface{"/dev/hidraw0"});
    void SetUp() override {
        s.Channel().SetPoster([this] { form.PostReply(); });
        form.show();
    }
};

TEST_F(ConnectedWindow, AnAutomaticRunMovesBarsMarksAndPanel) {
    dev.Push(Bytes(MakeReply(
        RPL_STATUS, {{7, 0x10}, {12, 0x07}, {26, 0xFF}, {61, 'A'}, {63, '3'}, {64, '6'}})));
    s.FormCreate();
    ASSERT_TRUE(PumpUntil([&] { return form.windowTitle() == " QRV MCU Writer V3.6"; }));
    EXPECT_TRUE(form.CheckBox1->isChecked());
    EXPECT_TRUE(form.CheckBox3->isChecked());

    form.Button2->click();
    EXPECT_EQ(form.Panel1->text().toStdString(), "编程开始");
    EXPECT_EQ(form.Panel1->palette().color(QPalette::Window), QColor(0, 0x80, 0x80));
    EXPECT_EQ(dev.Written().back()[3], CMD_AUTO_PROGRAM);
    EXPECT_EQ(dev.Written().back()[8], 0x17);

    dev.Push(Bytes(MakeReply(RPL_BLANK_CHECK, {{6, 1}})));
    dev.Push(Bytes(MakeReply(RPL_ERASE, {{6, 1}})));
    dev.Push(Bytes(MakeReply(RPL_PROGRAM, {{6, 0}, {7, 0x08}, {8, 0x00}})));
    ASSERT_TRUE(PumpUntil([&] { return form.ProgressBar3->value() == 50; }));
    EXPECT_EQ(form.ProgressBar1->value(), 100);
    EXPECT_TRUE(form.Image2->isVisibleTo(&form));
    EXPECT_TRUE(form.Image3->isVisibleTo(&form));
    EXPECT_FALSE(form.Image4->isVisibleTo(&form));

    dev.Push(Bytes(MakeReply(RPL_PROGRAM, {{6, 1}})));
    dev.Push(Bytes(MakeReply(RPL_VERIFY, {{6, 2}})));
    dev.Push(Bytes(MakeReply(RPL_AUTO_RESULT, {{6, 1}, {8, 7}})));
    ASSERT_TRUE(PumpUntil([&] { return form.Panel1->text() == QString::fromUtf8("编程失败"); }));
    EXPECT_EQ(form.Panel1->palette().color(QPalette::Window), QColor(0xFF, 0, 0));
    EXPECT_EQ(form.Edit5->text(), "7");
    EXPECT_EQ(form.ProgressBar4->value(), 100);
    EXPECT_TRUE(form.Image4->isVisibleTo(&form));
    EXPECT_TRUE(form.Image9->isVisibleTo(&form));
    EXPECT_FALSE(form.Image5->isVisibleTo(&form));
}

// The window on the simulated programmer, as `qrv-writer --simulate` runs it.
using SimulatedWindow = test::SimulatedWindowFixture<0>;

TEST_F(SimulatedWindow, ClickingTheAutomaticRunRunsTheStepsWithBarsAndMarks) {
    s.FormCreate();
    ASSERT_TRUE(PumpUntil([&] { return form.windowTitle() == " QRV MCU Writer V3.6"; }));
    for (QCheckBox* box : {form.CheckBox1, form.CheckBox2, form.CheckBox4}) box->click();
    EXPECT_EQ(s.StepFlags, 0x17);
    for (int run = 1; run <= 2; ++run) {
        form.Button2->click();
        // Each run starts from an empty display.
        EXPECT_EQ(form.Panel1->text().toStdString(), "编程开始");
        EXPECT_EQ(form.ProgressBar4->value(), 0);
        EXPECT_FALSE(form.Image5->isVisibleTo(&form));
        ASSERT_TRUE(PumpUntil([&] { return form.Edit4->text() == QString::number(run); }));
    }
    EXPECT_EQ(form.Panel1->text().toStdString(), "编程成功");
    EXPECT_EQ(form.Panel1->palette().color(QPalette::Window), QColor(0, 0x80, 0));
    for (QProgressBar* bar :
         {form.ProgressBar1, form.ProgressBar2, form.ProgressBar3, form.ProgressBar4})
        EXPECT_EQ(bar->value(), 100) << bar->objectName().toStdString();
    for (QLabel* pass : {form.Image2, form.Image3, form.Image4, form.Image5})
        EXPECT_TRUE(pass->isVisibleTo(&form)) << pass->objectName().toStdString();
    for (QLabel* fail : {form.Image6, form.Image7, form.Image8, form.Image9})
        EXPECT_FALSE(fail->isVisibleTo(&form)) << fail->objectName().toStdString();
}

}  // namespace
}  // namespace qrv
