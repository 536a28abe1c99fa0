// The configuration window on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <fstream>

#include "config/Qrv_mcu_confige.h"
#include "config_test_support.h"
#include "tests/support/cli_run.h"

namespace qrv {
namespace {

using test::DataRecord;
using test::kEof;
using test::ScratchDir;
using test::ScriptedAnswers;

// One application for all tests; it stays until the process ends, since Qt's
// own teardown at exit runs after its plugins are gone.
QApplication& App() {
    static int argc = 1;
    static char name[] = "config_form_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct Window {
    ScriptedAnswers answers;
    TForm2 form{nullptr, (App(), &answers)};
    int finished = 0;
    Window() {
        QObject::connect(&form, &QDialog::finished, [this] { ++finished; });
    }
    ConfigSession& model() { return form.Session(); }
};

TEST(ConfigWindow, FixedSizeCaptionAndStartState) {
    Window w;
    EXPECT_EQ(w.form.windowTitle(), QString::fromUtf8("MCU 配置选项"));
    EXPECT_EQ(w.form.size(), QSize(649, 623));
    EXPECT_EQ(w.form.minimumSize(), w.form.maximumSize());
    EXPECT_EQ(w.form.Edit2->text(), "32K");
    EXPECT_EQ(w.form.Edit4->text(), "0000H");
    EXPECT_EQ(w.form.Edit5->text(), "7FFFH");
    EXPECT_TRUE(w.form.Edit5->isReadOnly());
    EXPECT_TRUE(w.form.Edit2->isReadOnly());
    EXPECT_TRUE(w.form.Edit2->isEnabled());
    EXPECT_TRUE(w.form.ComboBox3->isEnabled());
    EXPECT_EQ(w.form.ComboBox4->count(), 83);
    EXPECT_EQ(w.form.ComboBox4->currentIndex(), -1);
    EXPECT_EQ(w.form.ComboBox4->placeholderText(), "QM-001");
    EXPECT_FALSE(w.form.ComboBox1->isEnabled());
    EXPECT_FALSE(w.form.ComboBox2->isEnabled());
    EXPECT_FALSE(w.form.Button5->isEnabled());
    EXPECT_FALSE(w.form.Edit11->isEnabled());
    EXPECT_TRUE(w.form.Button3->isHidden());
    EXPECT_EQ(w.form.Panel1->text(), QString::fromUtf8("用户选项"));
    EXPECT_EQ(w.form.Panel2->text(), QString::fromUtf8("文件信息"));
    EXPECT_EQ(w.form.Panel3->text(), QString::fromUtf8("编程选项"));
    EXPECT_EQ(w.form.Panel1->palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(w.form.palette().color(QPalette::Window), QColor(0xF0, 0xF0, 0xF0));
    EXPECT_EQ(w.form.Panel1->parentWidget(), w.form.GroupBox1);
    EXPECT_EQ(w.form.CheckBox1->parentWidget(), w.form.GroupBox1);
    EXPECT_EQ(w.form.CheckBox5->parentWidget(), w.form.Panel4);
    EXPECT_EQ(w.form.Button2->text(), QString::fromUtf8("导出量产文件"));
    EXPECT_EQ(w.form.CheckBox20->text(), QString::fromUtf8("合并"));
}

TEST(ConfigWindow, DisabledSizeListsLookDisabled) {
    Window w;
    for (QComboBox* list : {w.form.ComboBox1, w.form.ComboBox2}) {
        ASSERT_FALSE(list->isEnabled());
        ASSERT_EQ(list->currentIndex(), -1);  // the text shown is the placeholder
        const QPalette& p = list->palette();
        EXPECT_EQ(p.color(QPalette::Disabled, QPalette::PlaceholderText),
                  p.color(QPalette::Disabled, QPalette::ButtonText))
            << list->objectName().toStdString();
    }
}

TEST(ConfigWindow, ModelChoiceAndClicksGoThroughTheModel) {
    Window w;
    emit w.form.ComboBox4->activated(23);  // QM-024, reduced option set
    EXPECT_EQ(w.form.ComboBox4->currentIndex(), 23);
    EXPECT_EQ(w.form.Edit5->text(), "FFFFH");
    EXPECT_TRUE(w.form.CheckBox4->isHidden());
    EXPECT_TRUE(w.form.ComboBox2->isHidden());
    EXPECT_TRUE(w.form.CheckBox17->isHidden());
    EXPECT_EQ(w.form.CheckBox12->text(), QString::fromUtf8("PA0.2用作IO"));
    EXPECT_EQ(w.form.ComboBox1->count(), 3);

    emit w.form.ComboBox4->activated(0);
    EXPECT_FALSE(w.form.CheckBox4->isHidden());
    EXPECT_TRUE(w.form.CheckBox12->isChecked());
    EXPECT_TRUE(w.form.CheckBox13->isChecked());

    w.form.CheckBox14->click();
    EXPECT_TRUE(w.model().form.CheckBox14.Checked());
    EXPECT_FALSE(w.form.CheckBox13->isChecked());
    EXPECT_EQ(w.model().settings.optionBits & kSwdOrHsosc, kSwdOrHsosc);

    w.form.CheckBox4->click();
    EXPECT_TRUE(w.form.ComboBox2->isEnabled());
    emit w.form.ComboBox2->activated(1);
    EXPECT_EQ(w.form.Edit2->text(), "35K");
    EXPECT_EQ(w.form.Edit5->text(), "8BFF");

    w.form.CheckBox5->click();
    EXPECT_EQ(w.model().settings.autoSteps, kAutoStepBlank);
    EXPECT_EQ(w.answers.messages.size(), 1u);

    w.form.Edit1->setText("");
    w.form.Edit1->insert("12AB");  // typed text, as textEdited reports it
    EXPECT_EQ(w.model().form.Edit1.text, "12AB");
}

TEST(ConfigWindow, RenderingRunsNoRule) {
    Window w;
    w.model().form.CheckBox5.Preset(true);
    w.form.Render();
    EXPECT_TRUE(w.form.CheckBox5->isChecked());
    EXPECT_EQ(w.model().settings.autoSteps, 0);
    EXPECT_TRUE(w.answers.messages.empty());
}

TEST(ConfigWindow, GridShowsTheFileThroughATableModel) {
    Window w;
    ScratchDir dir;
    std::string text;
    for (unsigned a = 0; a < 0x400; a += 16)
        text += DataRecord(a, std::vector<uint8_t>(16, 0xA5)) + "\r\n";
    text += std::string(kEof) + "\r\n";
    w.answers.openAnswers.push_back(dir.Write("x.hex", text));
    w.form.BitBtn1->click();

    QAbstractItemModel* m = w.form.StringGrid1->model();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->columnCount(), 16);
    EXPECT_EQ(m->rowCount(), 64);
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), "00");
    EXPECT_EQ(m->headerData(15, Qt::Horizontal).toString(), "0F");
    EXPECT_EQ(m->headerData(0, Qt::Vertical).toString(), "0000");
    EXPECT_EQ(m->headerData(63, Qt::Vertical).toString(), "03F0");
    EXPECT_EQ(m->data(m->index(63, 15)).toString(), "A5");
    EXPECT_EQ(w.form.StringGrid1->verticalHeader()->width(), 36);
    EXPECT_EQ(w.form.StringGrid1->horizontalHeader()->sectionSize(0), 19);
    EXPECT_EQ(w.form.StringGrid1->verticalHeader()->sectionSize(0), 19);
    EXPECT_EQ(w.form.Edit3->text().toStdString(), dir.Path("x.hex"));
    EXPECT_EQ(w.form.Edit5->text(), "03FFH");
    EXPECT_EQ(w.form.Edit6->text(), "9400H");  // 0x400 * 0xA5 = 0x29400
}

