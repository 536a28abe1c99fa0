// The files the configuration window writes: the user code record of a
// production file, and the merged image with its BIN and HEX output, checked
// against an independent reading of the records and, where installed, srec_cat.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "image/merge.h"
#include "image/production_export.h"
#include "tests/image/loader_fixture.h"

namespace qrv::test {
namespace {

struct CodeCase {
    const char* text;
    bool hex, rolling;
    int optionSet;
    const char* record;  // nullptr: refused; "": no record
};

TEST(UserCodeRecord, BothModes) {
    const CodeCase cases[] = {
        {"AB12", false, false, 0, ":05000022415344330241420C"},
        {"00012", false, false, 0, ":0300002241534433000C"},
        {"7654321", false, false, 0, ":05000022415344330074CBB1"},
        {"4294967295", false, true, 1, ":060000224153442200FFFFFFFF"},
        {"", false, false, 0, ""},
        {"", true, false, 0, ":02000022415344B300"},
        {"0102030405060708", true, true, 1, ":0A000022415344E2000102030405060708"},
        {"12ABC", true, false, 0, nullptr},
        // Codes that the arithmetic would store as another number, or cut.
        {"12AB", false, false, 0, nullptr},
        {"4294967296", false, false, 0, nullptr},
        {"1234567890123", false, false, 0, nullptr},
        {"0G", true, false, 0, nullptr},
        {"0102030405060708090A", true, false, 0, nullptr},
    };
    for (const CodeCase& c : cases) {
        const auto record = UserCodeRecord({c.text, c.hex, c.rolling, c.optionSet});
        if (!c.record)
            EXPECT_FALSE(record) << c.text;
        else
            EXPECT_EQ(record.value_or("refused"), c.record) << c.text;
    }
}

// One file of a merge: its record lines.
using File = std::vector<std::string>;

std::string Text(const File& f) {
    std::string text;
    for (const std::string& line : f) text += line + "\r\n";
    return text;
}

// The merged image computed independently: each file's span, from its lowest
// to one past its highest written byte, replaces what lay there.
std::string Reference(const std::vector<File>& files) {
    std::string image(kMergeSize, '\xFF');
    std::size_t length = 0;
    for (const File& f : files) {
        const Memory m = ExpectedMemory(f);
        std::size_t begin = kMergeSize, end = 0;
        for (std::size_t a = 0; a < kMergeSize; ++a)
            if (m.written[a]) begin = std::min(begin, a), end = a + 1;
        for (std::size_t a = begin; a < end; ++a)
            image[a] = m.written[a] ? static_cast<char>(m.bytes[a]) : '\xFF';
        length = std::max(length, end);
    }
    return image.substr(0, length);
}

File Block(int begin, int end, int type = 0) {
    File f;
    for (int a = begin; a < end; a += 16)
        f.push_back(DataRecord(a, Counting(std::min(16, end - a), a * 7), type));
    return f;
}

File Join(std::initializer_list<File> parts) {
    File all;
    for (const File& p : parts) all.insert(all.end(), p.begin(), p.end());
    all.push_back(":00000001FF");
    return all;
}

MergeImage Merge(const std::vector<File>& files) {
    MergeImage m;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto span = m.ReadFile(Text(files[i]), nullptr);
        EXPECT_TRUE(span && !span->Empty()) << i;
        if (span) m.LayOver(*span, i == 0);
    }
    return m;
}

struct MergeCase {
    const char* name;
    std::vector<File> files;
    int length;
};

TEST(Merge, ImageAndLengthAgreeWithTheRecords) {
    const MergeCase cases[] = {
        {"one file", {Join({Block(0, 0x400)})}, 0x400},
        {"gap", {Join({Block(0, 0x1000)}), Join({Block(0x2000, 0x2100)})}, 0x2100},
        {"overlaying span",
         {Join({Block(0, 0x1000)}), Join({Block(0x100, 0x110), Block(0x800, 0x810)})},
         0x1000},
        {"partial line", {Join({Block(0, 0x105)})}, 0x105},
        {"type 0x20 and header records",
         {Join({{":10000022414D4312", ":15000022515256000000"}, Block(0, 0x40, 0x20)})},
         0x40},
        {"extended address 0", {Join({{":020000040000FA"}, Block(0, 0x20)})}, 0x20},
        // Mended: a middle file reaching furthest, a last record that is not
        // the highest, a whole 64 KiB up to 0xFFFF.
        {"furthest file in the middle",
         {Join({Block(0, 0x100)}), Join({Block(0x3000, 0x3010)}), Join({Block(0x200, 0x210)})},
         0x3010},
        {"last record not highest", {Join({Block(0x500, 0x600), Block(0x100, 0x104)})}, 0x600},
        {"64 KiB", {Join({Block(0, 0x10000)})}, 0x10000},
    };
    for (const MergeCase& c : cases) {
        const MergeImage m = Merge(c.files);
        EXPECT_EQ(m.MergedLength, c.length) << c.name;
        EXPECT_EQ(m.Binary(), Reference(c.files)) << c.name;
    }
}

// The HEX output read back line by line: 16-byte records from 0 with correct
// checksums, then the end record.
TEST(Merge, HexOutputIsSixteenByteRecordsFilledWithFF) {
    for (int length : {0x400, 0x105, 0x10000}) {
        const MergeImage m = Merge({Join({Block(0, length)})});
        std::istringstream in(m.HexText());
        std::string line, image;
        int lines = 0;
        while (std::getline(in, line) && line != ":00000001FF\r") {
            ASSERT_EQ(line.size(), 44u) << line;  // with the CR
            EXPECT_EQ(line.substr(0, 3) + line.substr(7, 2), ":1000");
            EXPECT_EQ(HexByte(line, 3) * 256 + HexByte(line, 5), lines * 16);
            int sum = 0;
            for (std::size_t i = 1; i + 1 < line.size(); i += 2) sum += HexByte(line, i);
            EXPECT_EQ(sum & 0xFF, 0) << line;
            for (std::size_t i = 9; i < 41; i += 2) image += static_cast<char>(HexByte(line, i));
            ++lines;
        }
        EXPECT_EQ(line, ":00000001FF\r");
        EXPECT_FALSE(std::getline(in, line));
        EXPECT_EQ(lines, (length + 15) / 16);
        EXPECT_EQ(image, m.Binary() + std::string((16 - length % 16) % 16, '\xFF'));
    }
}

TEST(Merge, RefusedFilesLeaveTheMergedImageUnchanged) {
    const struct {
        File file;
        const char* message;
        const char* named;
    } cases[] = {
        {Join({Block(0, 0x20), {DataRecord(0xFFF8, Counting(16))}}), kMergeAbove64K, "0x10007"},
        {Join({{":020000040001F9"}, Block(0, 0x20)}), kMergeExtendedAddress, "0x00010000"},
        {Join({{":020000021000EC"}, Block(0, 0x20)}), kMergeExtendedAddress, "0x10000"},
        {Join({{":10000000AABB"}}), "文件格式出错!", "line 1"},
        // The import's whole-file check applies too: checksums, text lines.
        {Join({Block(0, 0x20), {":0100000001FF"}}), "文件格式出错!", "line 3: record checksum"},
        {Join({Block(0, 0x20), {"hello"}}), "文件格式出错!", "line 3: not a record"},
    };
    for (const auto& c : cases) {
        MergeImage m = Merge({Join({Block(0, 0x100)})});
        const std::string before = m.Binary();
        MergeRefusal refusal{};
        EXPECT_FALSE(m.ReadFile(Text(c.file), &refusal));
        EXPECT_STREQ(refusal.message, c.message);
        EXPECT_NE(refusal.detail.find(c.named), std::string::npos) << refusal.detail;
        EXPECT_EQ(m.Binary(), before);
        EXPECT_EQ(m.MergedLength, 0x100);
    }
}

// The texts a merge takes as they come: every line end, a byte-order mark,
// blank lines and trailing blanks, header records, extended addresses of 0.
TEST(Merge, EveryLineFormOfAGoodFileMergesTheSame) {
    const std::string records = ":020000040000FA\n:0400100001020304E2\n:01FFF000AA66\n";
    const std::string expected = std::string(0x10, '\xFF') + "\x01\x02\x03\x04" +
                                 std::string(0xFFF0 - 0x14, '\xFF') + "\xAA";
    const auto replaced = [&records](const std::string& lineEnd) {
        std::string t;
        for (char c : records) t += c == '\n' ? lineEnd : std::string(1, c);
        return t;
    };
    const std::string texts[] = {
        replaced("\r\n"),
        replaced("\r"),
        "\xEF\xBB\xBF" + records,
        "\n  \t\n" + replaced(" \t\r\n") + "\n",
        ":0D000022515256000000030501020304FF\n" + records + ":00000001FF",
    };
    for (const std::string& text : texts) {
        MergeImage m;
        MergeRefusal refusal{};
        const auto span = m.ReadFile(text, &refusal);
        ASSERT_TRUE(span) << refusal.detail << " in " << text;
        m.LayOver(*span, true);
        EXPECT_EQ(m.Binary(), expected) << text;
    }
}

TEST(Merge, IgnoreChecksumsTakesAFileWhoseOnlyFaultIsItsChecksums) {
    const std::string text = ":0400100001020304F0\r\n:00000001FF\r\n";
    MergeImage m;
    MergeRefusal refusal{};
    EXPECT_FALSE(m.ReadFile(text, &refusal));
    EXPECT_NE(refusal.detail.find("record checksum F0"), std::string::npos) << refusal.detail;
    m.IgnoreChecksums = true;
    const auto span = m.ReadFile(text, &refusal);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->begin, 0x10u);
    EXPECT_EQ(span->end, 0x14u);
    // Any other fault is still refused.
    EXPECT_FALSE(m.ReadFile(":0400100001020304\r\n", &refusal));
}

