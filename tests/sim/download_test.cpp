// Downloads into the simulated programmer's storage: the handshake, the stored
// image and its checksum, production records, aborts, firmware replacement,
// the order a careful device insists on, and the read-back of the storage.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "tests/sim/host.h"

namespace qrv::sim {
namespace {

using test::Be16;
using test::Begin;
using test::Block;
using test::Bytes;
using test::End;
using test::FileRequest;
using test::Record;
using test::Short;

struct Download : ::testing::Test {
    SimProgrammer dev{SimOptions{0}};
    test::Host host{dev};
};

TEST_F(Download, HandshakeAcknowledgesEveryBlockWithTheCountReceived) {
    host.One(FileRequest(), RPL_DOWNLOAD_READY);
    EXPECT_TRUE(dev.DownloadInProgress());
    EXPECT_EQ(Be16(host.One(Begin(), RPL_BLOCK_ACK), 5), 0u);
    EXPECT_EQ(Be16(host.One(Block(0, Bytes(59, 0)), RPL_BLOCK_ACK), 5), 59u);
    EXPECT_EQ(Be16(host.One(Block(59, Bytes(59, 59)), RPL_BLOCK_ACK), 5), 118u);
    EXPECT_EQ(Be16(host.One(Block(118, Bytes(10, 118)), RPL_BLOCK_ACK), 5), 128u);
    const Report done = host.One(End(127, 0xFF), RPL_DOWNLOAD_DONE);
    EXPECT_EQ(done[6], 1);
    EXPECT_EQ(Be16(done, 11), 127u);
    EXPECT_EQ(Be16(done, 7), (127u * 128 / 2) & 0xFFFF);
    EXPECT_FALSE(dev.DownloadInProgress());
    EXPECT_EQ(dev.ImageLength(), 128u);
    EXPECT_EQ(dev.FileKind(), 0xFF);
    EXPECT_EQ(dev.CompletedDownloads(), 1);
    for (unsigned i = 0; i < 128; ++i) ASSERT_EQ(dev.Storage()[i], i);
    EXPECT_EQ(dev.Storage()[128], 0xFF);
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST_F(Download, ChecksumIsTheConfigurationWindowsNumber) {
    // One record 01 02 03 04 at 0: 000A.
    EXPECT_EQ(Be16(host.Download({{0, {1, 2, 3, 4}}}, 3), 7), 0x000Au);
    // Sixteen zero bytes at 0x1000: the 0x1000 bytes before count 0xFF each.
    EXPECT_EQ(Be16(host.Download({{0x1000, Bytes(16, 0, 0)}}, 0x100F), 7), 0xF000u);
    EXPECT_EQ(dev.StoredChecksum(), 0xF000u);
    EXPECT_EQ(dev.ImageLength(), 0x1010u);
    // Two 16-byte records with a 16-byte gap filled by the host.
    std::vector<uint8_t> first = Bytes(16, 1);
    std::vector<uint8_t> joined = first;
    joined.insert(joined.end(), 16, 0xFF);
    const std::vector<uint8_t> second = Bytes(16, 0x40);
    joined.insert(joined.end(), second.begin(), second.end());
    const unsigned sum = std::accumulate(first.begin(), first.end(), 0u) + 16 * 255 +
                         std::accumulate(second.begin(), second.end(), 0u);
    EXPECT_EQ(Be16(host.Download({{0, joined}}, 0x2F), 7), sum & 0xFFFF);
}

TEST_F(Download, EmptyFileStoresNothing) {
    host.Download({{0, {9}}}, 0);
    const Report done = host.Download({}, 0);
    EXPECT_EQ(Be16(done, 7), 0u);
    EXPECT_EQ(Be16(done, 11), 0u);
    EXPECT_EQ(dev.ImageLength(), 0u);
    EXPECT_EQ(dev.Storage()[0], 0xFF);
}

TEST_F(Download, BlocksMayGoBackAndOverlapTheLaterWins) {
    const Report done = host.Download({{0x100, {1, 2, 3}}, {0x10, {7}}, {0x101, {9}}}, 0x102);
    EXPECT_EQ(dev.Storage()[0x10], 7);
    EXPECT_EQ(dev.Storage()[0x101], 9);
    EXPECT_EQ(dev.ImageLength(), 0x103u);
    EXPECT_EQ(Be16(done, 11), 0x102u);
    // The end address the host sends does not move the stored end.
    host.Download({{0, {5}}}, 1);
    EXPECT_EQ(dev.ImageLength(), 1u);
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST_F(Download, FullStorageEndsAtFFFF) {
    host.One(FileRequest(), RPL_DOWNLOAD_READY);
    host.One(Begin(), RPL_BLOCK_ACK);
    host.One(Block(0xFFC5, Bytes(59, 0)), RPL_BLOCK_ACK);
    const Report done = host.One(End(0xFFFF, 0xFF), RPL_DOWNLOAD_DONE);
    EXPECT_EQ(Be16(done, 11), 0xFFFFu);
    EXPECT_EQ(dev.ImageLength(), 0x10000u);
    const Report status = host.One(Short(CMD_STATUS), RPL_STATUS);
    EXPECT_EQ(Be16(status, 7), 0xFFFFu);
}

TEST_F(Download, ProductionFileKeepsItsRecords) {
    const std::vector<uint8_t> userCode = {0xA2, 0x02, 'A', 'B', 0x0C};
    const auto config = test::ConfigBlock("QRV32K-R024", 0x9C, 0x05, 0x0F, 0x82, 3);
    host.One(FileRequest(true), RPL_DOWNLOAD_READY);
    host.One(Begin(), RPL_BLOCK_ACK);
    EXPECT_EQ(Be16(host.One(Record(CMD_USER_CODE_RECORD, userCode), RPL_BLOCK_ACK), 5), 5u);
    EXPECT_EQ(Be16(host.One(Record(CMD_CONFIG_RECORD, config), RPL_BLOCK_ACK), 5), 26u);
    EXPECT_EQ(Be16(host.One(Block(0, {1, 2}), RPL_BLOCK_ACK), 5), 28u);
    const Report done = host.One(End(1, 0x9C), RPL_DOWNLOAD_DONE);
    EXPECT_EQ(Be16(done, 7), 3u);
    EXPECT_EQ(dev.FileKind(), 0x9C);
    ASSERT_TRUE(dev.Config().has_value());
    EXPECT_EQ(dev.Config()->DeviceCode(), "QRV32K-R024");
    EXPECT_EQ(dev.Config()->Marker(), 0x9C);
    EXPECT_EQ(dev.Config()->EndAddress(), 0x7FFFu);
    EXPECT_EQ(dev.Config()->OptionBits(), 0x05);
    EXPECT_EQ(dev.Config()->HardLockSize(), 0x82);
    EXPECT_EQ(dev.Config()->DataFlashSize(), 3);
    EXPECT_EQ(dev.Config()->AutoSteps(), 0x0F);
    ASSERT_TRUE(dev.UserCode().has_value());
    EXPECT_EQ(*dev.UserCode(), userCode);
    EXPECT_TRUE(dev.ProtocolErrors().empty());

    // A later plain download replaces the production file.
    host.Download({{0, {1}}}, 0);
    EXPECT_EQ(dev.FileKind(), 0xFF);
    EXPECT_FALSE(dev.Config().has_value());
    EXPECT_FALSE(dev.UserCode().has_value());
}

TEST_F(Download, AbortDiscardsTheTransferAndKeepsTheStoredImage) {
    host.Download({{0, {1, 2, 3}}}, 2);
    host.One(FileRequest(), RPL_DOWNLOAD_READY);
    host.One(Begin(), RPL_BLOCK_ACK);
    host.One(Block(0, {9, 9, 9, 9, 9}), RPL_BLOCK_ACK);
    EXPECT_TRUE(host.Send(Short(CMD_DOWNLOAD_ABORT)).empty());
    EXPECT_FALSE(dev.DownloadInProgress());
    EXPECT_EQ(dev.ImageLength(), 3u);
    EXPECT_EQ(dev.Storage()[0], 1);
    // The end of the abandoned transfer is now outside any download.
    EXPECT_TRUE(host.Send(End(4, 0xFF)).empty());
    ASSERT_EQ(dev.ProtocolErrors().size(), 1u);
    EXPECT_EQ(dev.ProtocolErrors()[0], "CMD_DOWNLOAD_END: outside a download");
}

TEST_F(Download, NewRequestRestartsAnUnfinishedDownload) {
    host.One(FileRequest(), RPL_DOWNLOAD_READY);
    host.One(Begin(), RPL_BLOCK_ACK);
    host.One(Block(0, {9, 9}), RPL_BLOCK_ACK);
    host.Download({{0, {1}}}, 0);
    EXPECT_EQ(dev.ImageLength(), 1u);
    EXPECT_EQ(dev.Storage()[1], 0xFF);
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST_F(Download, EraseStorageForgetsTheImage) {
    host.DownloadProduction(test::ConfigBlock(), {{0, {1, 2}}}, 1);
    host.One(Short(CMD_ERASE_STORAGE), RPL_STORAGE_ERASED);
    EXPECT_EQ(dev.ImageLength(), 0u);
    EXPECT_EQ(dev.StoredChecksum(), 0u);
    EXPECT_EQ(dev.FileKind(), 0xFF);
    EXPECT_FALSE(dev.Config().has_value());
    EXPECT_EQ(dev.Storage()[0], 0xFF);
}

// --- Misbehaviour: RPL_DOWNLOAD_ERROR at the N-th block ---------------------

TEST(DownloadError, NthBlockIsRefusedUntilTheHostAborts) {
    SimOptions o{0};
    o.downloadErrorAt = 2;
    SimProgrammer dev(o);
    test::Host host{dev};
    host.Download({{0, {7}}}, 0);  // a download of one block passes
    host.One(FileRequest(), RPL_DOWNLOAD_READY);
    host.One(Begin(), RPL_BLOCK_ACK);
    host.One(Block(0, Bytes(59, 0)), RPL_BLOCK_ACK);
    const Report error = host.One(Block(59, Bytes(59, 0)), RPL_DOWNLOAD_ERROR);
    EXPECT_EQ(error[6], 1);
    EXPECT_TRUE(host.Send(Short(CMD_DOWNLOAD_ABORT)).empty());
    EXPECT_FALSE(dev.DownloadInProgress());
    EXPECT_EQ(dev.ImageLength(), 1u);  // the earlier image stays
    EXPECT_EQ(dev.Storage()[0], 7);
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST(DownloadError, BlockAfterTheErrorIsAProtocolError) {
    SimOptions o{0};
    o.downloadErrorAt = 1;
    SimProgrammer dev(o);
    test::Host host{dev};
    host.One(FileRequest(), RPL_DOWNLOAD_READY);
    host.One(Begin(), RPL_BLOCK_ACK);
    host.One(Block(0, {1}), RPL_DOWNLOAD_ERROR);
    host.One(Block(1, {1}), RPL_DOWNLOAD_ERROR);
    ASSERT_EQ(dev.ProtocolErrors().size(), 1u);
    EXPECT_EQ(dev.ProtocolErrors()[0],
              "CMD_WRITE_BLOCK: after RPL_DOWNLOAD_ERROR, before CMD_DOWNLOAD_ABORT");
}

// --- Strictness: the order and shape of download reports ------------------

struct DownloadOrder : Download {
    void StartPlain() {
        host.One(FileRequest(), RPL_DOWNLOAD_READY);
        host.One(Begin(), RPL_BLOCK_ACK);
    }
    void StartProduction() {
        host.One(FileRequest(true), RPL_DOWNLOAD_READY);
        host.One(Begin(), RPL_BLOCK_ACK);
    }
    // Expects that r is refused with RPL_DOWNLOAD_ERROR and one protocol error
    // containing `what`.
    void ExpectRefused(const Report& r, const std::string& what) {
        const Report e = host.One(r, RPL_DOWNLOAD_ERROR);
        EXPECT_EQ(e[6], 1);
        ASSERT_EQ(dev.ProtocolErrors().size(), 1u);
        EXPECT_NE(dev.ProtocolErrors()[0].find(what), std::string::npos) << dev.ProtocolErrors()[0];
        EXPECT_EQ(dev.ImageLength(), 0u);
    }
};

TEST_F(DownloadOrder, BlockCountMustBeOneTo59) {
    StartPlain();
    Report r = Block(0, {1});
    r[2] = 0;
    ExpectRefused(r, "block count 0 outside 1..59");
}

TEST_F(DownloadOrder, BlockCountOf60IsRefused) {
    StartPlain();
    Report r = Block(0, Bytes(59, 0));
    r[2] = 60;
    ExpectRefused(r, "block count 60");
}

TEST_F(DownloadOrder, BlockMustStayInside64KiB) {
    StartPlain();
    ExpectRefused(Block(0xFFF0, Bytes(17, 0)), "run past the 64 KiB storage");
}

TEST_F(DownloadOrder, BlockOutsideADownloadGetsNoReply) {
    EXPECT_TRUE(host.Send(Block(0, {1})).empty());
    EXPECT_TRUE(host.Send(Begin()).empty());
    EXPECT_TRUE(host.Send(Record(CMD_CONFIG_RECORD, test::ConfigBlock())).empty());
    EXPECT_EQ(dev.ProtocolErrors().size(), 3u);
}

TEST_F(DownloadOrder, BlockBeforeBeginIsRefused) {
    host.One(FileRequest(), RPL_DOWNLOAD_READY);
    ExpectRefused(Block(0, {1}), "before CMD_DOWNLOAD_BEGIN");
}

TEST_F(DownloadOrder, SecondBeginIsRefused) {
    StartPlain();
    ExpectRefused(Begin(), "a second CMD_DOWNLOAD_BEGIN");
}

TEST_F(DownloadOrder, BeginMustRepeatTheRequestedAddresses) {
    host.One(FileRequest(), RPL_DOWNLOAD_READY);
    ExpectRefused(Begin(0, 0x1234), "differ from the request's");
}

TEST_F(DownloadOrder, FileRequestCarriesZeroAddresses) {
    Report r = FileRequest();
    r[7] = 5;
    ExpectRefused(r, "instead of 0, 0");
}

TEST_F(DownloadOrder, RequestWithAStrayFileMarkerIsRefused) {
    Report r = FileRequest();
    r[25] = 0xA5;
    ExpectRefused(r, "production-file marker");
}

TEST_F(DownloadOrder, RecordInAPlainDownloadIsRefused) {
    StartPlain();
    ExpectRefused(Record(CMD_CONFIG_RECORD, test::ConfigBlock()),
                  "without the production-file marker");
}

TEST_F(DownloadOrder, UserCodeAfterConfigurationIsRefused) {
    StartProduction();
    host.One(Record(CMD_CONFIG_RECORD, test::ConfigBlock()), RPL_BLOCK_ACK);
    ExpectRefused(Record(CMD_USER_CODE_RECORD, {0x33, 0, 1}), "after the configuration record");
}

TEST_F(DownloadOrder, SecondConfigurationIsRefused) {
    StartProduction();
    host.One(Record(CMD_CONFIG_RECORD, test::ConfigBlock()), RPL_BLOCK_ACK);
    ExpectRefused(Record(CMD_CONFIG_RECORD, test::ConfigBlock()), "after the configuration record");
}

TEST_F(DownloadOrder, SecondUserCodeIsRefused) {
    StartProduction();
    host.One(Record(CMD_USER_CODE_RECORD, {0x33, 0, 1}), RPL_BLOCK_ACK);
    ExpectRefused(Record(CMD_USER_CODE_RECORD, {0x33, 0, 1}), "a second user code record");
}

TEST_F(DownloadOrder, RecordAfterImageDataIsRefused) {
    StartProduction();
    host.One(Block(0, {1}), RPL_BLOCK_ACK);
    ExpectRefused(Record(CMD_CONFIG_RECORD, test::ConfigBlock()), "after image data");
}

TEST_F(DownloadOrder, ConfigurationRecordHas21Bytes) {
    StartProduction();
    auto block = test::ConfigBlock();
    block.pop_back();
    ExpectRefused(Record(CMD_CONFIG_RECORD, block), "record length 20, not 21");
}

TEST_F(DownloadOrder, UserCodeMustHoldItsAsciiCount) {
    StartProduction();
    ExpectRefused(Record(CMD_USER_CODE_RECORD, {0x33, 4, 'A', 'B'}), "do not fit");
}

TEST_F(DownloadOrder, EndMustCarryTheFileKindOfTheDownload) {
    StartProduction();
    host.One(Record(CMD_CONFIG_RECORD, test::ConfigBlock()), RPL_BLOCK_ACK);
    host.One(Block(0, {1}), RPL_BLOCK_ACK);
    ExpectRefused(End(0, 0xFF), "file kind 0xFF, but the download brought 0x42");
    EXPECT_FALSE(dev.Config().has_value());
}

TEST_F(DownloadOrder, EndMustCarryTheStartAddress) {
    StartPlain();
    ExpectRefused(End(0, 0xFF, 0x10), "start address");
}

// --- Firmware replacement ---------------------------------------------------

std::vector<uint8_t> FirmwareImage() {
    return TestFirmwareImage();
}

// Sends the firmware as the host does: 59-byte blocks at their offsets.
Report SendFirmware(test::Host& host, const std::vector<uint8_t>& fw,
                    uint8_t answer = RPL_DOWNLOAD_DONE) {
    host.One(test::FirmwareRequest(), RPL_DOWNLOAD_READY);
    EXPECT_EQ(Be16(host.One(Begin(0, 0xDFD8), RPL_BLOCK_ACK), 5), 0u);
    std::size_t offset = 0;
    int blocks = 0;
    Report last{};
    while (offset < fw.size()) {
        const std::size_t n = std::min<std::size_t>(59, fw.size() - offset);
        Report r = Block(static_cast<unsigned>(offset),
                         std::vector<uint8_t>(fw.begin() + static_cast<long>(offset),
                                              fw.begin() + static_cast<long>(offset + n)));
        // The host leaves the previous block's bytes behind a short block.
        for (std::size_t k = 6 + n; k < kReportSize; ++k) r[k] = last[k];
        last = r;
        offset += n;
        ++blocks;
        const Report ack = host.One(r, RPL_BLOCK_ACK);
        EXPECT_EQ(Be16(ack, 5), offset);
    }
    EXPECT_EQ(blocks, 972);
    Report end = End(0xDFD8, 0);
    end[2] = last[2];  // byte 2 keeps the last block's count
    return host.One(end, answer);
}

TEST(FirmwareUpdate, AcceptsTheWholeFirmwareAndReportsThreeSix) {
    SimOptions o{0};
    o.oldFirmware = true;
    SimProgrammer dev(o);
    test::Host host{dev};
    host.Download({{0, {1, 2}}}, 1);
    const auto fw = FirmwareImage();
    const Report done = SendFirmware(host, fw);
    EXPECT_EQ(done[6], 1);
    EXPECT_EQ(Be16(done, 7), std::accumulate(fw.begin(), fw.end(), 0u) & 0xFFFF);
    EXPECT_EQ(Be16(done, 11), 0xDFD8u);
    EXPECT_EQ(dev.Firmware(), fw);
    EXPECT_EQ(dev.FirmwareUpdates(), 1);
    EXPECT_EQ(dev.FirmwareVersion(), "3.6");
    const Report status = host.One(Short(CMD_STATUS), RPL_STATUS);
    EXPECT_EQ(status[63], '3');
    EXPECT_EQ(status[64], '6');
    // The stored image is not touched by a firmware replacement.
    EXPECT_EQ(dev.ImageLength(), 2u);
    EXPECT_EQ(dev.Storage()[0], 1);
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST(FirmwareUpdate, BlocksMustFollowEachOther) {
    SimProgrammer dev(SimOptions{0});
    test::Host host{dev};
    host.One(test::FirmwareRequest(), RPL_DOWNLOAD_READY);
    host.One(Begin(0, 0xDFD8), RPL_BLOCK_ACK);
    host.One(Block(0, Bytes(59, 0)), RPL_BLOCK_ACK);
    host.One(Block(100, Bytes(59, 0)), RPL_DOWNLOAD_ERROR);
    ASSERT_EQ(dev.ProtocolErrors().size(), 1u);
    EXPECT_EQ(dev.ProtocolErrors()[0],
              "CMD_WRITE_BLOCK: firmware block at offset 100, expected 59");
}

TEST(FirmwareUpdate, ShortFirmwareIsRefusedAtTheEnd) {
    SimOptions o{0};
    o.oldFirmware = true;
    SimProgrammer dev(o);
    test::Host host{dev};
    host.One(test::FirmwareRequest(), RPL_DOWNLOAD_READY);
    host.One(Begin(0, 0xDFD8), RPL_BLOCK_ACK);
    host.One(Block(0, Bytes(59, 0)), RPL_BLOCK_ACK);
    host.One(End(0xDFD8, 0), RPL_DOWNLOAD_ERROR);
    EXPECT_EQ(dev.FirmwareVersion(), "3.5");
    ASSERT_EQ(dev.ProtocolErrors().size(), 1u);
    EXPECT_NE(dev.ProtocolErrors()[0].find("59 bytes instead of 57304"), std::string::npos);
}

TEST(FirmwareUpdate, OnlyTheTestImageIsAcceptedByteForByte) {
    SimOptions o{0};
    o.oldFirmware = true;
    SimProgrammer dev(o);
    test::Host host{dev};
    auto fw = TestFirmwareImage();
    EXPECT_TRUE(std::all_of(fw.begin(), fw.begin() + 0x2000, [](uint8_t b) { return b == 0xFF; }));
    fw.back() ^= 0x01;
    SendFirmware(host, fw, RPL_DOWNLOAD_ERROR);
    EXPECT_EQ(dev.FirmwareVersion(), "3.5");
    EXPECT_EQ(dev.ProtocolErrors(),
              std::vector<std::string>{"CMD_DOWNLOAD_END: firmware differs from the simulator's "
                                       "test image at offset 57303"});
}

TEST(FirmwareUpdate, RequestMustCoverTheFirmwareRange) {
    SimProgrammer dev(SimOptions{0});
    Report r = test::FirmwareRequest();
    r[7] = 0xD7;
    test::Host{dev}.One(r, RPL_DOWNLOAD_ERROR);
    EXPECT_EQ(dev.ProtocolErrors().size(), 1u);
}

// --- Read-back of the storage -----------------------------------------------

TEST_F(Download, CacheBlocksEndWithTheStoredImage) {
    host.Download({{0, Bytes(59, 0)}, {59, Bytes(41, 59)}}, 99);
    const Report first = host.One(test::CacheRequest(0, 99), RPL_CACHE_BLOCK);
    EXPECT_EQ(first[2], 59);
    EXPECT_EQ(Be16(first, 4), 0u);
    EXPECT_EQ(first[6], 0);
    EXPECT_EQ(first[64], 58);
    const Report second = host.One(test::CacheRequest(59, 99), RPL_CACHE_BLOCK);
    EXPECT_EQ(second[2], 41);  // 59 + 41 = 100, one past the last stored byte
    EXPECT_EQ(Be16(second, 4), 59u);
    EXPECT_EQ(second[6], 59);
    EXPECT_EQ(second[46], 99);
    EXPECT_EQ(second[47], 0);
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST_F(Download, CacheBlockPastTheImageReadsBlankStorage) {
    const Report r = host.One(test::CacheRequest(0xFFF0, 0), RPL_CACHE_BLOCK);
    EXPECT_EQ(r[2], 16);
    EXPECT_EQ(r[6], 0xFF);
    EXPECT_EQ(r[21], 0xFF);
    EXPECT_EQ(r[22], 0);
    const Report s = host.One(test::CacheRequest(0, 0), RPL_CACHE_BLOCK);
    EXPECT_EQ(s[2], 59);
    host.One(test::CacheRequest(0, 0, 0x2B), RPL_CACHE_BLOCK);
    // Asking past the end address, or with a byte 8 that no download status
    // gave, is not a request the host makes.
    EXPECT_EQ(dev.ProtocolErrors(),
              (std::vector<std::string>{
                  "CMD_READ_CACHE: asks for 0xFFF0, at or past the end address 0x0000",
                  "CMD_READ_CACHE: byte 8 is 0x2B, not a download status (0 or 1)"}));
}

TEST_F(Download, CacheRequestWithWrongLengthIsDropped) {
    Report r = test::CacheRequest(0, 10);
    r[2] = 6;
    EXPECT_TRUE(host.Send(r).empty());
    EXPECT_EQ(dev.ProtocolErrors().size(), 1u);
}

}  // namespace
}  // namespace qrv::sim
