#include "config/model_table.h"

#include <array>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace qrv {

namespace {

constexpr std::array<std::string_view, 5> kHardLockFull = {"No Hard Lock", "1K", "2K", "4K",
                                                           "All Hard Lock"};
constexpr std::array<std::string_view, 3> kHardLockReduced = {"No Hard Lock", "4K",
                                                              "All Hard Lock"};

struct Group {
    uint8_t romClassKiB;
    Profile profile;
    std::initializer_list<int> rows;
};

// The models, grouped by identical parameters (row indices, 0-based).
const Group kGroups[] = {
    {16, Profile::S, {1, 3, 5, 8}},
    {32, Profile::S, {0, 2, 4, 6, 7, 21}},
    {32, Profile::H, {10, 12, 14}},
    {64, Profile::H, {9, 11, 13, 22}},
    {32, Profile::R5, {16, 18, 20, 56, 58, 60, 62, 64, 66, 68, 70, 72}},
    {64, Profile::R5, {15, 17, 19, 55, 57, 59, 61, 63, 65, 67, 69, 71}},
    {32, Profile::R2, {24, 26, 28, 31, 33, 34, 35, 36, 37, 38, 40, 42, 44, 46, 48, 50, 52, 54}},
    {64, Profile::R2, {23, 25, 27, 29, 30, 32, 39, 41, 43, 45, 47, 49, 51, 53}},
    {32, Profile::RB, {74, 76, 78, 80, 82}},
    {64, Profile::RB, {73, 75, 77, 79, 81}},
};

std::string_view ProfileCode(Profile p) {
    switch (p) {
        case Profile::S:
            return "SW";
        case Profile::H:
            return "HS";
        case Profile::R5:
            return "R5";
        case Profile::R2:
            return "R2";
        case Profile::RB:
            return "RB";
    }
    return "??";
}

std::string ThreeDigits(int n) {
    std::string s = std::to_string(n);
    return std::string(3 - s.size(), '0') + s;
}

struct Storage {
    // Texts the rows point into: "QM-001" and the device code "QM-001-32SW".
    std::array<std::array<char, 8>, kModelCount> names{};
    std::array<std::array<char, kDeviceCodeLength + 1>, kModelCount> codes{};
    std::array<ModelRow, kModelCount> rows{};

    Storage() {
        std::array<bool, kModelCount> seen{};
        for (const Group& g : kGroups) {
            for (int index : g.rows) {
                const auto i = static_cast<std::size_t>(index);
                if (index < 0 || index >= kModelCount || seen[i])
                    throw std::logic_error("model table: row in no group or in two");
                seen[i] = true;
                FillRow(i, g);
            }
        }
        for (bool s : seen)
            if (!s) throw std::logic_error("model table: row in no group");
    }

  private:
    // Row i of group g: its name and device code, its ROM class and option set.
    void FillRow(std::size_t i, const Group& g) {
        const std::string number = ThreeDigits(static_cast<int>(i) + 1);
        const std::string name = "QM-" + number;
        const std::string code =
            name + "-" + std::to_string(g.romClassKiB) + std::string(ProfileCode(g.profile));
        if (code.size() != kDeviceCodeLength)
            throw std::logic_error("model table: device code of wrong length");
        name.copy(names[i].data(), name.size());
        code.copy(codes[i].data(), code.size());
        ModelRow& r = rows[i];
        r.name = std::string_view(names[i].data());
        r.deviceCode = std::string_view(codes[i].data(), kDeviceCodeLength);
        r.romClassKiB = g.romClassKiB;
        r.profile = g.profile;
        SetRomClassTexts(r);
        const bool reduced = g.profile != Profile::S && g.profile != Profile::H;
        r.optionSet = reduced ? 1 : 0;
        if (reduced)
            r.hardLockList = kHardLockReduced;
        else
            r.hardLockList = kHardLockFull;
    }

    // The ROM size and end address texts of the row's ROM class.
    static void SetRomClassTexts(ModelRow& r) {
        if (r.romClassKiB == 16) {
            r.romText = "16K";
            r.endText = "3FFFH";
            r.endHigh = 0x3F;
        } else if (r.romClassKiB == 32) {
            r.romText = "32K";
            r.endText = "7FFFH";
            r.endHigh = 0x7F;
        } else {
            r.romText = "64K";
            r.endText = "FFFFH";
            r.endHigh = 0xFF;
        }
    }
};

}  // namespace

std::span<const ModelRow> ModelTable() {
    static const Storage storage;
    return storage.rows;
}

std::string_view PinCaption(Profile profile) {
    switch (profile) {
        case Profile::R5:
            return "PA0.5用作IO";
        case Profile::R2:
            return "PA0.2用作IO";
        case Profile::RB:
            return "PB0.3用作IO";
        case Profile::S:
        case Profile::H:
            break;
    }
    return "PA0.0用作IO";
}

}  // namespace qrv
