#include "image/merge.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/atomic_file.h"
#include "common/hex.h"
#include "image/hex_check.h"
#include "image/hex_loader.h"

namespace qrv {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr unsigned kLineBytes = 16;

// Record fields, counted from the ':'.
constexpr std::size_t kHeaderChars = 9;  // ':', LL, address, type

constexpr int kTypeData = 0x00;
constexpr int kTypeData20 = 0x20;
constexpr int kTypeSegment = 0x02;  // extended segment address: value * 16
constexpr int kTypeLinear = 0x04;   // extended linear address: value << 16
constexpr int kTypeHeader = 0x22;   // production-file header records

// Each character's value as a hex digit, -1 for any other character.
constexpr std::array<int8_t, 256> kDigitValue = [] {
    std::array<int8_t, 256> t{};
    for (std::size_t c = 0; c < t.size(); ++c)
        t[c] = static_cast<int8_t>(HexDigitValue(static_cast<char>(c)));
    return t;
}();

// The value of each pair of characters read as two hex digits, indexed by the
// first character plus 256 times the second (one 16-bit load on the usual
// machine), or kNotAPair.
constexpr unsigned kNotAPair = 0x100;
const std::array<uint16_t, 0x10000>& PairValues() {
    static const std::array<uint16_t, 0x10000> table = [] {
        std::array<uint16_t, 0x10000> t{};
        for (unsigned i = 0; i < t.size(); ++i) {
            const int high = kDigitValue[i & 0xFF];
            const int low = kDigitValue[i >> 8];
            t[i] = static_cast<uint16_t>(high < 0 || low < 0 ? kNotAPair : high * 16 + low);
        }
        return t;
    }();
    return table;
}

// Decodes count bytes written as hex digit pairs from p; false when a
// character is no hex digit. The caller made sure the characters are there.
inline bool DecodePairs(const char* p, unsigned count, uint8_t* out) {
    int bad = 0;
    for (unsigned i = 0; i < count; ++i) {
        const int high = kDigitValue[static_cast<unsigned char>(p[2 * i])];
        const int low = kDigitValue[static_cast<unsigned char>(p[2 * i + 1])];
        bad |= high | low;  // -1 for any character that is no hex digit
        out[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return bad >= 0;
}

// Reads the records of one text; keeps the position for the messages.
class RecordReader {
  public:
    RecordReader(std::string_view text, MergeRefusal* refusal) : text_(text), refusal_(refusal) {}

    // The count bytes written as hex digit pairs from pos; false (and the
    // refusal set) when the record ends before them or a character is no hex digit.
    bool Bytes(std::size_t pos, unsigned count, uint8_t* out) {
        if (pos + 2 * std::size_t{count} <= text_.size() &&
            DecodePairs(text_.data() + pos, count, out))
            return true;
        return RefuseBytes(pos, count);
    }

    // Sets the refusal: the message (the loader's format error when null), and
    // the line of pos with the reason.
    bool Refuse(const char* message, std::size_t pos, const std::string& reason) {
        if (refusal_) {
            refusal_->message = message ? message : kFormatErrorText;
            const auto line =
                std::count(text_.begin(), text_.begin() + static_cast<long>(pos), '\n');
            refusal_->detail = "line " + std::to_string(line + 1) + ": " + reason;
        }
        return false;
    }

  private:
    // Why the bytes from pos cannot be read: the first character that is no
    // hex digit, or the end of the record.
    bool RefuseBytes(std::size_t pos, unsigned count) {
        for (std::size_t at = pos; at < pos + 2 * std::size_t{count}; ++at) {
            const char c = at < text_.size() ? text_[at] : '\n';
            if (kDigitValue[static_cast<unsigned char>(c)] >= 0) continue;
            if (c == '\r' || c == '\n') return Refuse(nullptr, at, "the record ends early");
            return Refuse(nullptr, at, std::string("'") + c + "' is no hex digit");
        }
        return false;
    }

    std::string_view text_;
    MergeRefusal* refusal_;
};

std::string Hex(unsigned value, int digits) {
    std::string s = "0x";
    for (int i = digits - 1; i >= 0; --i) s += kDigits[(value >> (4 * i)) & 0xF];
    return s;
}

}  // namespace

std::optional<MergeSpan> MergeImage::ReadFile(std::string_view text, MergeRefusal* refusal) {
    if (const std::optional<MergeSpan> span = ReadClean(text)) return span;
    return ReadChecked(text, refusal);
}

std::optional<MergeSpan> MergeImage::ReadClean(std::string_view text) {
    MergeScratch.assign(kMergeSize, 0xFF);
    const std::array<uint16_t, 0x10000>& pairs = PairValues();
    unsigned low = kMergeSize;
    unsigned high = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    // A UTF-8 byte-order mark, as some editors write, is no part of the first line.
    if (text.starts_with("\xEF\xBB\xBF")) p += 3;
    while (p < end) {
        // One line: up to LF, CR LF or a CR alone, without its trailing blanks.
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (!lf) lf = end;
        const char* stop = static_cast<const char*>(std::memchr(p, '\r', lf - p));
        const char* next;
        if (!stop) {
            stop = lf;
            next = lf + 1;
        } else {
            next = stop + 1 < end && stop[1] == '\n' ? stop + 2 : stop + 1;
        }
        const char* last = stop;
        while (last > p && (last[-1] == ' ' || last[-1] == '\t')) --last;
        const char* line = p;
        p = next;
        if (last == line) continue;  // a blank line

        // ':' and pairs of hex digits, as many as the length byte says.
        const std::size_t chars = static_cast<std::size_t>(last - line);
        if (line[0] != ':' || chars < kHeaderChars || chars % 2 == 0) return std::nullopt;
        const unsigned bytes = static_cast<unsigned>(chars / 2);
        const auto* digits = reinterpret_cast<const unsigned char*>(line + 1);
        const auto pair = [&pairs, digits](unsigned i) {
            return unsigned{pairs[digits[2 * i] | unsigned{digits[2 * i + 1]} << 8]};
        };
        unsigned bad = 0;
        unsigned sum = 0;
        uint8_t header[4];  // LL, address high and low, type
        for (unsigned i = 0; i < 4; ++i) {
            const unsigned value = pair(i);
            bad |= value;
            sum += value;
            header[i] = static_cast<uint8_t>(value);
        }
        if (bad & kNotAPair) return std::nullopt;
        const unsigned type = header[3];
        if (type == kTypeHeader) {
            // A production file's header records are not merged; their hex
            // digits are all that is asked of them.
            for (unsigned i = 4; i < bytes; ++i) bad |= pair(i);
            if (bad & kNotAPair) return std::nullopt;
            continue;
        }
        const unsigned length = header[0];
        if (bytes != length + 5) return std::nullopt;
        const unsigned address = unsigned{header[1]} << 8 | header[2];
        const bool data = type == kTypeData || type == kTypeData20;
        if (data && address + length > kMergeSize) return std::nullopt;
        // Data go straight to MergeScratch: a file that turns out bad is read
        // again from the start by ReadChecked.
        uint8_t other[255];
        uint8_t* to = data ? MergeScratch.data() + address : other;
        for (unsigned i = 0; i < length; ++i) {
            const unsigned value = pair(4 + i);
            bad |= value;
            sum += value;
            to[i] = static_cast<uint8_t>(value);
        }
        const unsigned checksum = pair(4 + length);
        bad |= checksum;
        sum += checksum;
        if (bad & kNotAPair) return std::nullopt;
        if ((sum & 0xFF) != 0 && !IgnoreChecksums) return std::nullopt;
        if (data) {
            if (length == 0) continue;
            low = std::min(low, address);
            high = std::max(high, address + length);
        } else if (type == kTypeSegment || type == kTypeLinear) {
            if (length != 2 || other[0] != 0 || other[1] != 0) return std::nullopt;
        }
    }
    if (high == 0) return MergeSpan{};
    return MergeSpan{low, high};
}

std::optional<MergeSpan> MergeImage::ReadChecked(std::string_view text, MergeRefusal* refusal) {
    MergeScratch.assign(kMergeSize, 0xFF);
    RecordReader reader(text, refusal);
    unsigned low = kMergeSize;
    unsigned high = 0;
    std::size_t pos = 0;
    // Characters up to the next ':' are skipped, so a line may hold more than
    // one record and lines without one are passed over.
    while ((pos = text.find(':', pos)) != std::string_view::npos) {
        const std::size_t at = pos;
        uint8_t header[4] = {};  // LL, address high and low, type
        if (!reader.Bytes(at + 1, 4, header)) return std::nullopt;
        pos = at + kHeaderChars;
        const unsigned length = header[0];
        const unsigned address = unsigned{header[1]} << 8 | header[2];
        const unsigned type = header[3];

        if (type == kTypeData || type == kTypeData20) {
            if (length == 0) continue;
            const unsigned end = address + length;
            if (end > kMergeSize) {
                reader.Refuse(kMergeAbove64K, at,
                              "the record at " + Hex(address, 4) + " writes up to " +
                                  Hex(end - 1, 5) + ", above 0xFFFF");
                return std::nullopt;
            }
            if (!reader.Bytes(pos, length, MergeScratch.data() + address)) return std::nullopt;
            pos += 2 * std::size_t{length};
            low = std::min(low, address);
            high = std::max(high, end);
        } else if (type == kTypeSegment || type == kTypeLinear) {
            uint8_t bytes[2] = {};
            if (!reader.Bytes(pos, 2, bytes)) return std::nullopt;
            pos += 4;
            const unsigned value = unsigned{bytes[0]} << 8 | bytes[1];
            if (value != 0) {
                // The merge knows 16-bit addresses only: an extended address
                // other than 0 would move the data elsewhere.
                const bool segment = type == kTypeSegment;
                const unsigned base = segment ? value << 4 : value << 16;
                reader.Refuse(kMergeExtendedAddress, at,
                              std::string(segment ? "extended segment address "
                                                  : "extended linear address ") +
                                  Hex(value, 4) + " moves the data to " +
                                  Hex(base, segment ? 5 : 8));
                return std::nullopt;
            }
        }
        // Any other record (end of file, start addresses, production-file
        // header records) is ignored; its data are not read.
    }
    // The whole-file check that the import makes too: syntax, checksums and
    // lines that are not records, before anything reaches MergeBuffer. Header
    // records are not merged, so their contents do not matter here.
    if (const auto problem =
            CheckHexLines(SplitLines(std::string(text)), {IgnoreChecksums, false, false})) {
        if (refusal) *refusal = MergeRefusal{kFormatErrorText, problem->Text()};
        return std::nullopt;
    }
    if (high == 0) return MergeSpan{};
    return MergeSpan{low, high};
}

void MergeImage::LayOver(MergeSpan span, bool firstOfSeries) {
    if (span.Empty()) return;
    if (firstOfSeries || MergeBuffer.size() != kMergeSize) {
        MergeBuffer.assign(kMergeSize, 0xFF);
        FirstFileEnd = static_cast<int>(span.end);
        MergedLength = 0;
    }
    std::copy(MergeScratch.begin() + span.begin, MergeScratch.begin() + span.end,
              MergeBuffer.begin() + span.begin);
    MergedLength = std::max(MergedLength, static_cast<int>(span.end));
}

std::string MergeImage::Binary() const {
    const auto length = static_cast<std::size_t>(std::max(MergedLength, 0));
    return std::string(MergeBuffer.begin(), MergeBuffer.begin() + static_cast<long>(length));
}

std::string MergeImage::HexText() const {
    static constexpr char kEnd[] = ":00000001FF\r\n";
    static constexpr std::size_t kLineChars = 1 + 2 + 4 + 2 + 2 * kLineBytes + 2 + 2;
    const auto length = static_cast<unsigned>(std::max(MergedLength, 0));
    const unsigned lines = (length + kLineBytes - 1) / kLineBytes;
    std::string out(lines * kLineChars + sizeof kEnd - 1, '\0');
    char* p = out.data();
    const auto put = [&p](unsigned byte) {
        *p++ = kDigits[byte >> 4];
        *p++ = kDigits[byte & 0xF];
    };
    for (unsigned address = 0; address < length; address += kLineBytes) {
        *p++ = ':';
        put(kLineBytes);
        put(address >> 8);
        put(address & 0xFF);
        put(0x00);
        unsigned sum = kLineBytes + (address >> 8) + (address & 0xFF);
        for (unsigned i = 0; i < kLineBytes; ++i) {
            // A last partial line is filled up with 0xFF, counted in its checksum.
            const unsigned byte = address + i < length ? MergeBuffer[address + i] : 0xFF;
            put(byte);
            sum += byte;
        }
        put((0x100 - (sum & 0xFF)) & 0xFF);
        *p++ = '\r';
        *p++ = '\n';
    }
    std::memcpy(p, kEnd, sizeof kEnd - 1);
    return out;
}

}  // namespace qrv
