#include "image/image_buffer.h"

#include <gtest/gtest.h>

#include "common/atomic_file.h"

namespace qrv {
namespace {

TEST(RecordLineTest, ReadsFieldsByColumn) {
    const RecordLine line(":10C01020000102030405060708090A0B0C0D0E0F77");
    EXPECT_TRUE(line.IsRecord());
    EXPECT_TRUE(line.HasFields());
    EXPECT_EQ(line.Length(), 0x10);
    EXPECT_EQ(line.Address(), 0xC010);
    EXPECT_EQ(line.Type(), 0x20);
    EXPECT_TRUE(line.IsData());
    EXPECT_EQ(line.DataByte(0), 0x00);
    EXPECT_EQ(line.DataByte(15), 0x0F);
    EXPECT_TRUE(line.Holds(RecordLine::kDataColumn, 16));
    EXPECT_FALSE(line.Holds(RecordLine::kDataColumn, 18));
}

TEST(RecordLineTest, LowerCaseDigitsCountLikeUpperCase) {
    const RecordLine lower(":02abcd00fe0a00");
    EXPECT_EQ(lower.Address(), 0xABCD);
    EXPECT_EQ(lower.DataByte(0), 0xFE);
    EXPECT_EQ(lower.DataByte(1), 0x0A);
}

TEST(RecordLineTest, OtherCharactersCountAsMinusOneInTheByte) {
    // 'G' counts -1: -1*16 + 0 = -16, low 8 bits 0xF0; "0G" gives 0xFF; "GG" 0xEF.
    const RecordLine line(":G00GGG00");
    EXPECT_EQ(line.ByteAt(1), 0xF0);
    EXPECT_EQ(line.ByteAt(3), 0xFF);
    EXPECT_EQ(line.ByteAt(5), 0xEF);
}

TEST(RecordLineTest, ColumnsPastTheLineNeverReadIt) {
    const RecordLine shortLine(":1");
    EXPECT_TRUE(shortLine.IsRecord());
    EXPECT_FALSE(shortLine.HasFields());
    EXPECT_EQ(shortLine.ByteAt(1), 0x0F);  // '1', then the missing column counts -1
    EXPECT_EQ(shortLine.ByteAt(40), 0xEF);
    EXPECT_FALSE(RecordLine("").IsRecord());
    EXPECT_FALSE(RecordLine(" :00000001FF").IsRecord());
}

TEST(NextRecordLineTest, SkipsNonRecordLines) {
    const ImageBuffer image({"", "junk", ":00000001FF", "x", ":00000001FF"});
    EXPECT_EQ(NextRecordLine(image, 0), 2);
    EXPECT_EQ(NextRecordLine(image, 2), 2);
    EXPECT_EQ(NextRecordLine(image, 3), 4);
    EXPECT_EQ(NextRecordLine(image, 5), 5);
    EXPECT_EQ(NextRecordLine(ImageBuffer({"a", "b"}), 0), 2);
}

TEST(ScanImageEndTest, ExtendsBackwardsOverRecordsNotBelowTheValueFound) {
    // Walking back: 0x0100+4 = 0x104; 0x0200 is not below it, 0x200+4 = 0x204;
    // 0x0000 is below 0x204: stop.
    const ImageBuffer image(
        {":00000001FF", ":0400000001020304F2", ":0402000001020304F0", ":0401000001020304F1"});
    EXPECT_EQ(ScanImageEnd(image, image.LineCount()), 0x204);
}

TEST(ScanImageEndTest, LineZeroCounts) {
    const ImageBuffer image({":10800000000102030405060708090A0B0C0D0E0F78", ":00000001FF"});
    EXPECT_EQ(ScanImageEnd(image, image.LineCount()), 0x8010);
}

TEST(ScanImageEndTest, CapsAtFFFFAndTakesType20) {
    const ImageBuffer image({"", ":10FFF820000102030405060708090A0B0C0D0E0F78"});
    EXPECT_EQ(ScanImageEnd(image, image.LineCount()), 0xFFFF);
}

TEST(ScanImageEndTest, IgnoresOtherRecordTypesAndShortLines) {
    const ImageBuffer image({"", ":0400000001020304F2", ":02000004FFFFFC", ":1", "text"});
    EXPECT_EQ(ScanImageEnd(image, image.LineCount()), 4);
}

}  // namespace
}  // namespace qrv

namespace qrv {
namespace {

// The file's one buffer splits as SplitLines splits, whichever way its lines
// are read: forward, backward, or from afar.
TEST(ImageBufferText, LinesAreThoseOfSplitLinesInAnyOrder) {
    std::string many;
    for (int i = 0; i < 300; ++i) many += (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "x\n" : ":0\r");
    const std::vector<std::string> texts = {
        "",         "\n",         "\r\n\r\n", "a\rb\nc\r\nd", "\xEF\xBB\xBF:1\r\n:2",
        "a\n\r\nb", "\r\r\n\n\r", "last\n",   many,
    };
    for (const std::string& text : texts) {
        const std::vector<std::string> expected = SplitLines(text);
        const ImageBuffer image = ImageBuffer::FromText(text);
        ASSERT_EQ(image.LineCount(), static_cast<int>(expected.size())) << text;
        for (int i = 0; i < image.LineCount(); ++i) EXPECT_EQ(image.Line(i), expected[i]) << i;
        for (int i = image.LineCount() - 1; i >= 0; --i) EXPECT_EQ(image.Line(i), expected[i]) << i;
        for (int i = 0; i < image.LineCount(); i += 7) {
            const int j = (i * 131) % image.LineCount();
            EXPECT_EQ(image.Line(j), expected[j]) << j;
        }
        EXPECT_EQ(image.Line(image.LineCount()), "");
    }
}

}  // namespace
}  // namespace qrv
