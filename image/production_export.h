// The export side of production files: the marker record, the user code record
// (tag ASD) and the configuration record (tag QRV) written before the lines of
// the source HEX file. Header records are record type 0x22 without checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qrv {

inline constexpr const char* kUserCodeError = "用户信息代码出错!";

// Characters of the user info code that each mode reads.
inline constexpr std::size_t kDecimalCodeChars = 12;
inline constexpr std::size_t kHexCodeChars = 16;

// userCodeMode: fixed or rolling code; a hex-mode record adds its own flag bits.
inline constexpr uint8_t kUserCodeModeFixed = 0x33;
inline constexpr uint8_t kUserCodeModeRolling = 0x22;
inline constexpr uint8_t kUserCodeModeHex = 0x80;        // bit 7: the code is hex bytes
inline constexpr uint8_t kUserCodeModeOptionSet = 0x40;  // bit 6: the model's option set is 1

inline constexpr std::size_t kConfigBlockSize = 21;

// The user info code as the boxes stand: the text of Edit1, "16进制" (hex)
// and "滚动" (rolling), and the option set of the chosen model.
struct UserCode {
    std::string text;
    bool hex = false;
    bool rolling = false;
    int optionSet = 0;
};

// The mode byte of a user code record: 0x22 rolling or 0x33 fixed, and in hex
// mode bit 7 with the option set in bit 6. Derived afresh for every export.
uint8_t UserCodeModeByte(const UserCode& code);

// The user code record of a code, or nullopt when the code cannot be stored as
// typed (the export is then refused with kUserCodeError). An empty string
// means no record: an empty code in decimal mode.
//   Hex mode: up to 16 hex digits, an even number; each pair is one byte.
//   Decimal mode: up to 12 printable ASCII characters. Before the number
//   starts, characters other than digits form the ASCII part and '0' is
//   dropped; the number starts at the first digit 1-9, is followed by digits
//   only and fits 32 bits.
// A refused code says why in *why.
std::optional<std::string> UserCodeRecord(const UserCode& code, std::string* why = nullptr);

// The marker record: this text and the decimal digits of the marker number.
inline constexpr std::string_view kMarkerRecordPrefix = ":10000022414D43";
std::string MarkerRecord(uint16_t number);

// ":15000022515256" and the 21 bytes of the settings block as hex digits.
std::string ConfigRecord(const std::array<uint8_t, kConfigBlockSize>& block);

// The lines of a production file: the marker record, the user code record when
// there is one, the configuration record, then the source lines unchanged.
// nullopt when the user code is refused.
std::optional<std::vector<std::string>> ProductionFileLines(
    uint16_t marker, const UserCode& code, const std::array<uint8_t, kConfigBlockSize>& block,
    const std::vector<std::string>& source);

// The export's refusal of a production file larger than the import reads
// (kMaxInputFileSize): kProductionFileTooLarge, then the source and the size
// the file would have.
inline constexpr const char* kProductionFileTooLarge = "量产文件过大，导入时无法读取!";
std::string ProductionFileTooLarge(const std::string& source, std::size_t size);

// A date as the proposed file names use it.
struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// "QRVMCU" and the date's digits: year, month and day without leading zeros
// (2023-4-11 gives "QRVMCU2023411").
std::string ProposedFileName(const CalendarDate& date);

// Today's date on the local clock.
CalendarDate LocalDate();

}  // namespace qrv
