// The loader against the simulated programmer's device logic, reply by reply,
// without threads: the stored image must be the file's bytes, the production
// records must arrive, and the strict device must find no protocol error.
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "sim/programmer.h"
#include "tests/image/loader_fixture.h"

namespace qrv::test {
namespace {

class LoaderSimTest : public ::testing::Test {
  protected:
    struct Outcome {
        bool done = false;
        bool downloadError = false;
        uint16_t checksum = 0;
        int resends = 0;
    };

    // Imports `lines` and answers each reply as the main window's dispatcher
    // does for a download, until the device has nothing more to say.
    Outcome Run(const std::vector<std::string>& lines, sim::SimOptions options = {}) {
        device = std::make_unique<sim::SimProgrammer>(options);
        std::deque<Report> replies;
        host.device = [&](const Report& r) {
            for (const Report& reply : device->Handle(r)) replies.push_back(reply);
        };
        loader.ResetForImport();
        loader.Load(ImageBuffer(lines));
        loader.SendDownloadRequest();
        Outcome outcome;
        for (int guard = 0; guard < 100000 && !replies.empty(); ++guard) {
            const Report reply = replies.front();
            replies.pop_front();
            host.buffer.SetDeviceReport(reply);
            switch (reply[3]) {
                case RPL_DOWNLOAD_READY: {
                    uint8_t* r = host.buffer.HostReport();
                    r[0] = 0;
                    r[1] = ':';
                    r[2] = 4;
                    r[3] = CMD_DOWNLOAD_BEGIN;
                    r[4] = static_cast<uint8_t>(host.StartAddress >> 8);
                    r[5] = static_cast<uint8_t>(host.StartAddress);
                    r[6] = static_cast<uint8_t>(host.EndAddress >> 8);
                    r[7] = static_cast<uint8_t>(host.EndAddress);
                    host.WriteHostReport();
                    host.buffer.ClearHostReport();
                    break;
                }
                case RPL_BLOCK_ACK:
                    loader.SendNextBlock();
                    break;
                case RPL_RESEND:
                    ++outcome.resends;
                    host.WriteHostReport();
                    break;
                case RPL_DOWNLOAD_DONE:
                    outcome.done = true;
                    outcome.checksum = static_cast<uint16_t>(reply[7] << 8 | reply[8]);
                    if ((reply[11] << 8 | reply[12]) > host.EndAddress)
                        host.EndAddress = reply[11] << 8 | reply[12];
                    break;
                case RPL_DOWNLOAD_ERROR:
                    outcome.downloadError = true;
                    host.SendCommand(CMD_DOWNLOAD_ABORT, 0);
                    break;
                default:
                    break;
            }
            host.buffer.ClearDeviceReport();
        }
        return outcome;
    }

    void ExpectStored(const std::vector<std::string>& lines) {
        const Memory expected = ExpectedMemory(lines);
        for (std::size_t a = 0; a < 0x10000; ++a) {
            if (expected.written[a])
                ASSERT_EQ(device->Storage()[a], expected.bytes[a]) << a;
            else
                ASSERT_EQ(device->Storage()[a], 0xFF) << a;
        }
        EXPECT_TRUE(device->ProtocolErrors().empty())
            << ::testing::PrintToString(device->ProtocolErrors());
    }

