#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "config_test_support.h"

namespace qrv {
namespace {

using test::DataRecord;
using test::Fixture;
using test::kEof;
using test::ScratchDir;

std::vector<uint8_t> Bytes(std::size_t n, uint8_t first = 0, uint8_t step = 1) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + step * i);
    return v;
}

std::string Lines(const std::vector<std::string>& lines, const char* end = "\r\n") {
    std::string s;
    for (const auto& l : lines) s += l + end;
    return s;
}

struct Opened : Fixture {
    ScratchDir dir;
    // Opens a file through the open button, as the user does.
    void Open(const std::string& content, const std::string& name = "image.hex") {
        answers.openAnswers.push_back(dir.Write(name, content));
        session.BitBtn1Click();
    }
    std::string Cell(int column, int row) const {
        return session.form.StringGrid1.Cell(column, row);
    }
};

TEST(HexPair, DigitsAndOtherCharacters) {
    struct Case {
        const char* text;
        std::optional<uint8_t> value;
    };
    for (const Case& c :
         {Case{"00", 0x00}, Case{"7f", 0x7F}, Case{"A5", 0xA5}, Case{"FF", 0xFF}, Case{"G0", 0xF0},
          Case{"0G", 0xFF}, Case{"::", 0xEF}, Case{"1", {}}, Case{"", {}}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DecodeHexPair(c.text, 0), c.value);
    }
    EXPECT_EQ(DecodeHexPair("12", 5), std::nullopt);
}

TEST(FileView, OneSmallRecord) {
    Opened t;
    t.Open(Lines({DataRecord(0x0000, {1, 2, 3, 4}), kEof}));
    EXPECT_EQ(t.Cell(0, 1), "0000");
    EXPECT_EQ(t.Cell(1, 1), "01");
    EXPECT_EQ(t.Cell(4, 1), "04");
    EXPECT_EQ(t.Cell(5, 1), "");
    EXPECT_EQ(t.Cell(0, 2), "");
    EXPECT_EQ(t.session.form.Edit5.text, "0003H");
    EXPECT_EQ(t.session.form.Edit6.text, "000AH");
    EXPECT_EQ(t.session.settings.endHigh, 0x00);
    EXPECT_EQ(t.session.settings.endLow, 0x03);
    EXPECT_EQ(t.session.settings.fileChecksum, 0x000Au);
    EXPECT_EQ(t.session.settings.nextAddress, 4u);
    EXPECT_EQ(t.session.settings.gridRow, 2);
}

TEST(FileView, HeaderAndAddressColumn) {
    Opened t;
    EXPECT_EQ(t.session.form.StringGrid1.addressColumnWidth, 19);
    t.Open(Lines({DataRecord(0x0000, {1}), kEof}));
    EXPECT_EQ(t.session.form.StringGrid1.addressColumnWidth, 36);
    EXPECT_EQ(t.Cell(0, 0), "");
    EXPECT_EQ(t.Cell(1, 0), "00");
    EXPECT_EQ(t.Cell(10, 0), "09");
    EXPECT_EQ(t.Cell(16, 0), "0F");
    EXPECT_EQ(t.Cell(17, 0), "");
}

struct ChecksumCase {
    const char* name;
    std::vector<std::string> lines;
    const char* end;
    const char* checksum;
};

void PrintTo(const ChecksumCase& c, std::ostream* os) {
    *os << c.name;
}

