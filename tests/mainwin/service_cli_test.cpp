// The service commands of qrv-writer-cli end to end on the simulated
// programmer: read-back files that other tools read, the firmware
// replacement, and the requests the programmer only records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "common/atomic_file.h"
#include "common/hex.h"
#include "sim/sim_seam.h"
#include "tests/mainwin/session_fixture.h"
#include "tests/support/cli_run.h"

namespace qrv {
namespace {

using test::RunTool;

sim::SimOptions Quick(bool oldFirmware = false) {
    sim::SimOptions o;
    o.latencyUs = 0;
    o.oldFirmware = oldFirmware;
    return o;
}

std::string Temp(const std::string& name) {
    return testing::TempDir() + "qrv-service-" + name;
}

std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = Temp(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return path;
}

std::string Read(const std::string& path) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(path, &text, nullptr)) << path;
    return text;
}

TEST(CliReadBack, TheChipComesBackAsIntelHexThatOtherToolsRead) {
    constexpr unsigned kLength = 0x1234;
    sim::SimSeam seam(Quick());
    // A stored image sets the length; the chip holds a pattern of its own.
    std::vector<std::string> lines;
    const std::vector<uint8_t> zeros(16, 0);
    for (unsigned a = 0; a < kLength; a += 16)
        lines.push_back(IntelHexDataRecord(a, zeros.data(), std::min(16u, kLength - a)));
    lines.emplace_back(kIntelHexEndOfFile);
    const std::string image = Temp("image.hex");
    ASSERT_TRUE(WriteFileAtomically(image, JoinCrLf(lines), nullptr));
    std::vector<uint8_t> chip(kLength);
    for (unsigned i = 0; i < kLength; ++i) chip[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
    seam.WithDevice([&](sim::SimProgrammer& d) {
        std::copy(chip.begin(), chip.end(), d.MutableChip().flash.begin());
    });

    const std::string raw = Temp("chip.raw"), hex = Temp("chip.hex");
    const test::ToolRun r =
        RunTool({"download", image, "read-chip", "--raw", raw, "read-chip", hex}, &seam);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("read-chip: 4660 bytes to " + hex), std::string::npos);
    // --raw belonged to its own occurrence: the window's lines, plain sums.
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) sum += chip[static_cast<std::size_t>(i)];
    const std::vector<std::string> rawLines = SplitLines(Read(raw));
    EXPECT_EQ(rawLines.front(), ":10000000" + HexBytes(chip.data(), 16) + H2(sum & 0xFF));
    EXPECT_EQ(rawLines.size(), (kLength + 15) / 16);

    const std::string bin = Temp("chip.bin");
    ASSERT_EQ(std::system(("srec_cat " + hex + " -intel -o " + bin + " -binary").c_str()), 0)
        << "srec_cat (package srecord, see scripts/setup.sh) refused the file";
    EXPECT_EQ(Read(bin), std::string(chip.begin(), chip.end()));

    // The project's own loader takes the file too.
    sim::SimSeam other(Quick());
    ASSERT_EQ(RunTool({"download", hex}, &other).rc, 0);
    const auto stored = other.WithDevice([](sim::SimProgrammer& d) { return d.Storage(); });
    EXPECT_TRUE(std::equal(chip.begin(), chip.end(), stored.begin()));
}

Report Reply(uint8_t code, std::initializer_list<std::pair<int, int>> bytes) {
    return test::MakeReply(code, bytes);
}

TEST(CliReadBack, BlocksThatStopShortExitOneAfterASecond) {
    test::FakeSeam seam;
    test::FakeDevice& dev = seam.Add(test::FakeInterface{"/dev/hidraw7"});
    for (const Report& r :
         {Reply(RPL_STATUS, {{7, 0}, {8, 0x40}, {26, 0xFF}, {61, 'A'}, {63, '3'}, {64, '6'}}),
          Reply(RPL_CHIP_BLOCK, {{2, 16}}), Reply(RPL_CHIP_BLOCK, {{2, 16}, {5, 16}})})
        dev.Push(std::vector<uint8_t>(r.begin(), r.end()));
    const std::string hex = Temp("short.hex");
    const test::ToolRun r = RunTool({"read-chip", hex}, &seam);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "read-chip: 32 bytes to " + hex + "\n");
    EXPECT_NE(r.err.find("read 32 of 64 bytes"), std::string::npos);
    EXPECT_EQ(SplitLines(Read(hex)).size(), 3u);  // two records and the end of file
}

// The records of `bytes` at `from`, 16 bytes each, and the end-of-file record.
std::vector<std::string> Records(unsigned from, unsigned count,
                                 std::vector<std::string> lines = {}) {
    for (unsigned a = from; a < from + count; a += 16) {
        std::vector<uint8_t> data;
        for (unsigned i = a; i < std::min(a + 16, from + count); ++i)
            data.push_back(static_cast<uint8_t>(i * 7 + 1));
        lines.push_back(IntelHexDataRecord(a, data.data(), static_cast<unsigned>(data.size())));
    }
    return lines;
}

