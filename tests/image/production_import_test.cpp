// Import of production files: the marker record, the header records sent
// before the image, and the files that are refused.
#include <gtest/gtest.h>

#include "tests/image/loader_fixture.h"

namespace qrv::test {
namespace {

const std::string kMarker = ":10000022414D4312345";
// User code "AB12" in decimal mode: flags 0x33, A = 2, 'A', 'B', 12.
const std::string kUserCode = ":05000022415344330241420C";
const std::vector<uint8_t> kUserCodeData = {0x33, 0x02, 0x41, 0x42, 0x0C};

std::vector<uint8_t> ConfigBlock(uint8_t steps, uint8_t marker = 0x5A) {
    std::vector<uint8_t> block = {0x00, 0x00, 0x7F, 0xFF, 0x85};
    for (char c : std::string("QM-017ABCDE")) block.push_back(static_cast<uint8_t>(c));
    block.insert(block.end(), {marker, 0x12, 0x03, 0x01, steps});
    return block;
}

std::string ConfigRecord(const std::vector<uint8_t>& block) {
    return ":" + H2(static_cast<unsigned>(block.size())) + "000022515256" +
           HexBytes(block.data(), block.size());
}

std::vector<std::string> ProductionFile(uint8_t steps = 0x0F) {
    return {kMarker, kUserCode, ConfigRecord(ConfigBlock(steps)), DataRecord(0, Counting(16)),
            ":00000001FF"};
}

class ProductionImportTest : public LoaderTest {
  protected:
    void ExpectRefused(const std::vector<Report>& reports) {
        EXPECT_EQ(host.abandoned, std::vector<LoaderRefusal>{LoaderRefusal::HeaderRefused});
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back()[3], CMD_DOWNLOAD_ABORT);
        EXPECT_EQ(reports.back()[2], 6);
        EXPECT_EQ(reports.back()[8], 0);
        EXPECT_EQ(host.buffer.HeaderAccepted(), 0);
        EXPECT_TRUE(loader.Abandoned());
    }
};

TEST_F(ProductionImportTest, MarkerRecordPutsTheFileMarkerIntoTheRequest) {
    Import(ProductionFile());
    ASSERT_EQ(host.sent.size(), 1u);
    const Report& request = host.sent[0];
    EXPECT_EQ(request[3], CMD_DOWNLOAD_REQUEST);
    EXPECT_EQ(request[25], 0xA5);
    EXPECT_EQ(request[26], 0x5B);
    EXPECT_EQ(host.buffer.HeaderAccepted(), 0xAA);
    Report rest = request;
    rest[1] = rest[2] = rest[3] = rest[25] = rest[26] = 0;
    EXPECT_EQ(rest, Report{});
}

TEST_F(ProductionImportTest, PlainFileLeavesHeaderAcceptedAsItWas) {
    host.buffer.HeaderAccepted() = 0xAA;
    Import({DataRecord(0, Counting(16))});
    EXPECT_EQ(host.buffer.HeaderAccepted(), 0xAA);
    EXPECT_EQ(host.sent[0][25], 0);
    EXPECT_EQ(host.sent[0][26], 0);
}

TEST_F(ProductionImportTest, UserCodeThenConfigurationThenTheImage) {
    const auto reports = Download(ProductionFile());
    ASSERT_EQ(reports.size(), 4u);

    Report userCode{};
    userCode[1] = ':';
    userCode[2] = 5;
    userCode[3] = CMD_USER_CODE_RECORD;
    std::copy(kUserCodeData.begin(), kUserCodeData.end(), userCode.begin() + 4);
    EXPECT_EQ(reports[0], userCode);

    const auto block = ConfigBlock(0x0F);
    Report config{};
    config[1] = ':';
    config[2] = 21;
    config[3] = CMD_CONFIG_RECORD;
    std::copy(block.begin(), block.end(), config.begin() + 4);
    EXPECT_EQ(reports[1], config);

    EXPECT_EQ(reports[2][3], CMD_WRITE_BLOCK);
    EXPECT_EQ(reports[2][2], 16);
    EXPECT_EQ(reports[3][3], CMD_DOWNLOAD_END);
    EXPECT_EQ(reports[3][8], 0x5A);  // FileKind from the configuration block

    // Trace: the configuration record and the block, not the user code record.
    ASSERT_EQ(host.trace.size(), 2u);
    EXPECT_EQ(host.trace[0], HexBytes(config.data(), 65));
    EXPECT_EQ(host.buffer.HeaderAccepted(), 0);
    EXPECT_EQ(host.buffer.FileKind(), 0x5A);
    EXPECT_EQ(host.models, std::vector<std::string>{"QM-017ABCDE"});  // all 11 characters
    EXPECT_EQ(host.steps, std::vector<uint8_t>{0x0F});
    EXPECT_TRUE(host.abandoned.empty());
}

TEST_F(ProductionImportTest, TheConfigurationRecordReportsItsStepsOnce) {
    Download(ProductionFile(0x02));  // bit 1: the user option, no box of its own
    EXPECT_EQ(host.steps, std::vector<uint8_t>{0x02});

    FakeLoaderHost other;
    HexLoader loader2(other);
    loader2.Load(ImageBuffer(ProductionFile(0x0C)));  // erase and verify
    other.sent.clear();
    for (int i = 0; i < 3; ++i) loader2.SendNextBlock();
    EXPECT_EQ(other.steps, std::vector<uint8_t>{0x0C});
}

TEST_F(ProductionImportTest, MarkerRecordIsNeverSentAndOtherTagsAreSkipped) {
    const auto reports = Download({kMarker, ":03000022414243010203", ConfigRecord(ConfigBlock(1)),
                                   kMarker, DataRecord(0x10, Counting(4))});
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0][3], CMD_CONFIG_RECORD);
    EXPECT_EQ(reports[1][3], CMD_WRITE_BLOCK);
    EXPECT_EQ(reports[2][3], CMD_DOWNLOAD_END);
    EXPECT_TRUE(host.abandoned.empty());
}

