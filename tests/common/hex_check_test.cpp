// The whole-file check of HEX and production files.
#include "common/hex_check.h"

#include <gtest/gtest.h>

namespace qrv {
namespace {

const std::string kData = ":10000000000102030405060708090A0B0C0D0E0F78";

TEST(CheckHexLines, NamesTheFirstProblemWithItsLine) {
    struct Case {
        std::vector<std::string> lines;
        int line;
        std::string reason;  // the start of it
    };
    const std::vector<Case> cases = {
        {{kData, "garbage"}, 2, "not a record"},
        {{kData, ":10000000ZZ"}, 2, "not a record: 'Z'"},
        {{":0000"}, 1, "not a record: too short"},
        {{":0300000001020"}, 1, "not a record: an odd number"},
        {{":0400000001020304"}, 1, "the record holds 3 data bytes"},
        {{":10FFF800000102030405060708090A0B0C0D0E0F80"}, 1, "data up to FFF8H"},
        {{":020000021000EC", kData}, 1, "extended segment address 1000H"},
        {{":0100000400FB", kData}, 1, "extended linear address of a wrong length"},
        {{":020000040000FA", ":00000001FF"}, 0, "the file holds no data record"},
        {{":00220000DE"}, 0, "the file holds no data record"},
        {{kData.substr(0, kData.size() - 2) + "79"}, 1, "record checksum 79, the record needs 78"},
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