struct CloseWay {
    const char* name;
    void (*close)(TForm2&);
};

void PrintTo(const CloseWay& w, std::ostream* os) {
    *os << w.name;
}

class ClosingTheWindow : public ::testing::TestWithParam<CloseWay> {};

TEST_P(ClosingTheWindow, RunsFormCloseAndEmitsFinishedOnce) {
    Window w;
    w.form.show();
    w.form.CheckBox6->click();
    w.form.CheckBox10->click();
    ASSERT_EQ(w.model().settings.autoSteps, kAutoStepErase);
    GetParam().close(w.form);
    EXPECT_FALSE(w.form.isVisible());
    EXPECT_EQ(w.finished, 1);
    EXPECT_EQ(w.model().settings.autoSteps, 0);
    EXPECT_EQ(w.model().settings.userCodeMode, 0x33);
    EXPECT_FALSE(w.form.CheckBox6->isChecked());
    EXPECT_FALSE(w.form.CheckBox10->isChecked());

    // Shown again and closed again: the reset runs each time.
    w.form.show();
    w.form.CheckBox6->click();
    GetParam().close(w.form);
    EXPECT_EQ(w.finished, 2);
    EXPECT_EQ(w.model().settings.autoSteps, 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, ClosingTheWindow,
                         ::testing::Values(CloseWay{"CloseBox", [](TForm2& f) { f.close(); }},
                                           CloseWay{"Reject", [](TForm2& f) { f.reject(); }},
                                           CloseWay{"Accept", [](TForm2& f) { f.accept(); }},
                                           CloseWay{"Done", [](TForm2& f) { f.done(0); }},
                                           CloseWay{"Hide", [](TForm2& f) { f.hide(); }}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ConfigWindow, EscapeDoesNotCloseTheWindow) {
    Window w;
    w.form.show();
    w.form.CheckBox6->click();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&w.form, &press);
    EXPECT_TRUE(w.form.isVisible());
    EXPECT_EQ(w.finished, 0);
    EXPECT_EQ(w.model().settings.autoSteps, kAutoStepErase);
    w.form.close();
}

TEST(ConfigWindow, CloseEmptiesTheGridDataCells) {
    Window w;
    ScratchDir dir;
    w.answers.openAnswers.push_back(dir.Write("y.hex", DataRecord(0x10, {1, 2}) + "\n"));
    w.form.show();
    w.form.BitBtn1->click();
    QAbstractItemModel* m = w.form.StringGrid1->model();
    EXPECT_EQ(m->data(m->index(0, 1)).toString(), "02");
    w.form.close();
    EXPECT_EQ(m->data(m->index(0, 1)).toString(), "");
    EXPECT_EQ(m->headerData(0, Qt::Vertical).toString(), "0010");
    EXPECT_EQ(w.form.Edit3->text(), "");
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The window and qrv-writer-cli make the same choices through the one model
// and write the same bytes.
TEST(ConfigWindow, ExportAndMergeWriteWhatTheCommandLineWrites) {
    Window w;
    ScratchDir dir;
    const std::string source =
        dir.Write("src.hex", DataRecord(0, {1, 2, 3}) + "\n" +
                                 DataRecord(0x100, {0x57, 3, 0x55, 0x55}) + "\n");
    const std::string other = dir.Write("other.hex", DataRecord(0x1000, {7}) + "\n");
    w.model().Random = [] { return 1000u; };  // marker 1000, file marker 1000 % 255
    emit w.form.ComboBox4->activated(1);      // QM-002
    emit w.form.ComboBox3->activated(1);      // 3V
    w.answers.openAnswers.push_back(source);
    w.form.BitBtn1->click();
    w.form.CheckBox3->click();
    emit w.form.ComboBox1->activated(2);  // 2K
    w.form.CheckBox15->click();
    w.form.CheckBox11->click();  // ticked by the option word: now unticked
    w.form.CheckBox5->click();
    w.form.CheckBox8->click();
    w.form.CheckBox19->click();
    w.form.Edit1->insert("A1B2C3");
    w.form.CheckBox10->click();
    w.answers.saveAnswers.push_back(SaveAnswer{dir.Path("window.hex"), 0});
    w.form.Button2->click();

    const test::ToolRun r = test::RunTool({"export",       source,
                                           "-o",           dir.Path("cli.hex"),
                                           "--model",      "QM-002",
                                           "--voltage",    "3V",
                                           "--hard-lock",  "2K",
                                           "--sub-osc",    "500K",
                                           "--wdt-on",     "--auto-steps",
                                           "blank,verify", "--user-code-hex",
                                           "--user-code",  "A1B2C3",
                                           "--rolling",    "--marker",
                                           "1000",         "--file-marker",
                                           "235"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Read(dir.Path("cli.hex")), Read(dir.Path("window.hex")));

    w.form.CheckBox20->click();
    EXPECT_EQ(w.form.Button2->text(), QString::fromUtf8("输出合并文件"));
    for (const std::string& file : {source, other}) {
        w.answers.openAnswers.push_back(file);
        w.form.Button5->click();
    }
    w.answers.saveAnswers.push_back(SaveAnswer{dir.Path("window"), kMergedFilterBin});
    w.form.Button2->click();
    ASSERT_EQ(test::RunTool({"merge", source, other, "-o", dir.Path("cli.bin")}).rc, 0);
    EXPECT_EQ(Read(dir.Path("cli.bin")), Read(dir.Path("window.bin")));
    EXPECT_EQ(Read(dir.Path("cli.bin")).size(), 0x1001u);
}

// The code box takes as many characters as the mode reads, and never cuts
// what it holds when the mode changes.
TEST(ConfigWindow, CodeBoxTakesWhatTheModeReads) {
    Window w;
    w.form.Edit1->insert("12345678901234567890");
    EXPECT_EQ(w.model().form.Edit1.text, "123456789012");
    w.form.CheckBox19->click();
    w.form.Edit1->insert("ABCDEFGH");
    EXPECT_EQ(w.model().form.Edit1.text, "123456789012ABCD");
    w.form.CheckBox19->click();
    EXPECT_EQ(w.form.Edit1->text(), "123456789012ABCD");
}

}  // namespace
}  // namespace qrv
