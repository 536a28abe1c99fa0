// The operator's window end to end: TForm1 on Qt's offscreen platform against
// the simulated programmer. Each test asserts what the simulated chip holds and
// what the production log records, not only what the window shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <fstream>
#include <memory>

#include "common/atomic_file.h"
#include "common/hex.h"
#include "image/production_export.h"
#include "tests/support/qt_window.h"

namespace qrv {
namespace {

using test::PumpUntil;

constexpr int kImageBytes = 256;

uint8_t ImageByte(int address) {
    return static_cast<uint8_t>(address * 7 + 3);
}

// The plain HEX lines of the test image: 16-byte records from 0.
std::vector<std::string> ImageLines(int bytes = kImageBytes) {
    std::vector<std::string> lines;
    for (int a = 0; a < bytes; a += 16) {
        std::vector<uint8_t> data;
        for (int i = 0; i < 16 && a + i < bytes; ++i) data.push_back(ImageByte(a + i));
        lines.push_back(IntelHexDataRecord(static_cast<unsigned>(a), data.data(),
                                           static_cast<unsigned>(data.size())));
    }
    lines.emplace_back(":00000001FF");
    return lines;
}

std::string WriteLines(const std::string& name, const std::vector<std::string>& lines) {
    const std::string path = ::testing::TempDir() + name;
    EXPECT_TRUE(WriteFileAtomically(path, JoinCrLf(lines), nullptr));
    return path;
}

// A production file of the test image for model QM-012-64HS with these
// automatic-programming steps (autoSteps bits: blank, user option, erase,
// verify).
std::string ProductionFile(uint8_t autoSteps) {
    std::array<uint8_t, kConfigBlockSize> block{};
    block[2] = (kImageBytes - 1) >> 8;
    block[3] = (kImageBytes - 1) & 0xFF;
    block[4] = 5;
    const std::string model = "QM-012-64HS";
    std::copy(model.begin(), model.end(), block.begin() + 5);
    block[16] = 0x5A;  // the production-file marker
    block[20] = autoSteps;
    const auto lines = ProductionFileLines(1234, UserCode{}, block, ImageLines());
    return WriteLines("run-production-" + std::to_string(autoSteps) + ".hex", *lines);
}

std::vector<std::string> LogLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The window as `qrv-writer --simulate --log FILE` runs it: device changes of
// the simulated programmer reach it, and it is connected.
struct Window {
    explicit Window(sim::SimOptions options, const std::string& name)
        : seam(options), log(::testing::TempDir() + name + ".csv") {
        std::remove(log.c_str());
        s.SetProductionLog(ProductionLog(log));
        s.Channel().SetPoster([this] { form.PostReply(); });
        s.ReplyHandled = [this](const Report& r) {
            if (r[3] == RPL_STATUS) ++statusesHandled;
        };
        seam.SetChangeListener([this](const DeviceChange& c) { form.PostDeviceChange(c); });
        form.show();
        s.FormCreate();
        EXPECT_TRUE(PumpUntil([this] { return form.windowTitle() == " QRV MCU Writer V3.6"; }));
    }
    ~Window() {
        seam.SetChangeListener({});
        s.Link().CloseReadSide();
        s.Channel().SetPoster({});
    }

