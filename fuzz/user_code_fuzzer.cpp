// The user-code text parser: the user info code typed into the configuration
// window ("用户信息代码") as the production-file export reads it, in decimal or
// hex ("16进制") mode, fixed or rolling ("滚动"), for either option set. The
// input: a byte of those choices, then the text. Invariants: the record is
// refused or built exactly as an independent reading of the code says (mode
// byte, ASCII part, number or hex bytes, LL); and a production file written
// with it passes the import's check and downloads into the simulated
// programmer, which then holds the user code record's bytes and the
// configuration block.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/atomic_file.h"
#include "fuzz/download_run.h"
#include "image/production_export.h"

namespace {

using namespace qrv;
using namespace qrv::fuzz;

// The data bytes after the tag of the user code record a code gives; an empty
// vector when the code gives no record, nullopt when it is refused.
std::optional<std::vector<uint8_t>> Expected(const UserCode& code) {
    uint8_t mode = code.rolling ? 0x22 : 0x33;
    if (code.hex) mode = static_cast<uint8_t>(mode | 0x80 | (code.optionSet == 1 ? 0x40 : 0));
    const std::string& text = code.text;
    if (code.hex) {
        if (text.size() > 16 || text.size() % 2 != 0) return std::nullopt;
        std::vector<uint8_t> data = {mode, 0};
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const int high = DigitValue(text[i]), low = DigitValue(text[i + 1]);
            if (high < 0 || low < 0) return std::nullopt;
            data.push_back(static_cast<uint8_t>(high * 16 + low));
        }
        return data;
    }
    if (text.empty()) return std::vector<uint8_t>{};
    if (text.size() > 12) return std::nullopt;
    std::vector<uint8_t> ascii;
    uint64_t value = 0;
    bool number = false;
    for (char c : text) {
        if (c < 0x20 || c > 0x7E) return std::nullopt;
        const bool digit = c >= '0' && c <= '9';
        if (number) {
            if (!digit) return std::nullopt;
            value = value * 10 + static_cast<uint64_t>(c - '0');
            if (value > 0xFFFFFFFFu) return std::nullopt;
        } else if (digit && c != '0') {
            value = static_cast<uint64_t>(c - '0');
            number = true;
        } else if (!digit) {
            ascii.push_back(static_cast<uint8_t>(c));
        }
    }
    std::vector<uint8_t> data = {mode, static_cast<uint8_t>(ascii.size())};
    data.insert(data.end(), ascii.begin(), ascii.end());
    const int width = value < 0x100 ? 1 : value < 0x10000 ? 2 : value < 0x1000000 ? 3 : 4;
    for (int i = width - 1; i >= 0; --i) data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const uint8_t choices = TakeByte(data, size);
    UserCode code;
    code.hex = choices & 0x01;
    code.rolling = choices & 0x02;
    code.optionSet = (choices >> 2) & 0x01;
    code.text.assign(reinterpret_cast<const char*>(data), size);

    const std::optional<std::vector<uint8_t>> expected = Expected(code);
    std::string why;
    const std::optional<std::string> record = UserCodeRecord(code, &why);
    if (record.has_value() != expected.has_value())
        Fail("the code is refused exactly when its reading says so",
             record ? "built " + *record : "refused: " + why);
    if (!record) {
        Check(!why.empty(), "a refused code says why");
        return 0;
    }
    if (record->empty() != expected->empty()) Fail("an empty decimal code gives no record");
    if (!record->empty()) {
        const auto bytes = RecordBytes(*record);
        if (!bytes || bytes->size() < 7 || (*bytes)[0] + 7u != bytes->size() ||
            std::vector<uint8_t>(bytes->begin(), bytes->begin() + 7) !=
                std::vector<uint8_t>{(*bytes)[0], 0, 0, 0x22, 'A', 'S', 'D'} ||
            std::vector<uint8_t>(bytes->begin() + 7, bytes->end()) != *expected)
            Fail("the user code record holds the code as read", *record);
    }

    // A production file with this code imports and downloads whole.
    std::array<uint8_t, kConfigBlockSize> block = {0x00, 0x00, 0x7F, 0xFF, 0x05, 'Q',  'M',
                                                   '-',  '0',  '0',  '1',  '-',  '3',  '2',
                                                   'S',  'W',  0x42, 0x20, 0x01, 0x00, 0x0D};
    const auto lines = ProductionFileLines(
        0x1234, code, block, {":10000000000102030405060708090A0B0C0D0E0F78", ":00000001FF"});
    Check(lines.has_value(), "a code with a record makes a production file");
    DownloadRun run;
    Check(run.Download(JoinCrLf(*lines), false).has_value(),
          "a production file with the user code downloads");
    const sim::SimProgrammer& device = run.Device();
    if (device.UserCode().value_or(std::vector<uint8_t>{}) != *expected)
        Fail("the programmer holds the user code record");
    if (!device.Config() || device.Config()->block != block)
        Fail("the programmer holds the configuration block");
    return 0;
}
