// The service functions: read-back lines and their progress, the storage
// read-back's chain and its end, the short requests of the service controls,
// "save", and the firmware replacement.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "common/atomic_file.h"
#include "tests/mainwin/session_fixture.h"

namespace qrv {
namespace {

using test::MakeReply;

// A read-back reply: count, address and the bytes from reply byte 6 on.
Report Block(uint8_t code, int count, int address, std::vector<int> bytes) {
    Report r = MakeReply(code, {{2, count}, {4, address >> 8}, {5, address & 0xFF}});
    for (std::size_t i = 0; i < bytes.size(); ++i) r[6 + i] = static_cast<uint8_t>(bytes[i]);
    return r;
}

TEST(ReadBackLines, KeepThePlainSumAndTheChipLinesTypeByte) {
    std::vector<int> sixteen(17, 0);  // the type byte, then 16 bytes
    for (int i = 1; i <= 16; ++i) sixteen[static_cast<std::size_t>(i)] = i;
    const std::string chip = ChipBlockLine(Block(RPL_CHIP_BLOCK, 16, 0x0100, sixteen).data());
    EXPECT_EQ(chip, ":100100000102030405060708090A0B0C0D0E0F1088");
    EXPECT_EQ(chip.size(), 43u);
    // The byte where a record type stands enters the chip line's sum.
    EXPECT_EQ(ChipBlockLine(Block(RPL_CHIP_BLOCK, 1, 0xABCD, {0x04, 0xFF}).data()),
              ":01ABCD04FF03");
    EXPECT_EQ(CacheBlockLine(Block(RPL_CACHE_BLOCK, 2, 0x1234, {0x80, 0x81}).data()),
              ":02123400808101");
    // The standard record of the same bytes carries the two's complement.
    const uint8_t data[] = {0x80, 0x81};
    EXPECT_EQ(IntelHexDataRecord(0x1234, data, 2), ":021234008081B7");
}

struct Service : test::SessionTest {
    int timer = -1;  // the last StartReadBackTimer call
    void SetUp() override {
        Connect();
        s.hooks.StartReadBackTimer = [this](int ms) { timer = ms; };
    }
};

TEST_F(Service, ChipBlocksMoveTheBarToTheirEndOverTheStoredLength) {
    struct Case {
        int storedLength, address, count, position;
        bool complete;
    } cases[] = {{0x0400, 0x0100, 16, 26, false},
                 {0x0400, 0x03F0, 16, 100, true},
                 {0, 0, 16, 100, false}};  // nothing stored: the whole chip, to a pause
    for (const Case& c : cases) {
        s.form.Memo2.lines = {"old"};
        s.Button9Click();
        EXPECT_EQ(LastWritten()[3], CMD_READ_CHIP);
        EXPECT_EQ(s.form.ProgressBar3.position, 0);
        // What an import left in the working values does not move the end.
        s.ImageLength = 0x1000;
        s.StoredLength = c.storedLength;
        Reply(Block(RPL_CHIP_BLOCK, c.count, c.address, {}));
        EXPECT_EQ(s.form.ProgressBar3.position, c.position) << c.storedLength << " " << c.address;
        EXPECT_EQ(s.ChipReadBackActive(), !c.complete);
        EXPECT_EQ(timer, c.complete ? 0 : kReadBackTimeoutMs);
        EXPECT_EQ(s.form.Memo2.lines.size(), 1u);
        EXPECT_EQ(s.buffer.Host(3), 0);  // both reports cleared
        s.ReadBackTimedOut();
    }
}

TEST_F(Service, AChipReadBackShortOfTheStoredLengthEndsIncomplete) {
    s.StoredLength = 0x40;
    s.Button9Click();
    Reply(Block(RPL_CHIP_BLOCK, 16, 0, {}));
    s.ReadBackTimedOut();
    EXPECT_EQ(ui.messages, std::vector<std::string>{kChipReadBackIncomplete});
    EXPECT_FALSE(s.ChipReadBackActive());
}

TEST_F(Service, TheStorageReadBackAsksUntilABlockReachesTheStoredLength) {
    struct Case {
        int endAddress, address, count;
        bool asksAgain;
    } cases[] = {{100, 0, 59, true}, {100, 59, 41, false}, {0, 0, 59, false}, {50, 0, 59, false}};
    for (const Case& c : cases) {
        // The status's length, whatever a download left in EndAddress.
        s.StoredLength = c.endAddress;
        s.EndAddress = c.endAddress - 1;
        s.buffer.LastDownloadStatus() = 1;
        s.Button10Click();
        const Report first = LastWritten();
        EXPECT_EQ(
            std::vector<int>(first.begin(), first.begin() + 9),
            (std::vector<int>{0, 0x3A, 4, 0x23, 0, 0, c.endAddress >> 8, c.endAddress & 0xFF, 1}));
        EXPECT_FALSE(s.form.Button10.enabled);
        const std::size_t sent = Written().size();
        Reply(Block(RPL_CACHE_BLOCK, c.count, c.address, {}));
        EXPECT_EQ(Written().size(), sent + (c.asksAgain ? 1 : 0)) << c.endAddress;
        EXPECT_EQ(s.form.Button10.enabled, !c.asksAgain);
        EXPECT_EQ(timer, c.asksAgain ? kReadBackTimeoutMs : 0);
        if (c.asksAgain) {
            EXPECT_EQ(LastWritten()[4] * 256 + LastWritten()[5], c.address + c.count);
            s.ReadBackTimedOut();  // ends it for the next case
        }
    }
}

TEST_F(Service, AStalledStorageReadBackEndsIncompleteOnTimeoutOrUnplug) {
    for (bool unplug : {false, true}) {
        ui.messages.clear();
        if (!s.Connected()) Connect();
        s.StoredLength = 200;
        s.Button10Click();
        Reply(Block(RPL_CACHE_BLOCK, 59, 0, {}));
        if (unplug)
            s.OnLinkLost();
        else
            s.ReadBackTimedOut();
        EXPECT_TRUE(s.form.Button10.enabled) << unplug;
        EXPECT_EQ(ui.messages, std::vector<std::string>{kReadBackIncomplete}) << unplug;
        EXPECT_EQ(timer, 0);
        s.ReadBackTimedOut();  // a late timer says nothing more
        EXPECT_EQ(ui.messages.size(), 1u);
    }
}

TEST_F(Service, ShortRequestsCarryTheChosenValues) {
    s.ComboBox1Click(5);   // S3_48K
    s.ComboBox1Click(-1);  // no selection
    s.Button14Click();     // no address chosen yet: device address 0
    s.ComboBox3Click(3);   // 0XA3
    s.ComboBox4Click(1);   // 24C04
    s.Button14Click();
    s.ComboBox4Click(0);
    s.Button15Click();
    s.Button11Click();
    std::vector<std::pair<int, int>> sent;
    for (const Report& r : Written()) sent.emplace_back(r[3], r[8] | r[9] << 8 | r[10] << 16);
    EXPECT_EQ(sent, (std::vector<std::pair<int, int>>{{CMD_WRITER_MODE, 0x8FFF},
                                                      {CMD_WRITER_MODE, 0xA5},
                                                      {CMD_EEPROM_READ, 0x0100},
                                                      {CMD_EEPROM_READ, 0x02A3},
                                                      {CMD_EEPROM_WRITE, 0x01A3},
                                                      {CMD_USER_OPTION, 0}}));
    for (Widget* w : {&s.form.Button11, &s.form.Button14, &s.form.Button15})
        EXPECT_TRUE(w->enabled);
}

TEST_F(Service, AFailedSaveIsReportedAndLeavesTheExistingFileWhole) {
    const std::string path = testing::TempDir() + "qrv-save.hex";
    ASSERT_TRUE(WriteFileAtomically(path, "before\r\n", nullptr));
    s.form.Memo2.lines.assign(100, ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00");
    // Files may grow to 64 bytes only: the write of the lines fails.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    ui.saveAnswers = {path};
    s.Button8Click();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("cannot write"), std::string::npos);
    std::string text;
    ASSERT_TRUE(ReadWholeFile(path, &text, nullptr));
    EXPECT_EQ(text, "before\r\n");
}

TEST_F(Service, SavingOverAReadOnlyFileAsksFirst) {
    const std::string path = testing::TempDir() + "qrv-read-only.hex";
    std::remove(path.c_str());
    ASSERT_TRUE(WriteFileAtomically(path, "before\r\n", nullptr));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    s.form.Memo2.lines = {":00000001FF"};
    for (const bool yes : {false, true}) {
        ui.saveAnswers = {path};
        ui.questionAnswers = {yes};
        s.Button8Click();
        std::string text;
        ASSERT_TRUE(ReadWholeFile(path, &text, nullptr));
        EXPECT_EQ(text, yes ? ":00000001FF\r\n" : "before\r\n");
    }
    ASSERT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(ui.questions[0], std::string(kReplaceReadOnlyQuestion) + "\n" + path);
    EXPECT_TRUE(ui.messages.empty());
    std::remove(path.c_str());
}

TEST_F(Service, UpdateWithoutProgrammerCanBePressedAgain) {
    s.Link().CloseWriteLink();
    EXPECT_EQ(s.Button16Click(), UpdateResult::NotConnected);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"没有连接烧录器! \n\n请连接烧录器!"});
    EXPECT_TRUE(s.form.Button16.enabled);
    EXPECT_TRUE(s.form.BitBtn1.enabled);
}