    // "导入文件" with the file chosen, until the programmer's status after the
    // download has been read.
    void Import(const std::string& path) {
        const int downloads = CompletedDownloads() + 1;
        const int statuses = statusesHandled;
        ui.openAnswers.push_back(path);
        form.BitBtn1->click();
        ASSERT_TRUE(PumpUntil([&] {
            return CompletedDownloads() == downloads && !s.TransferActive() &&
                   statusesHandled > statuses;
        })) << path;
        EXPECT_EQ(s.StoredLength, kImageBytes);
    }
    // The space bar, as a key pressed on the automatic run's button.
    void PressSpace() {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
        QApplication::sendEvent(form.Button2, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
        QApplication::sendEvent(form.Button2, &release);
    }
    bool AwaitRunEnd() {
        return PumpUntil([this] { return !s.CurrentRun(); });
    }
    int CompletedDownloads() {
        return seam.WithDevice([](sim::SimProgrammer& d) { return d.CompletedDownloads(); });
    }
    std::string StoredChecksum() {
        return H4(seam.WithDevice([](sim::SimProgrammer& d) { return d.StoredChecksum(); }));
    }
    bool ChipHoldsTheImage() {
        return seam.WithDevice([](sim::SimProgrammer& d) {
            for (int a = 0; a < kImageBytes; ++a)
                if (d.Chip().flash[static_cast<std::size_t>(a)] != ImageByte(a)) return false;
            return true;
        });
    }
    std::vector<uint32_t> AutoProgramArguments() {
        return seam.WithDevice([](sim::SimProgrammer& d) {
            std::vector<uint32_t> arguments;
            for (const Report& r : d.Received())
                if (r[3] == CMD_AUTO_PROGRAM) arguments.push_back(r[8]);
            return arguments;
        });
    }
    std::string Panel() { return form.Panel1->text().toStdString(); }

    sim::SimSeam seam;
    test::ScriptedInteraction ui;
    InstantClock clock;
    MainSession s{seam, ui, clock};
    TForm1 form{s};
    std::string log;
    int statusesHandled = 0;
};

sim::SimOptions Quick() {
    sim::SimOptions o;
    o.latencyUs = 0;
    return o;
}

struct RunWindow : test::WithApplication, ::testing::Test {};

TEST_F(RunWindow, APlainFileIsProgrammedByTheButtonAndByTheSpaceBar) {
    Window w(Quick(), "plain");
    w.Import(WriteLines("run-plain.hex", ImageLines()));
    EXPECT_EQ(w.Panel(), "等待编程");
    w.form.Button2->click();
    ASSERT_TRUE(w.AwaitRunEnd());
    EXPECT_EQ(w.Panel(), "编程成功");
    EXPECT_TRUE(w.ChipHoldsTheImage());
    w.PressSpace();
    ASSERT_TRUE(w.AwaitRunEnd());
    EXPECT_TRUE(w.ChipHoldsTheImage());  // a new chip, programmed too
    EXPECT_EQ(w.AutoProgramArguments(), (std::vector<uint32_t>{0x10, 0x10}));
    const auto lines = LogLines(w.log);
    ASSERT_EQ(lines.size(), 3u);                            // the header, then both runs
    const std::string checksum = w.StoredChecksum() + "H";  // as the window shows it
    EXPECT_NE(lines[1].find("," + checksum + ",program,passed,,,1,0,,"), std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find("," + checksum + ",program,passed,,,2,0,,"), std::string::npos)
        << lines[2];
}

TEST_F(RunWindow, EachOfTheSixteenStepCombinationsProgramsTheImage) {
    Window w(Quick(), "combinations");
    for (uint8_t steps = 0; steps < 16; ++steps) {
        w.Import(ProductionFile(steps));
        w.PressSpace();
        ASSERT_TRUE(w.AwaitRunEnd()) << int{steps};
        EXPECT_TRUE(w.ChipHoldsTheImage()) << int{steps};
        // The file's blank check, erase and verify, and always the program step.
        const uint32_t expected = (steps & 0x01 ? 0x01u : 0) | (steps & 0x04 ? 0x02u : 0) |
                                  (steps & 0x08 ? 0x04u : 0) | 0x10u;
        EXPECT_EQ(w.AutoProgramArguments().back(), expected) << int{steps};
        const auto lines = LogLines(w.log);
        ASSERT_EQ(lines.size(), steps + 2u);
        const std::string& line = lines.back();
        EXPECT_NE(line.find(",QM-012-64HS," + w.StoredChecksum() + "H,"), std::string::npos)
            << line;
        // The user option bit programs the chip's options after the run.
        const char* option = steps & 0x02 ? "passed" : "";
        EXPECT_NE(
            line.find(std::string(",passed,,,") + std::to_string(steps + 1) + ",0," + option + ","),
            std::string::npos)
            << line;
    }
    EXPECT_TRUE(w.seam.ProtocolErrors().empty());
}

TEST_F(RunWindow, AfterAnInterruptedDownloadNoRunStartsUntilOneCompletes) {
    sim::SimOptions o = Quick();
    o.downloadErrorAt = 2;
    Window w(o, "interrupted");
    w.ui.openAnswers.push_back(ProductionFile(0x0C));
    w.form.BitBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return !w.s.TransferActive(); }));
    EXPECT_EQ(w.form.RichEdit1->toPlainText().toStdString(), "下载文件出错，请重新下载文件!");
    EXPECT_EQ(w.form.RichEdit1->palette().color(QPalette::Text), QColor(0xFF, 0, 0));
    w.PressSpace();
    w.form.Button2->click();
    EXPECT_EQ(w.ui.messages.back(), "下载中断，请重新下载文件!");
    EXPECT_TRUE(w.AutoProgramArguments().empty());
    EXPECT_EQ(w.form.Edit4->text(), "0");
    EXPECT_TRUE(LogLines(w.log).empty());

