// The station window end to end: StationWindow on Qt's offscreen platform
// against a simulated station of eight programmers. Each test asserts what
// every simulated chip holds, not only what the tiles show.
#include "mainwin/station_window.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <fstream>

#include "config/Qrv_mcu_confige.h"
#include "image/production_export.h"
#include "sim/station_seam.h"
#include "tests/support/hex_lines.h"
#include "tests/support/qt_window.h"
#include "tests/support/temp_file.h"

namespace qrv {
namespace {

using test::PumpUntil;

// Four progress pages of the simulator, so that a slow step reports progress
// before its end.
constexpr int kImageBytes = 4096;
constexpr std::size_t kSlots = 8;

uint8_t ImageByte(int address) {
    return static_cast<uint8_t>(address * 5 + 1);
}

// A production file of the test image (16-byte records from 0) for model
// QM-012-64HS whose automatic run programs and verifies.
std::string ImageFile() {
    std::vector<std::string> lines;
    for (int a = 0; a < kImageBytes; a += 16) {
        std::vector<uint8_t> data;
        for (int i = 0; i < 16; ++i) data.push_back(ImageByte(a + i));
        lines.push_back(test::DataRecord(a, data));
    }
    lines.emplace_back(":00000001FF");
    std::array<uint8_t, kConfigBlockSize> block{};
    block[2] = (kImageBytes - 1) >> 8;
    block[3] = (kImageBytes - 1) & 0xFF;
    block[4] = 5;
    const std::string model = "QM-012-64HS";
    std::copy(model.begin(), model.end(), block.begin() + 5);
    block[16] = 0x5A;  // the production-file marker
    block[20] = 0x08;  // verify
    // One file per test: ctest runs the tests at once.
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return test::WriteTempFile("station-image-" + name + ".hex",
                               *ProductionFileLines(1234, UserCode{}, block, lines));
}

// Every label of the window shows its whole text.
void ExpectEveryTextFits(const QWidget& window) {
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        EXPECT_LE(needed, label->contentsRect().width()) << label->text().toStdString();
        EXPECT_LE(label->fontMetrics().height(), label->contentsRect().height())
            << label->text().toStdString();
    }
}

std::vector<std::string> LogLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

sim::StationOptions Options(const std::string& text) {
    sim::StationOptions station;
    sim::SimOptions common;
    std::string error;
    EXPECT_TRUE(sim::ParseStationOptions(text, &station, &common, &error)) << error;
    return station;
}

// The window as `qrv-writer --station --simulate=count=8,... --log FILE`
// runs it, every slot connected.
struct Station {
    explicit Station(const std::string& options, const std::string& name)
        : seam(Options("count=8,latency-us=0" + options)),
          log(test::ScratchDir() + "station-" + name + ".csv"),
          window(seam, StationFromPresent(*ListProgrammers(seam)), ui, clock,
                 StationWindow::Options{log}) {
        seam.SetChangeListener([this](const DeviceChange& c) { window.PostDeviceChange(c); });
        window.show();
        window.Start();
        EXPECT_TRUE(PumpUntil([this] {
            for (std::size_t i = 0; i < kSlots; ++i)
                if (!window.Tile(i).Connected() || !window.Tile(i).StoredChecksum()) return false;
            return true;
        }));
    }
    ~Station() { seam.SetChangeListener({}); }

    // "导入文件" with the file chosen, until every connected slot stored it.
    void Import(const std::string& path) {
        std::vector<int> expected(kSlots, 0);
        for (std::size_t i = 0; i < kSlots; ++i)
            expected[i] =
                Downloads(static_cast<int>(i) + 1) + (window.Session(i).Connected() ? 1 : 0);
        ui.openAnswers.push_back(path);
        window.ImportButton->click();
        ASSERT_TRUE(PumpUntil([&] {
            for (std::size_t i = 0; i < kSlots; ++i)
                if (Downloads(static_cast<int>(i) + 1) != expected[i] ||
                    window.Session(i).TransferActive() ||
                    (window.Session(i).Connected() && window.Tile(i).Texts().state != kRunWaiting))
                    return false;
            return true;
        }));
    }
    int Downloads(int k) {
        return seam.Programmer(k).WithDevice(
            [](sim::SimProgrammer& d) { return d.CompletedDownloads(); });
    }
    void PressSpace() {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
        QApplication::sendEvent(&window, &press);
    }
    bool AwaitRunsEnd() {
        return PumpUntil([this] {
            for (std::size_t i = 0; i < kSlots; ++i)
                if (window.Session(i).CurrentRun()) return false;
            return true;
        });
    }
    // Whether programmer K's chip holds the test image.
    bool ChipHoldsTheImage(int k) {
        return seam.Programmer(k).WithDevice([](sim::SimProgrammer& d) {
            for (int a = 0; a < kImageBytes; ++a)
                if (d.Chip().flash[static_cast<std::size_t>(a)] != ImageByte(a)) return false;
            return true;
        });
    }
    std::string State(std::size_t index) { return window.StateText(index).toStdString(); }