TEST_F(Service, TheFirmwareGoesInBlocksOf59AndTheEndReportFollowsOnce) {
    std::vector<uint8_t> image(kFirmwareImageSize);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + 5);
    s.SetFirmwareImage(image);
    int chooser = 0;
    s.hooks.ShowOptionChooserAfterDownload = [&] { ++chooser; };
    s.buffer.FileKind() = 0xFF;
    ASSERT_EQ(s.Button16Click(), UpdateResult::Requested);
    const Report request = LastWritten();
    EXPECT_EQ(std::vector<int>(request.begin(), request.begin() + 12),
              (std::vector<int>{0, 0x3A, 4, 0x7F, 0, 0, 0xDF, 0xD8, 0, 0, 0xBB, 0xCC}));
    EXPECT_EQ(s.buffer.UpdateMode(), 0xBB);
    EXPECT_FALSE(s.form.BitBtn1.enabled);
    EXPECT_FALSE(s.form.Button16.enabled);

    std::vector<uint8_t> sent;
    for (int ack = 0; ack <= 972; ++ack) Reply(MakeReply(RPL_BLOCK_ACK));
    EXPECT_EQ(s.form.ProgressBar5.position, 100);
    Reply(MakeReply(RPL_BLOCK_ACK));
    Reply(MakeReply(RPL_BLOCK_ACK));
    const auto written = Written();
    ASSERT_EQ(written.size(), 1u + 972u + 1u);  // request, blocks, one end report
    for (std::size_t b = 1; b <= 972; ++b) {
        const Report& r = written[b];
        EXPECT_EQ(r[4] * 256 + r[5], static_cast<int>(sent.size()));
        sent.insert(sent.end(), r.begin() + 6, r.begin() + 6 + r[2]);
    }
    EXPECT_EQ(written[972][2], 15);
    EXPECT_EQ(sent, image);
    const Report end = written.back();
    EXPECT_EQ(std::vector<int>(end.begin(), end.begin() + 9),
              (std::vector<int>{0, 0x3A, 15, 0x26, 0, 0, 0xDF, 0xD8, 0}));
    // The programmer stored no image: no option chooser.
    Reply(MakeReply(RPL_DOWNLOAD_DONE, {{6, 1}}));
    EXPECT_EQ(chooser, 0);
}