    w.seam.WithDevice([](sim::SimProgrammer& d) { d.MutableOptions().downloadErrorAt = 0; });
    w.Import(ProductionFile(0x0C));
    w.PressSpace();
    ASSERT_TRUE(w.AwaitRunEnd());
    EXPECT_TRUE(w.ChipHoldsTheImage());
}

TEST_F(RunWindow, NoChipAndAWrongChipEndTheRunUnfinished) {
    struct Case {
        const char* name;
        void (*set)(sim::SimOptions&);
        const char* message;
    } cases[] = {
        {"no-chip", [](sim::SimOptions& o) { o.noChip = true; }, "没有检测到芯片，请放入芯片!"},
        {"wrong-model", [](sim::SimOptions& o) { o.wrongModel = true; }, "芯片与烧录型号不同"},
    };
    for (const Case& c : cases) {
        Window w(Quick(), c.name);
        w.Import(ProductionFile(0x0D));
        w.seam.WithDevice([&c](sim::SimProgrammer& d) { c.set(d.MutableOptions()); });
        w.PressSpace();
        ASSERT_TRUE(w.AwaitRunEnd()) << c.name;
        EXPECT_EQ(w.Panel(), "编程未完成") << c.name;
        EXPECT_EQ(w.form.Panel1->palette().color(QPalette::Window), QColor(0xFF, 0, 0));
        EXPECT_EQ(w.ui.messages.back(), c.message);
        EXPECT_FALSE(w.ChipHoldsTheImage()) << c.name;
        const auto lines = LogLines(w.log);
        ASSERT_EQ(lines.size(), 2u) << c.name;
        EXPECT_NE(lines[1].find(std::string(",failed,,") + c.message + ","), std::string::npos)
            << lines[1];
    }
}

TEST_F(RunWindow, AnUnplugMidRunEndsItUnfinishedAndAReconnectionWaitsAgain) {
    sim::SimOptions o = Quick();
    o.latencyUs = 1000;
    o.bytesPerSecond = 500;  // the program step takes half a second
    Window w(o, "unplug");
    w.Import(WriteLines("run-unplug.hex", ImageLines()));
    w.form.Button2->click();
    ASSERT_TRUE(PumpUntil([&] { return !w.AutoProgramArguments().empty(); }));
    EXPECT_EQ(w.Panel(), "编程开始");
    w.seam.Unplug();
    ASSERT_TRUE(w.AwaitRunEnd());
    EXPECT_EQ(w.Panel(), "编程未完成");
    const auto lines = LogLines(w.log);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(",program,no result,,the programmer was unplugged,"), std::string::npos)
        << lines[1];
    w.seam.Plug();
    ASSERT_TRUE(PumpUntil([&] { return w.Panel() == "等待编程"; }));
}

}  // namespace
}  // namespace qrv
