#include "image/production_export.h"

#include <ctime>
#include <utility>

#include "common/atomic_file.h"
#include "common/hex.h"

namespace qrv {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Characters the ASCII part can carry as typed: printable ASCII.
bool IsPrintableAscii(char c) {
    return c >= 0x20 && c <= 0x7E;
}

// ":" + LL + "0000" + "22" + "415344" (ASD) + data.
std::string AsdRecord(std::size_t length, const std::string& data) {
    return ":" + H2(static_cast<unsigned>(length)) + "000022415344" + data;
}

std::optional<std::string> Refused(std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return std::nullopt;
}

std::optional<std::string> HexModeRecord(const UserCode& code, uint8_t mode, std::string* why) {
    const std::string& text = code.text;
    if (text.size() > kHexCodeChars) return Refused(why, "more than 16 hex digits");
    for (char c : text)
        if (HexDigitValue(c) < 0) return Refused(why, std::string("'") + c + "' is no hex digit");
    if (text.size() % 2 != 0) return Refused(why, "an odd number of hex digits");
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); i += 2)
        bytes +=
            H2(static_cast<unsigned>(HexDigitValue(text[i]) * 16 + HexDigitValue(text[i + 1])));
    // The mode byte, A = 0, then the N bytes; written also for an empty code.
    return AsdRecord(2 + text.size() / 2, H2(mode) + "00" + bytes);
}

std::optional<std::string> DecimalModeRecord(const UserCode& code, uint8_t mode, std::string* why) {
    const std::string& text = code.text;
    if (text.empty()) return std::string();
    if (text.size() > kDecimalCodeChars) return Refused(why, "more than 12 characters");
    std::string ascii;
    std::size_t asciiCount = 0;
    uint64_t value = 0;
    bool started = false;
    for (char c : text) {
        if (!IsPrintableAscii(c)) return Refused(why, "a character other than printable ASCII");
        if (started) {
            // Once the number has started only digits follow, and it fits 32 bits.
            if (!IsDigit(c))
                return Refused(why, std::string("'") + c + "' follows the digits of the number");
            value = value * 10 + static_cast<uint64_t>(c - '0');
            if (value > 0xFFFFFFFFu) return Refused(why, "the number is above 4294967295");
        } else if (c >= '1' && c <= '9') {
            value = static_cast<uint64_t>(c - '0');
            started = true;
        } else if (c != '0') {
            ascii += H2(static_cast<unsigned char>(c));
            ++asciiCount;
        }
    }
    const std::size_t width = value < 0x100 ? 1 : value < 0x10000 ? 2 : value < 0x1000000 ? 3 : 4;
    std::string number;
    for (std::size_t i = width; i-- > 0;)
        number += H2(static_cast<unsigned>((value >> (8 * i)) & 0xFF));
    const std::string asciiField = H2(static_cast<unsigned>(asciiCount)) + ascii;
    return AsdRecord(width + 1 + asciiCount + 1, H2(mode) + asciiField + number);
}

}  // namespace

uint8_t UserCodeModeByte(const UserCode& code) {
    uint8_t mode = code.rolling ? kUserCodeModeRolling : kUserCodeModeFixed;
    if (code.hex) {
        mode |= kUserCodeModeHex;
        if (code.optionSet == 1) mode |= kUserCodeModeOptionSet;
    }
    return mode;
}

std::optional<std::string> UserCodeRecord(const UserCode& code, std::string* why) {
    const uint8_t mode = UserCodeModeByte(code);
    return code.hex ? HexModeRecord(code, mode, why) : DecimalModeRecord(code, mode, why);
}

std::string MarkerRecord(uint16_t number) {
    return std::string(kMarkerRecordPrefix) + std::to_string(number);
}

std::string ConfigRecord(const std::array<uint8_t, kConfigBlockSize>& block) {
    return ":15000022515256" + HexBytes(block.data(), block.size());
}

std::optional<std::vector<std::string>> ProductionFileLines(
    uint16_t marker, const UserCode& code, const std::array<uint8_t, kConfigBlockSize>& block,
    const std::vector<std::string>& source) {
    std::optional<std::string> userCode = UserCodeRecord(code);
    if (!userCode) return std::nullopt;
    std::vector<std::string> lines;
    lines.reserve(source.size() + 3);
    lines.push_back(MarkerRecord(marker));
    // The user code record comes before the configuration record, which closes
    // the header records when the programmer imports the file.
    if (!userCode->empty()) lines.push_back(std::move(*userCode));
    lines.push_back(ConfigRecord(block));
    lines.insert(lines.end(), source.begin(), source.end());
    return lines;
}

std::string ProductionFileTooLarge(const std::string& source, std::size_t size) {
    return std::string(kProductionFileTooLarge) + "\n" + source +
           ": the production file would be " + std::to_string(size) + " bytes, larger than the " +
           std::to_string(kMaxInputFileSize >> 20) + " MiB that the import reads";
}

std::string ProposedFileName(const CalendarDate& date) {
    return "QRVMCU" + std::to_string(date.year) + std::to_string(date.month) +
           std::to_string(date.day);
}

CalendarDate LocalDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace qrv