// srec_cat, a second reader: our HEX output read back by it (it checks every
// checksum) gives our binary, and its own merge of files that do not overlap
// gives the same image.
TEST(Merge, SrecCatReadsTheSameImage) {
    if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "no srec_cat";
    const std::vector<File> files = {Join({Block(0, 0x1000)}), Join({Block(0x2000, 0x2105)})};
    const MergeImage m = Merge(files);
    const std::string dir = ::testing::TempDir();
    const auto write = [&](const std::string& name, const std::string& content) {
        std::ofstream(dir + name, std::ios::binary) << content;
        return dir + name;
    };
    const auto read = [&](const std::string& name) {
        std::ifstream in(dir + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string ours = write("merged.hex", m.HexText());
    ASSERT_EQ(std::system(("srec_cat " + ours + " -Intel -crop 0 " +
                           std::to_string(m.MergedLength) + " -o " + dir + "back.bin -Binary")
                              .c_str()),
              0);
    EXPECT_EQ(read("back.bin"), m.Binary());
    const std::string a = write("a.hex", Text(files[0])), b = write("b.hex", Text(files[1]));
    ASSERT_EQ(std::system(("srec_cat '(' " + a + " -Intel " + b + " -Intel ')' -fill 0xFF 0 " +
                           std::to_string(m.MergedLength) + " -o " + dir + "theirs.bin -Binary")
                              .c_str()),
              0);
    EXPECT_EQ(read("theirs.bin"), m.Binary());
}

}  // namespace
}  // namespace qrv::test
