// Report sequences of the download: one report per acknowledgement.
#include <gtest/gtest.h>

#include <random>

#include "tests/image/loader_fixture.h"

namespace qrv::test {
namespace {

const std::string kExtended = ":020000040000FA";  // type 0x04: no effect
const std::string kEof = ":00000001FF";

std::vector<uint8_t> Payload(const Report& r) {
    return {r.begin() + 6, r.begin() + 6 + r[2]};
}

// ---- The request and the end of the download -------------------------------

TEST_F(LoaderTest, RequestCarriesZeroAddressesAndNoMarkerForAPlainFile) {
    host.EndAddress = 0x1234;  // left from an earlier download
    Import({kExtended, DataRecord(0, Counting(16)), kEof});
    ASSERT_EQ(host.sent.size(), 1u);
    Report expected{};
    expected[1] = ':';
    expected[2] = 4;
    expected[3] = CMD_DOWNLOAD_REQUEST;
    EXPECT_EQ(host.sent[0], expected);
    EXPECT_EQ(host.buffer.FileKind(), 0xFF);
    // The HostReport is cleared after the request.
    EXPECT_TRUE(std::all_of(host.buffer.HostReport(), host.buffer.HostReport() + 65,
                            [](uint8_t b) { return b == 0; }));
}

TEST_F(LoaderTest, ImportResetsStateAndUpdateModeAndFindsTheImageEnd) {
    host.buffer.UpdateMode() = 0xBB;
    host.StartAddress = 0x55;
    loader.HighestAddress = 0x999;
    Import({kExtended, DataRecord(0x200, Counting(16)), kEof});
    EXPECT_EQ(host.buffer.UpdateMode(), 0);
    EXPECT_EQ(host.StartAddress, 0);
    EXPECT_EQ(loader.HighestAddress, 0);
    EXPECT_EQ(host.ImageLength, 0x210);
    EXPECT_EQ(host.imagesLoaded, 1);
    EXPECT_TRUE(host.trace.empty());
}

TEST_F(LoaderTest, FileWithoutRecordLinesEndsAtTheFirstAcknowledgement) {
    const auto reports = Download({"hello", "", "world"});
    ASSERT_EQ(reports.size(), 1u);
    Report expected{};
    expected[1] = ':';
    expected[3] = CMD_DOWNLOAD_END;
    expected[8] = 0xFF;  // FileKind of a plain image
    EXPECT_EQ(reports[0], expected);
    EXPECT_EQ(host.EndAddress, 0);
    EXPECT_EQ(host.endsSent, 1);
}

TEST_F(LoaderTest, EndAfterAPartReportKeepsItsCountAndTail) {
    // 128 contiguous bytes: 59 + 59 + 10.
    std::vector<std::string> lines = {kExtended};
    for (int a = 0; a < 128; a += 16) lines.push_back(DataRecord(a, Counting(16, a)));
    lines.push_back(kEof);
    const auto reports = Download(lines);
    ASSERT_EQ(reports.size(), 4u);
    const Report& last = reports[2];
    EXPECT_EQ(last[2], 10);
    EXPECT_EQ(Address(last), 118);
    const Report& end = reports[3];
    EXPECT_EQ(end[3], CMD_DOWNLOAD_END);
    EXPECT_EQ(End(end), 127);  // the last address written
    EXPECT_EQ(end[2], 10);     // left as the last block set it
    EXPECT_EQ(end[8], 0xFF);
    EXPECT_EQ(end[9], 121);  // the block's data byte for address 118 + 3
    // After the end the HostReport is cleared.
    EXPECT_EQ(host.buffer.HostReport()[3], 0);
}

TEST_F(LoaderTest, EndInsideAStepIsSentWithZeroCountAndTail) {
    // The EOF record after a full report: the step reads on and finds the end.
    const auto reports = Download({kExtended, DataRecord(0, Counting(59)), kEof});
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0][2], 59);
    Report expected{};
    expected[1] = ':';
    expected[3] = CMD_DOWNLOAD_END;
    expected[7] = 58;
    expected[8] = 0xFF;
    EXPECT_EQ(reports[1], expected);
}

