#include "config/model_table.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace qrv {
namespace {

struct GroupCase {
    std::string romText;
    Profile profile;
    std::vector<int> rows;
};

// The ten groups of models with identical parameters.
const std::vector<GroupCase> kGroups = {
    {"16K", Profile::S, {1, 3, 5, 8}},
    {"32K", Profile::S, {0, 2, 4, 6, 7, 21}},
    {"32K", Profile::H, {10, 12, 14}},
    {"64K", Profile::H, {9, 11, 13, 22}},
    {"32K", Profile::R5, {16, 18, 20, 56, 58, 60, 62, 64, 66, 68, 70, 72}},
    {"64K", Profile::R5, {15, 17, 19, 55, 57, 59, 61, 63, 65, 67, 69, 71}},
    {"32K", Profile::R2, {24, 26, 28, 31, 33, 34, 35, 36, 37, 38, 40, 42, 44, 46, 48, 50, 52, 54}},
    {"64K", Profile::R2, {23, 25, 27, 29, 30, 32, 39, 41, 43, 45, 47, 49, 51, 53}},
    {"32K", Profile::RB, {74, 76, 78, 80, 82}},
    {"64K", Profile::RB, {73, 75, 77, 79, 81}},
};

TEST(ModelTable, HasEightyThreeRowsNamedInListOrder) {
    const auto table = ModelTable();
    ASSERT_EQ(table.size(), 83u);
    EXPECT_EQ(table[0].name, "QM-001");
    EXPECT_EQ(table[9].name, "QM-010");
    EXPECT_EQ(table[82].name, "QM-083");
}

TEST(ModelTable, EveryRowHasTheParametersOfItsGroup) {
    std::set<int> covered;
    for (const GroupCase& g : kGroups) {
        for (int index : g.rows) {
            SCOPED_TRACE("row " + std::to_string(index));
            EXPECT_TRUE(covered.insert(index).second);
            const ModelRow& row = ModelTable()[static_cast<std::size_t>(index)];
            EXPECT_EQ(row.romText, g.romText);
            EXPECT_EQ(row.profile, g.profile);
        }
    }
    EXPECT_EQ(covered.size(), 83u);
}

TEST(ModelTable, RomTextEndAndClassGoTogether) {
    struct Expect {
        const char* endText;
        uint8_t endHigh;
        uint8_t romClassKiB;
    };
    const std::map<std::string, Expect> expected = {
        {"16K", {"3FFFH", 0x3F, 16}}, {"32K", {"7FFFH", 0x7F, 32}}, {"64K", {"FFFFH", 0xFF, 64}}};
    for (const ModelRow& row : ModelTable()) {
        SCOPED_TRACE(std::string(row.name));
        const Expect& e = expected.at(std::string(row.romText));
        EXPECT_EQ(row.endText, e.endText);
        EXPECT_EQ(row.endHigh, e.endHigh);
        EXPECT_EQ(row.romClassKiB, e.romClassKiB);
    }
}

TEST(ModelTable, ProfilesDecideOptionSetAndHardLockList) {
    const std::vector<std::string_view> full = {"No Hard Lock", "1K", "2K", "4K", "All Hard Lock"};
    const std::vector<std::string_view> reduced = {"No Hard Lock", "4K", "All Hard Lock"};
    for (const ModelRow& row : ModelTable()) {
        SCOPED_TRACE(std::string(row.name));
        const bool fullSet = row.profile == Profile::S || row.profile == Profile::H;
        EXPECT_EQ(row.optionSet, fullSet ? 0 : 1);
        const std::vector<std::string_view> list(row.hardLockList.begin(), row.hardLockList.end());
        EXPECT_EQ(list, fullSet ? full : reduced);
    }
}

TEST(ModelTable, DeviceCodesAreElevenPrintableCharactersAndDistinct) {
    std::set<std::string_view> codes;
    for (const ModelRow& row : ModelTable()) {
        SCOPED_TRACE(std::string(row.name));
        ASSERT_EQ(row.deviceCode.size(), kDeviceCodeLength);
        for (char c : row.deviceCode) EXPECT_TRUE(c >= 0x21 && c <= 0x7E) << int(c);
        EXPECT_TRUE(codes.insert(row.deviceCode).second);
    }
}

TEST(ModelTable, PinCaptionsByProfile) {
    EXPECT_EQ(PinCaption(Profile::S), "PA0.0用作IO");
    EXPECT_EQ(PinCaption(Profile::H), "PA0.0用作IO");
    EXPECT_EQ(PinCaption(Profile::R5), "PA0.5用作IO");
    EXPECT_EQ(PinCaption(Profile::R2), "PA0.2用作IO");
    EXPECT_EQ(PinCaption(Profile::RB), "PB0.3用作IO");
}

}  // namespace
}  // namespace qrv