    FakeLoaderHost host;
    HexLoader loader{host};
    std::unique_ptr<sim::SimProgrammer> device;
};

std::vector<std::string> Contiguous(int recordLength, int end) {
    std::vector<std::string> lines = {":020000040000FA"};
    for (int a = 0; a < end; a += recordLength)
        lines.push_back(DataRecord(a, Counting(std::min(recordLength, end - a), a * 5)));
    lines.push_back(":00000001FF");
    return lines;
}

TEST_F(LoaderSimTest, SixteenByteRecordsAreStoredByteForByte) {
    const auto lines = Contiguous(16, 0x8000);
    const Outcome outcome = Run(lines);
    ASSERT_TRUE(outcome.done);
    ExpectStored(lines);
    EXPECT_EQ(outcome.checksum, device->StoredChecksum());
    EXPECT_EQ(host.EndAddress, 0x7FFF);
}

TEST_F(LoaderSimTest, RecordsOf255BytesAreStoredByteForByte) {
    const auto lines = Contiguous(255, 0x10000);
    ASSERT_TRUE(Run(lines).done);
    ExpectStored(lines);
}

TEST_F(LoaderSimTest, LastReportFullOnTheLastLine) {
    const std::vector<std::string> lines = {":020000040000FA", DataRecord(0x100, Counting(59))};
    ASSERT_TRUE(Run(lines).done);
    ExpectStored(lines);
    EXPECT_EQ(device->ImageLength(), 0x100u + 59);
}

TEST_F(LoaderSimTest, ResendRequestsRepeatTheSameReport) {
    for (int every : {2, 3, 7}) {
        SCOPED_TRACE(every);
        sim::SimOptions options;
        options.resendEvery = every;
        const auto lines = Contiguous(16, 0x2000);
        const Outcome outcome = Run(lines, options);
        ASSERT_TRUE(outcome.done);
        EXPECT_GT(outcome.resends, 0);
        ExpectStored(lines);
    }
}

TEST_F(LoaderSimTest, RandomFilesWithGapsAndResends) {
    std::mt19937 random(11);
    for (int round = 0; round < 10; ++round) {
        std::vector<std::string> lines = {":020000040000FA"};
        int address = static_cast<int>(random() % 100);
        while (address < 0xE000) {
            const int length = static_cast<int>(random() % 256);
            std::vector<uint8_t> data;
            for (int i = 0; i < length; ++i) data.push_back(static_cast<uint8_t>(random()));
            lines.push_back(DataRecord(address, data));
            address += length + static_cast<int>(random() % 80);
        }
        std::shuffle(lines.begin() + 1, lines.end(), random);
        sim::SimOptions options;
        options.resendEvery = static_cast<int>(random() % 6);
        ASSERT_TRUE(Run(lines, options).done)
            << round << ::testing::PrintToString(device->ProtocolErrors());
        ExpectStored(lines);
    }
}

TEST_F(LoaderSimTest, ProductionFileRecordsReachTheProgrammer) {
    std::vector<uint8_t> block = {0x00, 0x00, 0x7F, 0xFF, 0x85};
    for (char c : std::string("QM-017ABCDE")) block.push_back(static_cast<uint8_t>(c));
    block.insert(block.end(), {0x5A, 0x12, 0x03, 0x01, 0x0D});
    std::vector<std::string> lines = {":10000022414D4354321", ":05000022415344330241420C",
                                      ":15000022515256" + HexBytes(block.data(), block.size())};
    const auto image = Contiguous(16, 0x400);
    lines.insert(lines.end(), image.begin(), image.end());
    sim::SimOptions options;
    options.resendEvery = 4;
    ASSERT_TRUE(Run(lines, options).done);
    ExpectStored(lines);
    ASSERT_TRUE(device->Config().has_value());
    EXPECT_TRUE(std::equal(block.begin(), block.end(), device->Config()->block.begin()));
    ASSERT_TRUE(device->UserCode().has_value());
    EXPECT_EQ(*device->UserCode(), (std::vector<uint8_t>{0x33, 0x02, 0x41, 0x42, 0x0C}));
    EXPECT_EQ(device->FileKind(), 0x5A);
}

TEST_F(LoaderSimTest, FormatErrorLeavesTheProgrammerOutOfItsDownload) {
    std::vector<std::string> lines = Contiguous(16, 0x200);
    lines[5].resize(20);
    const Outcome outcome = Run(lines);
    EXPECT_FALSE(outcome.done);
    EXPECT_EQ(host.interaction.messages, std::vector<std::string>{kFormatErrorText});
    EXPECT_FALSE(device->DownloadInProgress());
    EXPECT_TRUE(device->ProtocolErrors().empty());
}

TEST_F(LoaderSimTest, RefusedFileLeavesTheProgrammerOutOfItsDownload) {
    std::vector<std::string> lines = {":15000022515256" + std::string(42, '0')};
    const auto image = Contiguous(16, 0x100);
    lines.insert(lines.end(), image.begin(), image.end());
    EXPECT_FALSE(Run(lines).done);
    EXPECT_EQ(host.interaction.messages, std::vector<std::string>{kFileRefusedText});
    EXPECT_FALSE(device->DownloadInProgress());
    EXPECT_TRUE(device->ProtocolErrors().empty());
}

}  // namespace
}  // namespace qrv::test