TEST_F(LoaderTest, EndAfterAFullReportOnTheLastLineCarriesTheLastAddressWritten) {
    const auto reports = Download({kExtended, DataRecord(0x100, Counting(59))});
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1][3], CMD_DOWNLOAD_END);
    EXPECT_EQ(End(reports[1]), 0x100 + 58);
    EXPECT_EQ(host.EndAddress, 0x13A);
}

// ---- Packing ----------------------------------------------------------------

TEST_F(LoaderTest, ContiguousRecordsFillEveryReportAndSplitRecords) {
    std::vector<std::string> lines = {kExtended};
    for (int a = 0; a < 0x400; a += 16) lines.push_back(DataRecord(a, Counting(16, a)));
    lines.push_back(kEof);
    const auto blocks = Blocks(Download(lines));
    ASSERT_EQ(blocks.size(), (0x400 + 58) / 59u);
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i][2], 59) << i;
        // The rest of a split record opens the next report at its first unsent byte.
        EXPECT_EQ(Address(blocks[i]), static_cast<int>(59 * i)) << i;
    }
    EXPECT_EQ(blocks.back()[2], 0x400 % 59);
    for (const Report& b : blocks)
        for (int i = 0; i < b[2]; ++i) EXPECT_EQ(b[6 + i], static_cast<uint8_t>(Address(b) + i));
}

TEST_F(LoaderTest, FirstRecordAt10IsPrecededByFill) {
    const auto blocks = Blocks(Download({kExtended, DataRecord(0x10, Counting(16)), kEof}));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(Address(blocks[0]), 0);
    EXPECT_EQ(blocks[0][2], 32);
    std::vector<uint8_t> expected(16, 0xFF);
    for (uint8_t b : Counting(16)) expected.push_back(b);
    EXPECT_EQ(Payload(blocks[0]), expected);
    EXPECT_EQ(blocks[0][6 + 32], 0);  // nothing after the payload
}

TEST_F(LoaderTest, FirstRecordAt8000StartsThereWithoutFill) {
    const auto blocks = Blocks(Download({kExtended, DataRecord(0x8000, Counting(16)), kEof}));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(Address(blocks[0]), 0x8000);
    EXPECT_EQ(Payload(blocks[0]), Counting(16));
}

TEST_F(LoaderTest, RecordBelowTheAddressReachedStartsANewReport) {
    const auto reports = Download({kExtended, DataRecord(0x1000, Counting(16)),
                                   DataRecord(0x0800, Counting(16, 0x80)), kEof});
    const auto blocks = Blocks(reports);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(Address(blocks[0]), 0x1000);
    EXPECT_EQ(blocks[0][2], 16);
    EXPECT_EQ(Address(blocks[1]), 0x0800);
    EXPECT_EQ(Payload(blocks[1]), Counting(16, 0x80));
    // The end carries the highest address written, not the end of the last record.
    EXPECT_EQ(End(reports.back()), 0x100F);
}

TEST_F(LoaderTest, SmallGapIsFilledInsideTheReport) {
    const auto blocks = Blocks(
        Download({kExtended, DataRecord(0, Counting(16)), DataRecord(26, Counting(16, 26)), kEof}));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0][2], 42);
    const auto payload = Payload(blocks[0]);
    for (int i = 16; i < 26; ++i) EXPECT_EQ(payload[static_cast<std::size_t>(i)], 0xFF) << i;
    EXPECT_EQ(payload[26], 26);
}

TEST_F(LoaderTest, GapLargerThanTheFreeSpaceStartsANewReport) {
    const auto blocks = Blocks(Download(
        {kExtended, DataRecord(0, Counting(48)), DataRecord(0x40, Counting(16, 0x40)), kEof}));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0][2], 48);
    EXPECT_EQ(Address(blocks[1]), 0x40);
    EXPECT_EQ(Payload(blocks[1]), Counting(16, 0x40));
}

TEST_F(LoaderTest, GapOfExactlyTheFreeSpaceIsFilled) {
    // 16 bytes, 43 fill bytes: the report is full when the next record begins.
    const auto blocks = Blocks(
        Download({kExtended, DataRecord(0, Counting(16)), DataRecord(59, Counting(8, 59)), kEof}));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0][2], 59);
    EXPECT_EQ(blocks[0][6 + 58], 0xFF);
    EXPECT_EQ(Address(blocks[1]), 59);
    EXPECT_EQ(Payload(blocks[1]), Counting(8, 59));
}