    sim::SimStationSeam seam;
    std::string log;
    test::ScriptedInteraction ui;
    InstantClock clock;
    StationWindow window;
};

struct StationWindowTest : test::WithApplication, ::testing::Test {
    void SetUp() override {
        std::remove((test::ScratchDir() + "station-" + Name() + ".csv").c_str());
    }
    static std::string Name() {
        return ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
};

TEST_F(StationWindowTest, AFileDownloadedToAllIsProgrammedIntoEveryChip) {
    Station st("", Name());
    EXPECT_EQ(StationWindow::GridShape(8), QSize(4, 2));
    st.Import(ImageFile());
    st.window.StartAllButton->click();
    ASSERT_TRUE(st.AwaitRunsEnd());
    for (std::size_t i = 0; i < kSlots; ++i) {
        EXPECT_EQ(st.State(i), kRunPassed) << i;
        EXPECT_TRUE(st.ChipHoldsTheImage(static_cast<int>(i) + 1)) << i;
        EXPECT_EQ(st.window.Tile(i).Texts().passed, 1) << i;
    }
    ExpectEveryTextFits(st.window);
    // One log line per slot run, each naming its slot, port and serial.
    const auto lines = LogLines(st.log);
    ASSERT_EQ(lines.size(), kSlots + 1);
    EXPECT_NE(lines[0].find("slot,port,serial"), std::string::npos) << lines[0];
    for (int k = 1; k <= 8; ++k) {
        const std::string columns =
            "," + std::to_string(k) + "," + sim::DefaultPort(k) + "," + sim::DefaultSerial(k);
        int found = 0;
        for (const std::string& line : lines)
            if (line.ends_with(columns) && line.find(",passed,") != std::string::npos) ++found;
        EXPECT_EQ(found, 1) << k;
    }
}

TEST_F(StationWindowTest, ASlotUnpluggedMidRunIsUnfinishedAndReturnsUnassignedInAnotherPort) {
    // Slot 5's steps take two seconds each.
    Station st(",speed=2048@5", Name());
    st.Import(ImageFile());
    int steps = 0;
    st.window.Session(4).Subscribe([&steps](const SessionEvent& e) {
        if (std::holds_alternative<event::StepProgress>(e)) ++steps;
    });
    st.PressSpace();
    ASSERT_TRUE(PumpUntil([&] { return steps > 0; }));
    st.seam.Unplug(5);
    ASSERT_TRUE(st.AwaitRunsEnd());
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (i == 4) continue;
        EXPECT_EQ(st.State(i), kRunPassed) << i;
        EXPECT_TRUE(st.ChipHoldsTheImage(static_cast<int>(i) + 1)) << i;
    }
    EXPECT_EQ(st.State(4), kRunUnfinished);
    const auto lines = LogLines(st.log);
    int unfinished = 0;
    for (const std::string& line : lines)
        if (line.find(",no result,,the programmer was unplugged,") != std::string::npos &&
            line.ends_with(",5,1-1.5,SIM0005"))
            ++unfinished;
    EXPECT_EQ(unfinished, 1);

    // Plugged into a port of no slot: slot 5 stays empty, the programmer is
    // shown as unassigned, never taken into a slot.
    st.seam.Plug(5, "1-1.9");
    ASSERT_TRUE(PumpUntil([&] { return st.window.Unassigned().size() == 1; }));
    EXPECT_EQ(ProgrammerName(st.window.Unassigned()[0]), "1-1.9");
    EXPECT_NE(st.window.StatusLine->text().toStdString().find("1-1.9"), std::string::npos);
    EXPECT_FALSE(st.window.Tile(4).Connected());
    ExpectEveryTextFits(st.window);
    EXPECT_FALSE(st.window.Session(4).Connected());
    for (std::size_t i = 0; i < kSlots; ++i)
        EXPECT_EQ(st.window.Session(i).Connected(), i != 4) << i;
}

TEST_F(StationWindowTest, ConfigShowsAndHidesTheConfigurationWindow) {
    Station st("", Name());
    TForm2 form2(&st.window);
    st.window.SetConfigWindow(&form2);
    st.window.ConfigButton->click();
    EXPECT_TRUE(form2.isVisible());
    st.window.ConfigButton->click();
    EXPECT_FALSE(form2.isVisible());
}

TEST_F(StationWindowTest, AFailingVerifyFailsItsSlotAlone) {
    Station st(",fail=verify@3", Name());
    st.Import(ImageFile());
    st.PressSpace();
    ASSERT_TRUE(st.AwaitRunsEnd());
    for (std::size_t i = 0; i < kSlots; ++i) {
        EXPECT_EQ(st.State(i), i == 2 ? kRunFailed : kRunPassed) << i;
        EXPECT_EQ(st.window.Tile(i).Texts().failed, i == 2 ? 1 : 0) << i;
        if (i != 2) {
            EXPECT_TRUE(st.ChipHoldsTheImage(static_cast<int>(i) + 1)) << i;
        }
    }
}

TEST_F(StationWindowTest, ASlotHoldingAnotherImageDoesNotStartUntilItHasTheFile) {
    Station st("", Name());
    st.seam.Unplug(2);
    ASSERT_TRUE(PumpUntil([&] { return !st.window.Session(1).Connected(); }));
    const std::string file = ImageFile();
    st.Import(file);
    st.seam.Plug(2);
    ASSERT_TRUE(PumpUntil([&] { return st.window.Tile(1).Connected(); }));
    ASSERT_TRUE(PumpUntil([&] { return st.window.Tile(1).StoredChecksum().has_value(); }));
    st.PressSpace();
    ASSERT_TRUE(st.AwaitRunsEnd());
    EXPECT_FALSE(st.ChipHoldsTheImage(2));
    EXPECT_EQ(st.window.MessageText(1).toStdString(), kTileOtherImage);
    EXPECT_EQ(st.State(1), kRunWaiting);
    EXPECT_TRUE(st.ChipHoldsTheImage(1));

    // Once downloaded again, it starts.
    st.Import(file);
    EXPECT_TRUE(st.window.StartSlot(1));
    ASSERT_TRUE(st.AwaitRunsEnd());
    EXPECT_TRUE(st.ChipHoldsTheImage(2));
}

}  // namespace
}  // namespace qrv
