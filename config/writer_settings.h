// WriterSettings: what the configuration window chooses. The first 21 bytes
// form the block that a production file carries; the working fields below it
// are the window's own.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "image/production_export.h"
#include "protocol/reports.h"
#include "protocol/step_bits.h"

namespace qrv {

// optionBits
inline constexpr uint8_t kReadProtect = 0x01;   // CheckBox1 "读保护"
inline constexpr uint8_t kDebugProtect = 0x02;  // CheckBox2 "DEBUG保护"
inline constexpr uint8_t kHardLock = 0x04;      // CheckBox3 "Hard Lock"
inline constexpr uint8_t kDataFlash = 0x08;     // CheckBox4 "DataFlash"
inline constexpr uint8_t kWdtDisable = 0x10;    // CheckBox11 "禁止WDT"
inline constexpr uint8_t kPinNotIo = 0x20;      // CheckBox12 / CheckBox17 unchecked
inline constexpr uint8_t kSwdOrHsosc = 0x40;    // CheckBox14 checked
inline constexpr uint8_t kSubOsc500k = 0x80;    // CheckBox15 checked
// supplyFlags
inline constexpr uint8_t kPc01Flag = 0x20;       // CheckBox17 "PC0.1用作IO" unchecked
inline constexpr uint8_t kOptionSetFlag = 0x80;  // set by the production-file writer
// hardLockSize
inline constexpr uint8_t kOptionSetMarker = 0x80;
// autoSteps: kAutoStepBlank (CheckBox5), kAutoStepOption (CheckBox7),
// kAutoStepErase (CheckBox6), kAutoStepVerify (CheckBox8), in protocol/step_bits.h
// userCodeMode
inline constexpr int32_t kUserCodeFixed = kUserCodeModeFixed;
inline constexpr int32_t kUserCodeRolling = kUserCodeModeRolling;

inline constexpr std::size_t kSettingsBlockSize = kConfigBlockSize;
static_assert(kSettingsBlockSize == kConfigRecordSize,
              "the production file's block is the configuration record");

struct WriterSettings {
    // The block, in file order.
    uint8_t startHigh = 0;
    uint8_t startLow = 0;
    uint8_t endHigh = 0;
    uint8_t endLow = 0;
    uint8_t supplyFlags = 0;
    std::array<char, 11> deviceCode{};
    uint8_t fileMarker = 0;  // drawn for each opened file, 1..254
    uint8_t optionBits = 0;
    uint8_t hardLockSize = 0;
    uint8_t dataFlashSize = 0;
    uint8_t autoSteps = 0;

    // Working fields.
    uint8_t romClassKiB = 0;
    int32_t optionSet = 0;
    int32_t userCodeMode = 0;
    std::string sourceFileName;
    int32_t sourceLineCount = 0;
    uint8_t fileLoaded = 0;
    uint32_t fileChecksum = 0;
    uint32_t nextAddress = 0;
    int32_t gridRow = 0;
    // Merge mode and the number of files merged in the current series.
    uint8_t MergeMode = 0;
    uint8_t MergeCount = 0;

    // The 21 bytes as the production file stores them.
    std::array<uint8_t, kSettingsBlockSize> Block() const;
    // End address, endHigh * 256 + endLow.
    unsigned EndAddress() const { return unsigned{endHigh} << 8 | endLow; }
};

}  // namespace qrv