TEST_F(LoaderTest, HundredByteRecordWithTenBytesFreeIsSentAs10And59And31) {
    const int a = 49;
    const auto blocks = Blocks(
        Download({kExtended, DataRecord(0, Counting(a)), DataRecord(a, Counting(100, 100)), kEof}));
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(Address(blocks[0]), 0);
    EXPECT_EQ(blocks[0][2], 59);
    EXPECT_EQ(blocks[0][6 + a], 100);  // first of the 10 bytes at A
    EXPECT_EQ(Address(blocks[1]), a + 10);
    EXPECT_EQ(blocks[1][2], 59);
    EXPECT_EQ(blocks[1][6], 110);
    EXPECT_EQ(Address(blocks[2]), a + 69);
    EXPECT_EQ(blocks[2][2], 31);
    EXPECT_EQ(blocks[2][6], 169);
}

TEST_F(LoaderTest, LowerCaseDigitsLoadLikeUpperCase) {
    std::vector<std::string> upper = {kExtended};
    for (int a = 0xAB00; a < 0xAC00; a += 16)
        upper.push_back(DataRecord(a, Counting(16, 0xA0 + a)));
    upper.push_back(kEof);
    std::vector<std::string> lower = upper;
    for (std::string& line : lower)
        for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto a = Download(upper);
    host.sent.clear();
    const auto b = Download(lower);
    EXPECT_EQ(a, b);
}

TEST_F(LoaderTest, ExtendedAddressRecordsHaveNoEffect) {
    const auto blocks = Blocks(Download(
        {":020000040001F9", DataRecord(0x0200, Counting(16)), ":0400000500000000F7", kEof}));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(Address(blocks[0]), 0x0200);
}

TEST_F(LoaderTest, OptionWordAt0100IsHandedToTheChooserAndDownloaded) {
    std::vector<uint32_t> words;
    loader.PresetOption = [&](uint32_t w) { words.push_back(w); };
    const auto blocks =
        Blocks(Download({kExtended, DataRecord(0x0100, {0x00, 0x00, 0x55, 0x55, 0x12}), kEof}));
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words.front(), 0x00005555u);
    words.clear();
    Download({kExtended, DataRecord(0x0100, {0xA6, 0x02, 0x55, 0x55}, 0x20), kEof});
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words.front(), 0xA6025555u);  // b0 is the first byte of the record
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(Payload(blocks[0]), (std::vector<uint8_t>{0x00, 0x00, 0x55, 0x55, 0x12}));
}

TEST_F(LoaderTest, ShortRecordAt0100HandsNothingOver) {
    int calls = 0;
    loader.PresetOption = [&](uint32_t) { ++calls; };
    Download({kExtended, ":01010000AA", kEof});
    EXPECT_EQ(calls, 0);
}

TEST_F(LoaderTest, EmptyLineIsSkippedWhereAStepBegins) {
    const auto blocks = Blocks(
        Download({kExtended, DataRecord(0, Counting(59)), "", DataRecord(59, Counting(4)), kEof}));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_TRUE(host.abandoned.empty());
}