class Checksums : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(Checksums, EndAndChecksum) {
    const ChecksumCase& c = GetParam();
    Opened t;
    t.Open(Lines(c.lines));
    EXPECT_EQ(t.session.form.Edit5.text, c.end);
    EXPECT_EQ(t.session.form.Edit6.text, c.checksum);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Checksums,
    ::testing::Values(
        ChecksumCase{
            "GapBeforeFirstRecord", {DataRecord(0x1000, Bytes(16, 0, 0)), kEof}, "100FH", "F000H"},
        ChecksumCase{"GapOfSixteen",
                     {DataRecord(0x0000, Bytes(16)), DataRecord(0x0020, Bytes(16)), kEof},
                     "002FH",
                     "10E0H"},  // 2 * 120 + 16 * 255
        ChecksumCase{"BlankLinesAndText",
                     {"", DataRecord(0x0000, Bytes(16)), "", "; note",
                      DataRecord(0x0010, Bytes(16)), kEof, ""},
                     "001FH",
                     "00F0H"},
        ChecksumCase{"ByteOrderMark",
                     {"\xEF\xBB\xBF" + DataRecord(0x0000, {1, 2, 3, 4}), kEof},
                     "0003H",
                     "000AH"},
        // A record without data moves no end and opens no gap, as in the download.
        ChecksumCase{"ZeroLengthRecord",
                     {DataRecord(0x0000, Bytes(16)), ":00220000DE", kEof},
                     "000FH",
                     "0078H"},
        ChecksumCase{"NoDataRecord", {kEof}, "0000H", "0000H"},
        ChecksumCase{"EmptyFile", {}, "0000H", "0000H"},
        ChecksumCase{"Type20IsData", {DataRecord(0x0000, {5, 6}, 0x20), kEof}, "0001H", "000BH"},
        ChecksumCase{"OtherTypesSkipped",
                     {":020000040001F9", DataRecord(0x0000, {1}), ":0400000500000000F7", kEof},
                     "0000H",
                     "0001H"},
        ChecksumCase{"LowerCaseDigits", {":02000000abcd86", kEof}, "0001H", "0178H"},
        ChecksumCase{"LongRecordCountsFully",
                     {DataRecord(0x0000, Bytes(255, 1, 0)), kEof},
                     "00FEH",
                     "00FFH"},
        ChecksumCase{"SixtyBytes", {DataRecord(0x0000, Bytes(60, 2, 0)), kEof}, "003BH", "0078H"},
        ChecksumCase{"RecordPastTheTop",
                     {DataRecord(0xFFF0, Bytes(32, 0, 0)), kEof},
                     "FFFFH",
                     "F010H"}),  // 0xFFF0 * 255 = 0xFEF010
    [](const auto& p) { return std::string(p.param.name); });

TEST(FileView, LongRecordGoesOnInRowsOfSixteen) {
    Opened t;
    t.Open(Lines({DataRecord(0x0200, Bytes(40)), DataRecord(0x0300, {9}), kEof}));
    EXPECT_EQ(t.Cell(0, 1), "0200");
    EXPECT_EQ(t.Cell(16, 1), "0F");
    EXPECT_EQ(t.Cell(0, 2), "0210");
    EXPECT_EQ(t.Cell(1, 2), "10");
    EXPECT_EQ(t.Cell(0, 3), "0220");
    EXPECT_EQ(t.Cell(8, 3), "27");
    EXPECT_EQ(t.Cell(9, 3), "");
    EXPECT_EQ(t.Cell(0, 4), "0300");
    EXPECT_EQ(t.Cell(1, 4), "09");
    EXPECT_EQ(t.session.settings.gridRow, 5);
    EXPECT_GE(t.session.form.StringGrid1.RowCount(), 5);
}

TEST(FileView, RowCountFollowsTheLineCount) {
    Opened t;
    std::vector<std::string> lines;
    for (unsigned a = 0; a < 0x100; a += 16) lines.push_back(DataRecord(a, Bytes(16)));
    lines.push_back(kEof);
    t.Open(Lines(lines, "\n"));
    EXPECT_EQ(t.session.settings.sourceLineCount, 17);
    EXPECT_EQ(t.session.form.StringGrid1.RowCount(), 17);
    EXPECT_TRUE(t.session.form.Memo1.lines.empty());  // no copy of the file is kept
    EXPECT_EQ(t.Cell(0, 16), "00F0");
}

TEST(FileView, TwoRecordsOnOneLineGiveTwoRows) {
    Opened t;
    t.Open(Lines({DataRecord(0x0000, {1, 2}) + DataRecord(0x0010, {3}), kEof}));
    EXPECT_EQ(t.Cell(0, 1), "0000");
    EXPECT_EQ(t.Cell(0, 2), "0010");
    EXPECT_EQ(t.Cell(1, 2), "03");
    EXPECT_EQ(t.session.form.Edit5.text, "0010H");
}

