// The device models offered by the configuration window's model list
// ComboBox4, and the parameters that choosing one of them puts in force.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace qrv {

// Captions and visibility of the model-dependent option controls.
enum class Profile : uint8_t { S, H, R5, R2, RB };

struct ModelRow {
    std::string_view name;        // list text, "QM-001" .. "QM-083"
    std::string_view romText;     // "16K", "32K" or "64K" (Edit2)
    std::string_view endText;     // "3FFFH", "7FFFH" or "FFFFH" (Edit5)
    uint8_t endHigh;              // high byte of the end address; the low byte is always 0xFF
    uint8_t romClassKiB;          // 16, 32 or 64
    std::string_view deviceCode;  // 11 printable ASCII characters, distinct per row
    uint8_t optionSet;            // 0 full option set, 1 reduced option set
    Profile profile;
    std::span<const std::string_view> hardLockList;  // items of the hard-lock combo ComboBox1
};

inline constexpr int kModelCount = 83;
inline constexpr std::size_t kDeviceCodeLength = 11;

// The 83 rows in list order; the row index equals ComboBox4's item index.
std::span<const ModelRow> ModelTable();

// Caption of the pin box CheckBox12 for a profile ("PA0.0用作IO" for S and H).
std::string_view PinCaption(Profile profile);

}  // namespace qrv