TEST_F(LoaderTest, TraceHasOneLineOf130DigitsPerBlock) {
    const auto reports =
        Download({kExtended, DataRecord(0, Counting(100)), DataRecord(0x300, Counting(16)), kEof});
    const auto blocks = Blocks(reports);
    ASSERT_EQ(host.trace.size(), blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(host.trace[i], HexBytes(blocks[i].data(), 65));
    EXPECT_EQ(host.trace[0].size(), 130u);
}

TEST_F(LoaderTest, RecordWithoutDataNeverGivesAnEmptyBlock) {
    // At the end of the image, and before a record below the address reached.
    const auto reports = Download({kExtended, DataRecord(0x400, {}), kEof});
    EXPECT_TRUE(Blocks(reports).empty());
    EXPECT_EQ(reports.back()[3], CMD_DOWNLOAD_END);
    const auto blocks =
        Blocks(Download({kExtended, DataRecord(0x400, {}), DataRecord(0x200, Counting(4)), kEof}));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(Address(blocks[0]), 0x200);
    EXPECT_EQ(blocks[0][2], 4);
}

TEST_F(LoaderTest, ARecordWithoutDataWritesNothingAndMovesNoEnd) {
    const auto reports =
        Download({kExtended, DataRecord(0, Counting(16)), DataRecord(0x2200, {}), kEof});
    const auto blocks = Blocks(reports);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(Payload(blocks[0]), Counting(16));
    EXPECT_EQ(End(reports.back()), 0x000F);
    EXPECT_EQ(host.ImageLength, 0x10);
}

TEST_F(LoaderTest, RecordCrossingFFFFEndsAtFFFF) {
    const auto reports = Download({kExtended, DataRecord(0xFFF0, Counting(32)), kEof});
    EXPECT_EQ(End(reports.back()), 0xFFFF);
    EXPECT_EQ(host.ImageLength, 0xFFFF);
}

// ---- Faults in the file ------------------------------------------------------

class LoaderFaultTest : public LoaderTest {
  protected:
    void ExpectAbandoned(const std::vector<Report>& reports) {
        ASSERT_EQ(host.abandoned, std::vector<LoaderRefusal>{LoaderRefusal::FormatError});
        EXPECT_EQ(host.endsSent, 0);
        ASSERT_FALSE(reports.empty());
        const Report& abort = reports.back();
        EXPECT_EQ(abort[1], ':');
        EXPECT_EQ(abort[2], 6);
        EXPECT_EQ(abort[3], CMD_DOWNLOAD_ABORT);
        EXPECT_EQ(abort[8] | abort[9] | abort[10] | abort[11], 0);  // argument 0
        EXPECT_EQ(loader.CurrentLine, loader.Image().LineCount());
        EXPECT_TRUE(loader.Abandoned());
    }
};

TEST_F(LoaderTest, ABlankLineInsideAStepIsSkipped) {
    const auto with = Download(
        {kExtended, DataRecord(0, Counting(16)), " \t", "", DataRecord(16, Counting(16)), kEof});
    EXPECT_TRUE(host.abandoned.empty());
    EXPECT_EQ(with, Download({kExtended, DataRecord(0, Counting(16)), DataRecord(16, Counting(16)),
                              kEof}));
}

TEST_F(LoaderFaultTest, LineShorterThanItsLengthIsAFormatError) {
    std::string cut = DataRecord(0x20, Counting(16));
    cut.resize(9 + 2 * 16 - 1);
    const auto reports = Download({kExtended, DataRecord(0, Counting(59)), cut, kEof});
    ExpectAbandoned(reports);
    EXPECT_EQ(Blocks(reports).size(), 1u);
}

TEST_F(LoaderFaultTest, LineWithoutChecksumStillLoads) {
    std::string noChecksum = DataRecord(0x20, Counting(16));
    noChecksum.resize(9 + 2 * 16);
    const auto blocks = Blocks(Download({kExtended, noChecksum, kEof}));
    EXPECT_TRUE(host.abandoned.empty());
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0][2], 48);  // 32 fill bytes, then the record
}

TEST_F(LoaderFaultTest, LineTooShortForItsFieldsIsAFormatError) {
    ExpectAbandoned(Download({kExtended, ":1000", kEof}));
}

TEST_F(LoaderFaultTest, LengthFieldOfGarbageIsAFormatErrorNotARead) {
    // "ZZ" counts as 0xEF data bytes, far more than the line holds.
    ExpectAbandoned(Download({kExtended, ":ZZ00000000", kEof}));
}

TEST_F(LoaderFaultTest, BinaryGarbageNeverCrashes) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::string> lines;
        for (int n = 0; n < 20; ++n) {
            std::string line(static_cast<std::size_t>(random() % 80), '\0');
            for (char& c : line) c = static_cast<char>(random());
            if (random() % 2) line[0] = ':';
            if (line.empty()) line = ":";
            lines.push_back(line);
        }
        host.sent.clear();
        host.abandoned.clear();
        const auto reports = Download(lines);
        ASSERT_FALSE(reports.empty());
        for (const Report& r : Blocks(reports)) EXPECT_LE(r[2], 59);
    }
}