TEST_F(Service, AfterTheReplacementTheStatusTellsWhetherItTook) {
    struct Case {
        char minor;
        const char* message;
        bool importEnabled, updateOffered;
    } cases[] = {{'6', kFirmwareUpdated, true, false}, {'5', kFirmwareUpdateFailed, false, true}};
    for (const Case& c : cases) {
        ui.messages.clear();
        s.SetFirmwareImage(std::vector<uint8_t>(kFirmwareImageSize, 0));
        ASSERT_EQ(s.Button16Click(), UpdateResult::Requested);
        Reply(MakeReply(RPL_DOWNLOAD_DONE, {{6, 1}}));
        EXPECT_EQ(LastWritten()[3], CMD_STATUS);
        Reply(MakeReply(RPL_STATUS, {{26, 0xFF}, {61, 'A'}, {63, '3'}, {64, c.minor}}));
        // One box: the verdict, not the update offer as well.
        EXPECT_EQ(ui.messages, std::vector<std::string>{c.message}) << c.minor;
        EXPECT_EQ(s.form.BitBtn1.enabled, c.importEnabled) << c.minor;
        EXPECT_EQ(s.form.Button16.visible && s.form.Button16.enabled, c.updateOffered);
        if (c.importEnabled) {
            EXPECT_EQ(s.form.caption, " QRV MCU Writer V3.6");
        }
    }
}

// Each block is zero after its data, the last and shorter one too (it follows
// a block of 59 bytes in the same report buffer).
TEST_F(Service, EveryFirmwareBlockIsZeroAfterItsData) {
    std::vector<uint8_t> image(kFirmwareImageSize, 0xA5);
    s.SetFirmwareImage(image);
    ASSERT_EQ(s.Button16Click(), UpdateResult::Requested);
    for (int ack = 0; ack < 972; ++ack) Reply(MakeReply(RPL_BLOCK_ACK));
    const auto written = Written();
    ASSERT_EQ(written.size(), 1u + 972u);
    for (std::size_t b = 1; b <= 972; ++b) {
        const Report& r = written[b];
        ASSERT_EQ(r[3], CMD_WRITE_BLOCK);
        for (std::size_t k = 6 + r[2]; k < kReportSize; ++k)
            ASSERT_EQ(r[k], 0) << "block " << b << ", byte " << k;
    }
}

}  // namespace
}  // namespace qrv
