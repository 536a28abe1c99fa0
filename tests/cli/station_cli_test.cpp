// qrv-writer-cli with several programmers attached: --device chooses one, and
// without it the tool refuses rather than guess.
#include <gtest/gtest.h>

#include "common/atomic_file.h"
#include "sim/station_seam.h"
#include "tests/support/cli_run.h"
#include "tests/support/fake_hid.h"
#include "tests/support/hex_lines.h"

namespace qrv {
namespace {

using test::RunTool;

sim::StationOptions Station(int count) {
    sim::StationOptions o;
    o.count = count;
    for (sim::SimOptions& p : o.programmers) p.latencyUs = 0;
    return o;
}

TEST(StationCli, DeviceDownloadsIntoThatProgrammerAlone) {
    sim::SimStationSeam seam(Station(3));
    const std::string file = testing::TempDir() + "qrv-station.hex";
    ASSERT_TRUE(WriteFileAtomically(
        file, test::DataRecord(0, test::Counting(16, 0x40)) + "\r\n:00000001FF\r\n", nullptr));
    const test::ToolRun r = RunTool({"--device", "1-1.2", "download", file}, &seam);
    ASSERT_EQ(r.rc, 0) << r.err;
    for (int k = 1; k <= 3; ++k) {
        const auto storage = seam.Programmer(k).WithDevice([](sim::SimProgrammer& d) {
            return std::vector<uint8_t>(d.Storage().begin(), d.Storage().begin() + 16);
        });
        EXPECT_EQ(storage, k == 2 ? test::Counting(16, 0x40) : std::vector<uint8_t>(16, 0xFF)) << k;
    }
}

TEST(StationCli, SeveralAttachedWithoutDeviceIsRefusedWithTheList) {
    sim::SimStationSeam seam(Station(2));
    const test::ToolRun r = RunTool({"status"}, &seam);
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("2 programmers are attached"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("0 1-1.1 SIM0001 sim:qrv-programmer-1\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 1-1.2 SIM0002 sim:qrv-programmer-2\n"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST(StationCli, ListFlagsSerialsAndASharedOneIsRefused) {
    sim::StationOptions o = Station(3);
    o.serials[1] = "";
    o.serials[2] = "SIM0001";
    sim::SimStationSeam seam(o);
    const test::ToolRun list = RunTool({"list"}, &seam);
    EXPECT_EQ(list.rc, 0);
    EXPECT_EQ(list.out,
              "0 1-1.1 SIM0001 sim:qrv-programmer-1 0483:5750 [duplicate serial]\n"
              "1 1-1.2 - sim:qrv-programmer-2 0483:5750 [no serial]\n"
              "2 1-1.3 SIM0001 sim:qrv-programmer-3 0483:5750 [duplicate serial]\n");
    const test::ToolRun shared = RunTool({"--device", "SIM0001", "status"}, &seam);
    EXPECT_EQ(shared.rc, 2);
    EXPECT_NE(shared.err.find("1-1.1 and 1-1.3"), std::string::npos) << shared.err;
}

TEST(StationCli, ListStatusShowsWhatEachProgrammerStores) {
    sim::SimStationSeam seam(Station(2));
    const test::ToolRun r = RunTool({"list", "--status"}, &seam);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out,
              "0 1-1.1 SIM0001 sim:qrv-programmer-1 0483:5750\n"
              "  firmware: 3.6, model: , checksum: 0000H\n"
              "1 1-1.2 SIM0002 sim:qrv-programmer-2 0483:5750\n"
              "  firmware: 3.6, model: , checksum: 0000H\n");
}

// A programmer whose node another process has locked.
class HeldSeam : public test::FakeSeam {
  public:
    std::string OpenError() const override { return "in use by process 42 (qrv-writer-cli)"; }
};

TEST(StationCli, AProgrammerAnotherProcessHoldsIsSkippedAndSaysByWhom) {
    HeldSeam seam;
    test::FakeInterface held{"/dev/hidraw4"};
    held.writeOpenFails = true;
    seam.Add(held);
    const test::ToolRun list = RunTool({"list", "--status"}, &seam);
    EXPECT_EQ(list.rc, 3);
    EXPECT_EQ(list.out,
              "0 /dev/hidraw4 0483:5750 cannot be opened for writing: in use by process 42 "
              "(qrv-writer-cli)\n  status skipped: in use by process 42 (qrv-writer-cli)\n");
    EXPECT_EQ(list.err.find("udev"), std::string::npos) << list.err;
    const test::ToolRun status = RunTool({"status"}, &seam);
    EXPECT_EQ(status.rc, 3);
    EXPECT_NE(status.err.find("/dev/hidraw4 正被其他进程使用: in use by process 42"),
              std::string::npos)
        << status.err;
}

}  // namespace
}  // namespace qrv
