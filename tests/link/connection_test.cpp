#include <gtest/gtest.h>

#include <fstream>

#include "session/session.h"
#include "sim/sim_seam.h"
#include "tests/image/loader_fixture.h"
#include "tests/support/fake_hid.h"
#include "tests/support/scripted.h"

namespace qrv {
namespace {

struct Connection : ::testing::Test {
    test::ScriptedInteraction ui;
    InstantClock clock;
};

TEST_F(Connection, StartUpWithTheSimulatedProgrammerShowsConnectedAndAsksForStatus) {
    sim::SimSeam seam(sim::SimOptions{0});
    MainSession s(seam, ui, clock);
    s.FormCreate();
    EXPECT_EQ(s.form.caption, "QRV Writer V2.6 QRV Writer connected");
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{"  QRV Writer connected"});
    EXPECT_EQ(s.form.RichEdit1.fontColor, 0x008000u);
    EXPECT_EQ(s.form.Edit8.text, "  QRV Writer connected");
    EXPECT_EQ(test::Pump(s), 1);  // the RPL_STATUS
}

TEST_F(Connection, StartUpWithoutProgrammerShowsUnconnected) {
    test::FakeSeam seam;
    MainSession s(seam, ui, clock);
    s.FormCreate();
    EXPECT_EQ(s.form.caption, "QRV Writer V2.6 QRV Writer unconnected");
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{"   QRV Writer unconnected"});
    EXPECT_EQ(s.form.RichEdit1.fontColor, 0x0000FFu);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Connection, ConnectWithNothingAttachedLeavesTheButtonDisabledUntilADeviceChange) {
    test::FakeSeam seam;
    MainSession s(seam, ui, clock);
    s.FormCreate();
    s.Button7Click();
    EXPECT_FALSE(s.form.Button7.enabled);
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{"   QRV Writer unconnected"});
    test::FakeDevice& dev = seam.Add(test::FakeInterface{"p"});
    s.OnDeviceChange({DeviceChangeKind::Arrival, {}});
    s.OnDeviceChange({DeviceChangeKind::NodesChanged, {}});
    EXPECT_TRUE(s.Connected());
    // Arrival then node change: two connections, one CMD_STATUS each.
    auto written = dev.Written();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0][3], CMD_STATUS);
    EXPECT_EQ(written[1][3], CMD_STATUS);
}

TEST_F(Connection, UnplugAndPlugChangeTheLineWithoutUserAction) {
    sim::SimSeam seam(sim::SimOptions{0});
    MainSession s(seam, ui, clock);
    seam.SetChangeListener([&](const DeviceChange& c) { s.OnDeviceChange(c); });
    s.FormCreate();
    test::Pump(s);
    seam.Unplug();
    EXPECT_FALSE(s.Connected());
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{"   QRV Writer unconnected"});
    seam.Plug();
    EXPECT_TRUE(s.Connected());
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{"  QRV Writer connected"});
    EXPECT_GE(test::Pump(s), 1);
    seam.SetChangeListener({});
}

TEST_F(Connection, ASendWhileNotConnectedWritesNothing) {
    test::FakeSeam seam;
    MainSession s(seam, ui, clock);
    s.FormCreate();
    s.SendCommand(CMD_STATUS, 0);
    EXPECT_EQ(s.buffer.Host(1), 0);  // no frame was even built
}

TEST_F(Connection, AProgrammerThatCannotBeReadShowsUnconnectedAndSaysWhyOnce) {
    test::FakeSeam seam;
    test::FakeInterface p{"/dev/hidraw3"};
    p.readOpenFails = true;
    seam.Add(p);
    MainSession s(seam, ui, clock);
    s.FormCreate();
    s.ConnectProgrammer();
    EXPECT_FALSE(s.Connected());
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{"   QRV Writer unconnected"});
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("/dev/hidraw3"), std::string::npos);
}

TEST_F(Connection, UnpluggingDuringADownloadEndsTheTransfer) {
    sim::SimSeam seam(sim::SimOptions{0});
    MainSession s(seam, ui, clock);
    seam.SetChangeListener([&](const DeviceChange& c) { s.OnDeviceChange(c); });
    s.FormCreate();
    test::Pump(s);
    const std::string path = ::testing::TempDir() + "unplug.hex";
    {
        std::ofstream out(path, std::ios::binary);
        for (int a = 0; a < 0x400; a += 16)
            out << test::DataRecord(a, std::vector<uint8_t>(16, 0x5A)) << "\r\n";
        out << ":00000001FF\r\n";
    }
    ASSERT_EQ(s.ImportFile(path), ImportResult::Requested);
    while (!s.form.ProgressBar5.visible)
        ASSERT_TRUE(s.Channel().WaitAndDispatch(std::chrono::seconds(5),
                                                [&](const Report& r) { s.OnReply(r); }));
    seam.Unplug();
    EXPECT_FALSE(s.form.ProgressBar5.visible);
    EXPECT_TRUE(s.form.Edit1.visible);
    EXPECT_FALSE(s.TransferActive());
    EXPECT_EQ(ui.messages, std::vector<std::string>{kDownloadInterrupted});
    seam.SetChangeListener({});
}

}  // namespace
}  // namespace qrv