TEST(FileView, MalformedLinesAreReadSafely) {
    Opened t;
    t.Open(Lines({":", ":10", ":10000000", ":1000000001", ":1000000000", ":04000000010203",
                  ":0400000001020", ":::::::::::::", ":0G000000", "x:02000000AABB", kEof}));
    // Records whose data the line cuts short show the bytes it holds.
    EXPECT_EQ(t.Cell(0, 1), "0000");
    EXPECT_EQ(t.Cell(1, 1), "");
    EXPECT_EQ(t.Cell(1, 2), "01");
    EXPECT_EQ(t.Cell(2, 2), "");
    EXPECT_EQ(t.Cell(1, 3), "00");
    EXPECT_EQ(t.Cell(3, 4), "03");
    EXPECT_EQ(t.Cell(4, 4), "");
    EXPECT_EQ(t.Cell(2, 5), "02");
    EXPECT_EQ(t.Cell(3, 5), "");  // a lone digit is not read
    EXPECT_EQ(t.Cell(1, 6), "");
    // A record later in a line is shown, but only lines starting with ':' are summed.
    EXPECT_EQ(t.Cell(2, 7), "BB");
    EXPECT_EQ(t.Cell(0, 8), "");
    // ":0G000000" declares 0xFF bytes at 0: the end runs to 0x00FE.
    EXPECT_EQ(t.session.form.Edit5.text, "00FEH");
    EXPECT_EQ(t.session.form.Edit6.text, "000AH");  // 1 + 0 + (1+2+3) + (1+2)
}

TEST(FileView, NonHexDigitsCountAsMinusOne) {
    Opened t;
    // Count "0G" = 0xFF bytes; address "0000"; data "G0" = 0xF0 then nothing more.
    t.Open(Lines({":0G000000G0", kEof}));
    EXPECT_EQ(t.Cell(1, 1), "F0");
    EXPECT_EQ(t.Cell(2, 1), "");
    EXPECT_EQ(t.session.form.Edit5.text, "00FEH");
    EXPECT_EQ(t.session.form.Edit6.text, "00F0H");
}

TEST(FileView, OptionRecordSetsTheOptionControls) {
    Opened t;
    t.session.ComboBox4Click(0);  // 32K class
    t.Open(
        Lines({DataRecord(0x0000, Bytes(16)), DataRecord(0x0100, {0x57, 0x03, 0x55, 0x55}), kEof}));
    EXPECT_EQ(t.session.fileOptionWord, 0x55550357u);
    EXPECT_TRUE(t.session.form.CheckBox11.Checked());
    EXPECT_EQ(t.session.form.ComboBox2.itemIndex, 3);
    EXPECT_EQ(t.session.form.Edit2.text, "32K");
    // The file's last address replaces the end the option word set.
    EXPECT_EQ(t.session.form.Edit5.text, "0103H");
    EXPECT_EQ(t.Cell(0, 2), "0100");
}

TEST(FileView, ShortOptionRecordSetsNothing) {
    Opened t;
    t.Open(Lines({DataRecord(0x0100, {0x57, 0x03}), kEof}));
    EXPECT_FALSE(t.session.fileOptionWord.has_value());
    EXPECT_FALSE(t.session.form.CheckBox14.Checked());
    EXPECT_EQ(t.session.settings.optionBits, 0);
}

TEST(FileView, SecondFileStartsTheGridAfresh) {
    Opened t;
    std::vector<std::string> first;
    for (unsigned a = 0; a < 0x80; a += 16) first.push_back(DataRecord(a, Bytes(16)));
    first.push_back(kEof);
    t.Open(Lines(first), "first.hex");
    ASSERT_EQ(t.Cell(0, 8), "0070");
    t.Open(Lines({DataRecord(0x4000, {0xEE}), kEof}), "second.hex");
    EXPECT_EQ(t.Cell(0, 1), "4000");
    EXPECT_EQ(t.Cell(1, 1), "EE");
    EXPECT_EQ(t.Cell(2, 1), "");
    for (int row = 2; row < 10; ++row) {
        EXPECT_EQ(t.Cell(0, row), "") << row;
        EXPECT_EQ(t.Cell(1, row), "") << row;
    }
    EXPECT_EQ(t.session.form.Edit3.text, t.dir.Path("second.hex"));
}

TEST(FileView, MarkerIsDrawnFromOneTo254) {
    for (auto [drawn, marker] : {std::pair<uint32_t, uint8_t>{0, 1},
                                 {1, 1},
                                 {254, 254},
                                 {255, 1},
                                 {509, 254},
                                 {0xFFFFFFFF, 1}}) {
        Opened t;
        t.session.Random = [d = drawn] { return d; };
        t.Open(Lines({kEof}));
        EXPECT_EQ(t.session.settings.fileMarker, marker) << drawn;
    }
}