TEST(CliReadBack, AfterADownloadBothReadBacksEndWhereTheStoredImageEnds) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        const char* command;
        unsigned bytes;
    } cases[] = {
        // The last address, 118, is a multiple of 59.
        {"59", Records(0, 119), "read-cache", 119},
        // Out of address order: the image ends at 0x1FFF, not after the last record.
        {"order", Records(0, 0x1000, Records(0x1000, 0x1000)), "read-chip", 0x2000},
    };
    for (Case& c : cases) {
        sim::SimSeam seam(Quick());
        c.lines.emplace_back(kIntelHexEndOfFile);
        const std::string image = Temp(std::string("stored-") + c.name + ".hex");
        ASSERT_TRUE(WriteFileAtomically(image, JoinCrLf(c.lines), nullptr));
        const std::string out = Temp(std::string("back-") + c.name + ".hex");
        const test::ToolRun r = RunTool({"download", image, c.command, out}, &seam);
        EXPECT_EQ(r.rc, 0) << c.name << r.err;
        EXPECT_NE(r.out.find(std::string(c.command) + ": " + std::to_string(c.bytes) + " bytes"),
                  std::string::npos)
            << r.out;
        unsigned total = 0;
        for (const std::string& line : SplitLines(Read(out)))
            if (line.size() > 3 && line.compare(7, 2, "00") == 0)
                total += std::stoul(line.substr(1, 2), nullptr, 16);
        EXPECT_EQ(total, c.bytes) << c.name;
        EXPECT_TRUE(seam.ProtocolErrors().empty()) << c.name;
    }
}

TEST(CliUpdate, TheSimulatorTakesItsTestImageAndThenReportsThreeSix) {
    std::vector<uint8_t> other = sim::TestFirmwareImage();
    other.back() ^= 1;
    const std::string good = WriteBytes("fw-good.bin", sim::TestFirmwareImage());
    const std::string bad = WriteBytes("fw-bad.bin", other);
    struct Case {
        std::vector<std::string> args;
        int rc;
        const char* version;  // what the programmer reports afterwards
    } cases[] = {
        {{"--simulate", "update-firmware"}, 0, "3.6"},
        {{"--simulate", "--firmware", Temp("missing"), "update-firmware", good}, 0, "3.6"},
        {{"--simulate", "update-firmware", bad}, 1, "3.5"},
        {{"--simulate", "--firmware", Temp("missing"), "update-firmware"}, 2, "3.5"},
        {{"--simulate", "update-firmware", WriteBytes("fw-short.bin", {1, 2, 3})}, 2, "3.5"},
    };
    for (const Case& c : cases) {
        sim::SimSeam seam(Quick(true));
        const test::ToolRun r = RunTool(c.args, &seam);
        EXPECT_EQ(r.rc, c.rc) << c.args.back() << r.err;
        EXPECT_EQ(seam.WithDevice([](sim::SimProgrammer& d) { return d.FirmwareVersion(); }),
                  c.version);
        if (c.rc == 0) {
            EXPECT_NE(r.out.find("firmware: 3.6\n"), std::string::npos);
        }
        if (c.rc != 1) {
            EXPECT_TRUE(seam.ProtocolErrors().empty()) << c.args.back();
        }
    }
}

TEST(CliService, ModeAndEepromReachTheProgrammerAndBadValuesSendNothing) {
    sim::SimSeam seam(Quick());
    const test::ToolRun r = RunTool({"mode", "S3_48K", "eeprom-read", "0xa3", "24C04"}, &seam);
    EXPECT_EQ(r.out,
              "mode: sent CMD_WRITER_MODE 0x8FFF (S3_48K)\neeprom-read: sent CMD_EEPROM_READ "
              "0x02A3 (device 0xA3, 24C04)\n");
    ASSERT_TRUE(seam.Flush());
    const std::vector<sim::RecordedCommand> recorded =
        seam.WithDevice([](sim::SimProgrammer& d) { return d.Recorded(); });
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].argument, 0x8FFFu);
    EXPECT_EQ(recorded[1].argument, 0x02A3u);
    for (std::vector<std::string> bad : {std::vector<std::string>{"mode", "S3_49K"},
                                         {"eeprom-read", "0xA8", "24C04"},
                                         {"eeprom-write", "0xA3"},
                                         {"status", "eeprom-read", "0xA3", "24C08"}}) {
        sim::SimSeam fresh(Quick());
        EXPECT_EQ(RunTool(bad, &fresh).rc, 2) << bad.back();
        EXPECT_TRUE(fresh.WithDevice([](sim::SimProgrammer& d) { return d.Received().empty(); }));
    }
}

}  // namespace
}  // namespace qrv