TEST_F(ProductionImportTest, ConfigurationWithoutMarkerIsRefused) {
    const auto reports =
        Download({ConfigRecord(ConfigBlock(1)), DataRecord(0, Counting(16)), ":00000001FF"});
    ASSERT_EQ(reports.size(), 1u);
    ExpectRefused(reports);
    EXPECT_EQ(host.buffer.FileKind(), 0xFF);
}

TEST_F(ProductionImportTest, UserCodeAfterConfigurationIsRefused) {
    const auto reports =
        Download({kMarker, ConfigRecord(ConfigBlock(1)), kUserCode, DataRecord(0, Counting(16))});
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0][3], CMD_CONFIG_RECORD);
    ExpectRefused(reports);
}

TEST_F(ProductionImportTest, SecondConfigurationIsRefused) {
    const auto reports = Download({kMarker, ConfigRecord(ConfigBlock(1)),
                                   ConfigRecord(ConfigBlock(1)), DataRecord(0, Counting(16))});
    ASSERT_EQ(reports.size(), 2u);
    ExpectRefused(reports);
}

TEST_F(ProductionImportTest, UserCodeTooLongForTheReportIsRefused) {
    std::vector<uint8_t> data(64, 0x41);
    const std::string longCode = ":40000022415344" + HexBytes(data.data(), data.size());
    const auto state = host.buffer.bytes;
    const auto reports = Download({kMarker, longCode, ConfigRecord(ConfigBlock(1))});
    ExpectRefused(reports);
    // Nothing beyond the HostReport was touched.
    EXPECT_TRUE(
        std::equal(state.begin() + 65, state.begin() + 130, host.buffer.bytes.begin() + 65));
}

TEST_F(ProductionImportTest, ConfigurationShorterThanItsBlockIsRefused) {
    const auto block = ConfigBlock(1);
    const std::vector<uint8_t> shortBlock(block.begin(), block.begin() + 16);
    ExpectRefused(Download({kMarker, ConfigRecord(shortBlock), DataRecord(0, Counting(16))}));
}

TEST_F(ProductionImportTest, HeaderLineShorterThanItsLengthIsAFormatError) {
    std::string cut = ConfigRecord(ConfigBlock(1));
    cut.resize(cut.size() - 2);
    const auto reports = Download({kMarker, cut, DataRecord(0, Counting(16))});
    EXPECT_EQ(host.abandoned, std::vector<LoaderRefusal>{LoaderRefusal::FormatError});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0][3], CMD_DOWNLOAD_ABORT);
}

TEST_F(ProductionImportTest, DataBeforeAHeaderRecordIsSentFirst) {
    const auto reports = Download({kMarker, DataRecord(0, Counting(16)), kUserCode,
                                   ConfigRecord(ConfigBlock(1)), DataRecord(16, Counting(16, 16))});
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0][3], CMD_WRITE_BLOCK);
    EXPECT_EQ(reports[0][2], 16);
    EXPECT_EQ(reports[1][3], CMD_USER_CODE_RECORD);
    EXPECT_EQ(reports[2][3], CMD_CONFIG_RECORD);
    EXPECT_EQ(reports[3][3], CMD_WRITE_BLOCK);
    EXPECT_EQ(Address(reports[3]), 16);
    EXPECT_EQ(reports[4][3], CMD_DOWNLOAD_END);
    EXPECT_EQ(End(reports[4]), 31);
}

TEST_F(ProductionImportTest, ModelTextStopsAtANulByte) {
    auto block = ConfigBlock(1);
    block[8] = 0;
    Download({kMarker, ConfigRecord(block)});
    EXPECT_EQ(host.models, std::vector<std::string>{"QM-"});
}

}  // namespace
}  // namespace qrv::test