TEST(FileView, OpeningSetsTheSourceFields) {
    Opened t;
    t.session.form.Memo2.lines = {"left over"};
    t.Open(Lines({DataRecord(0, {1}), kEof}));
    const WriterSettings& s = t.session.settings;
    EXPECT_EQ(s.fileLoaded, 1);
    EXPECT_EQ(s.sourceFileName, t.dir.Path("image.hex"));
    EXPECT_EQ(s.sourceLineCount, 2);
    EXPECT_TRUE(t.session.form.Memo2.lines.empty());
    EXPECT_EQ(t.session.form.Edit3.text, s.sourceFileName);
}

TEST(FileView, CancelledDialogChangesNothing) {
    Fixture t;
    t.answers.openAnswers.push_back(std::nullopt);
    t.session.BitBtn1Click();
    EXPECT_EQ(t.answers.openCalls, 1);
    EXPECT_EQ(t.session.settings.fileLoaded, 0);
    EXPECT_EQ(t.session.form.Edit5.text, "7FFFH");
    EXPECT_TRUE(t.answers.messages.empty());
}

TEST(FileView, UnreadableFileIsReportedAndChangesNothing) {
    Opened t;
    t.Open(Lines({DataRecord(0, {1, 2}), kEof}), "good.hex");
    for (const std::string& path : {t.dir.Path("missing.hex"), t.dir.Path("")}) {
        t.answers.openAnswers.push_back(path);
        t.session.BitBtn1Click();
    }
    ASSERT_EQ(t.answers.messages.size(), 2u);
    EXPECT_EQ(t.answers.messages[0].rfind("无法读取文件!\n", 0), 0u) << t.answers.messages[0];
    EXPECT_NE(t.answers.messages[0].find("missing.hex"), std::string::npos);
    EXPECT_EQ(t.session.settings.sourceFileName, t.dir.Path("good.hex"));
    EXPECT_EQ(t.session.form.Edit6.text, "0003H");
    EXPECT_EQ(t.Cell(2, 1), "02");
}

TEST(FileView, ModelChoiceAfterOpeningRestoresTheModelEnd) {
    Opened t;
    t.Open(Lines({DataRecord(0x0000, Bytes(16)), kEof}));
    EXPECT_EQ(t.session.form.Edit5.text, "000FH");
    t.session.ComboBox4Click(1);
    EXPECT_EQ(t.session.form.Edit5.text, "3FFFH");
    EXPECT_EQ(t.session.settings.EndAddress(), 0x3FFFu);
}

TEST(FileView, CloseEmptiesDataCellsButKeepsAddressesAndFile) {
    Opened t;
    t.Open(Lines({DataRecord(0x0000, Bytes(20)), kEof}));
    t.session.FormClose();
    EXPECT_EQ(t.Cell(0, 1), "0000");
    EXPECT_EQ(t.Cell(0, 2), "0010");
    EXPECT_EQ(t.Cell(1, 1), "");
    EXPECT_EQ(t.Cell(4, 2), "");
    EXPECT_EQ(t.Cell(1, 0), "00");
    EXPECT_EQ(t.session.form.Edit3.text, "");
    EXPECT_EQ(t.session.settings.fileLoaded, 1);
    EXPECT_EQ(t.session.form.Edit6.text, "00BEH");
    EXPECT_EQ(t.session.settings.sourceLineCount, 2);
}

TEST(FileView, NextRecordLineSkipsNonRecords) {
    const std::vector<std::string> lines = {"", "abc", ":00", " :x", ":"};
    EXPECT_EQ(NextRecordLine(lines, 0), 2u);
    EXPECT_EQ(NextRecordLine(lines, 3), 4u);
    EXPECT_EQ(NextRecordLine(lines, 5), 5u);
    EXPECT_EQ(NextRecordLine(lines, 9), 9u);
}

TEST(FileView, ChecksumCountsRecordsBelowTheAddressReached) {
    uint32_t sum = 0, next = 0;
    AddLineToChecksum(DataRecord(0x0010, {1}), sum, next);
    EXPECT_EQ(sum, 16u * 255 + 1);
    EXPECT_EQ(next, 0x11u);
    AddLineToChecksum(DataRecord(0x0000, {2, 3}), sum, next);  // no gap, next goes back
    EXPECT_EQ(sum, 16u * 255 + 6);
    EXPECT_EQ(next, 2u);
}

}  // namespace
}  // namespace qrv
