// The whole-file check of HEX and production files.
#include "image/hex_check.h"

#include <gtest/gtest.h>

namespace qrv {
namespace {

const std::string kData = ":10000000000102030405060708090A0B0C0D0E0F78";
const std::string kUserCode = ":05000022415344330241420C";
const std::string kConfig = ":1500002251525600007FFF0551525633324B2D53303031420001000D";

TEST(CheckHexLines, NamesTheFirstProblemWithItsLine) {
    struct Case {
        std::vector<std::string> lines;
        int line;
        std::string reason;  // the start of it
    };
    const std::vector<Case> cases = {
        {{kData, "garbage"}, 2, "not a record"},
        {{kData, ":10000000ZZ"}, 2, "not a record: 'Z'"},
        // Bytes that are not printable are shown escaped, never cut the message.
        {{kData, std::string(":1000", 5) + '\0' + "0000"}, 2, "not a record: '\\x00' is no"},
        {{kData, ":1000\x1B" + std::string("0000")}, 2, "not a record: '\\x1B' is no"},
        {{kData, ":1000\xE4" + std::string("0000")}, 2, "not a record: '\\xE4' is no"},
        {{":0000"}, 1, "not a record: too short"},
        {{":0300000001020"}, 1, "not a record: an odd number"},
        {{":0400000001020304"}, 1, "the record holds 3 data bytes"},
        {{":10FFF800000102030405060708090A0B0C0D0E0F80"}, 1, "data up to FFF8H"},
        {{":020000021000EC", kData}, 1, "extended segment address 1000H"},
        {{":0100000400FB", kData}, 1, "extended linear address of a wrong length"},
        {{":020000040000FA", ":00000001FF"}, 0, "the file holds no data record"},
        {{":00220000DE"}, 0, "the file holds no data record"},
        {{kData.substr(0, kData.size() - 2) + "79"}, 1, "record checksum 79, the record needs 78"},
        // The header records that go to the programmer must be records it takes.
        {{":0300002241534433054142", kData},
         1,
         "user code record: it holds 4 bytes after its tag, its length byte says 3"},
        {{":03000022415344330541", kData},
         1,
         "user code record: 5 ASCII characters do not fit its 3 bytes"},
        {{":0100002241534433", kData}, 1, "user code record of 1 bytes, not 2 to 61"},
        {{":10000022414D43", kUserCode, kUserCode, kConfig, kData}, 3, "a second user code record"},
        {{kConfig.substr(0, kConfig.size() - 2), kData},
         1,
         "configuration record: it holds 20 bytes after its tag"},
        {{":16000022515256" + kConfig.substr(15) + "00", kData},
         1,
         "configuration record of 22 bytes, not 21"},
        {{kData, kConfig}, 2, "configuration record after image data"},
        {{":0000000000", kData, kUserCode}, 3, "user code record after image data"},
    };
    for (const Case& c : cases) {
        const auto problem = CheckHexLines(c.lines);
        ASSERT_TRUE(problem) << c.reason;
        EXPECT_EQ(problem->line, c.line) << c.reason;
        EXPECT_EQ(problem->reason.rfind(c.reason, 0), 0u) << problem->reason;
    }
}

TEST(CheckHexLines, AcceptsWhatDownloadsToday) {
    // Blank lines anywhere, trailing blanks, lower-case digits, extended
    // address 0, start addresses, and production header records of any length.
    EXPECT_FALSE(
        CheckHexLines({":10000022414D4354321", ":05000022415344330241420C", "", ":020000040000FA",
                       kData + "  ", " \t", ":10001000000102030405060708090a0b0c0d0e0f68",
                       ":0400000500000000F7", ":00000001FF", ""}));
}

TEST(CheckHexLines, AcceptsAProductionFileAsTheWindowWritesIt) {
    EXPECT_FALSE(CheckHexLines({":10000022414D4312345", kUserCode, kConfig, kData, ":00000001FF"}));
    // An empty data record writes nothing: the header records still come first.
    EXPECT_FALSE(CheckHexLines({":10000022414D43", ":0000000000", kConfig, kData}));
    // Blank lines before the marker record are skipped like any other.
    EXPECT_FALSE(CheckHexLines({"", " ", ":10000022414D43", kConfig, kData}));
    // Header records of other tags are not sent; they need only their fields.
    EXPECT_FALSE(CheckHexLines({kData, ":0100002258595A", ":10000022414D43"}));
}

TEST(CheckHexLines, TheMergeLeavesHeaderRecordsAlone) {
    const std::vector<std::string> lines = {":10000022414D43", ":15000022515256000000", kData};
    ASSERT_TRUE(CheckHexLines(lines));
    EXPECT_FALSE(CheckHexLines(lines, {false, true, false}));
}

TEST(CheckHexLines, ABadChecksumAloneMayBeIgnored) {
    const std::vector<std::string> lines = {kData.substr(0, kData.size() - 2) + "00"};
    ASSERT_TRUE(CheckHexLines(lines));
    EXPECT_TRUE(CheckHexLines(lines)->checksumOnly);
    EXPECT_FALSE(CheckHexLines(lines, {true}));
    // A worse problem further on is reported instead.
    auto worse = lines;
    worse.push_back("text");
    EXPECT_FALSE(CheckHexLines(worse)->checksumOnly);
}

}  // namespace
}  // namespace qrv