TEST_F(LoaderTest, CancelledDialogAfterADownloadLeavesTheStateReset) {
    Download({kExtended, DataRecord(0x100, Counting(100)), kEof});
    ASSERT_NE(host.EndAddress, 0);
    loader.ResetForImport();
    EXPECT_EQ(host.EndAddress, 0);
    EXPECT_EQ(host.ImageLength, 0);
    EXPECT_EQ(host.TransferOffset, 0);
    EXPECT_EQ(loader.CurrentLine, 0);
    EXPECT_EQ(loader.Image().LineCount(), 0);
    // A stray acknowledgement now ends an empty download.
    host.sent.clear();
    loader.SendNextBlock();
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(host.sent[0][3], CMD_DOWNLOAD_END);
    EXPECT_EQ(End(host.sent[0]), 0);
}

// ---- Whole images ------------------------------------------------------------

// Random files: records of 0..255 bytes with gaps, in address order or shuffled.
std::vector<std::string> RandomFile(std::mt19937& random, bool shuffled) {
    std::vector<std::string> records;
    int address = static_cast<int>(random() % 300);
    while (address < 0xF000) {
        const int length = static_cast<int>(random() % 256);
        std::vector<uint8_t> data;
        for (int i = 0; i < length; ++i) data.push_back(static_cast<uint8_t>(random()));
        records.push_back(DataRecord(address, data, random() % 5 == 0 ? 0x20 : 0x00));
        const int gaps[] = {0, 0, 0, 1, 7, 30, 58, 59, 60, 200};
        address += length + gaps[random() % 10];
    }
    if (shuffled) std::shuffle(records.begin(), records.end(), random);
    std::vector<std::string> lines = {kExtended};
    lines.insert(lines.end(), records.begin(), records.end());
    lines.push_back(kEof);
    return lines;
}

void ExpectStoredAsFile(const std::vector<std::string>& lines, const std::vector<Report>& reports) {
    const Memory expected = ExpectedMemory(lines);
    const Memory stored = StoredMemory(reports);
    int highest = 0;  // the last address written, fill included
    for (std::size_t a = 0; a < 0x10000; ++a) {
        if (stored.written[a]) highest = static_cast<int>(a);
        if (expected.written[a]) {
            ASSERT_TRUE(stored.written[a]) << a;
            ASSERT_EQ(stored.bytes[a], expected.bytes[a]) << a;
        } else if (stored.written[a]) {
            ASSERT_EQ(stored.bytes[a], 0xFF) << a;  // only fill between records
        }
    }
    ASSERT_EQ(reports.back()[3], CMD_DOWNLOAD_END);
    EXPECT_EQ((reports.back()[6] << 8) | reports.back()[7], highest);
}

TEST_F(LoaderTest, RandomFilesInAddressOrderAreStoredByteForByte) {
    std::mt19937 random(1);
    for (int round = 0; round < 20; ++round) {
        const auto lines = RandomFile(random, false);
        host.sent.clear();
        const auto reports = Download(lines);
        ExpectStoredAsFile(lines, reports);
        for (const Report& b : Blocks(reports)) {
            ASSERT_LE(b[2], 59);
            ASSERT_GE(b[2], 1);
        }
    }
}

TEST_F(LoaderTest, RandomFilesOutOfOrderNeverLoseDataToFill) {
    std::mt19937 random(2);
    for (int round = 0; round < 20; ++round) {
        const auto lines = RandomFile(random, true);
        host.sent.clear();
        ExpectStoredAsFile(lines, Download(lines));
    }
}

TEST_F(LoaderTest, FillNeverCoversARecordWrittenEarlier) {
    // 0x10..0x1F first, then 0x00..0x0F, then 0x30: the gap 0x10..0x2F holds
    // data already written and must not be filled.
    const std::vector<std::string> lines = {kExtended, DataRecord(0x10, Counting(16, 0x10)),
                                            DataRecord(0x00, Counting(16)),
                                            DataRecord(0x30, Counting(16, 0x30)), kEof};
    ExpectStoredAsFile(lines, Download(lines));
}

}  // namespace
}  // namespace qrv::test
