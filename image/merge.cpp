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
constexpr std::array<int, 256> kDigitValue = [] {
    std::array<int, 256> t{};
    for (std::size_t c = 0; c < t.size(); ++c) t[c] = HexDigitValue(static_cast<char>(c));
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
        const std::size_t at = 2 * std::size_t{i};
        const int high = kDigitValue[static_cast<unsigned char>(p[at])];
        const int low = kDigitValue[static_cast<unsigned char>(p[at + 1])];
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

// The next line from p on (up to LF, CR LF or a CR alone) without its
// trailing blanks; p moves on to the line after it.
std::string_view NextLine(const char*& p, const char* end) {
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
    const std::string_view line(p, static_cast<std::size_t>(last - p));
    p = next;
    return line;
}

// The hex digit pairs of one record after its ':', read through the pair
// table; collects the checksum and whether any pair was no pair of digits.
class PairReader {
  public:
    explicit PairReader(const char* digits)
        : pairs_(PairValues()), digits_(reinterpret_cast<const unsigned char*>(digits)) {}

    unsigned At(unsigned i) const {
        const std::size_t at = 2 * std::size_t{i};
        return unsigned{pairs_[digits_[at] | unsigned{digits_[at + 1]} << 8]};
    }
    // Pairs [from, from + count) into out, counted in the checksum.
    void Read(unsigned from, unsigned count, uint8_t* out) {
        for (unsigned i = 0; i < count; ++i) {
            const unsigned value = At(from + i);
            bad_ |= value;
            sum_ += value;
            out[i] = static_cast<uint8_t>(value);
        }
    }
    // Pair i counted in the checksum only: the record's checksum byte.
    void Count(unsigned i) {
        const unsigned value = At(i);
        bad_ |= value;
        sum_ += value;
    }
    // Pairs [from, to) checked for hex digits only.
    void Check(unsigned from, unsigned to) {
        for (unsigned i = from; i < to; ++i) bad_ |= At(i);
    }
    bool Bad() const { return (bad_ & kNotAPair) != 0; }
    bool SumIsZero() const { return (sum_ & 0xFF) == 0; }

  private:
    const std::array<uint16_t, 0x10000>& pairs_;
    const unsigned char* digits_;
    unsigned bad_ = 0;
    unsigned sum_ = 0;
};

// The lowest and one past the highest address that data records wrote.
struct Extent {
    unsigned low = kMergeSize;
    unsigned high = 0;

    void Add(unsigned from, unsigned to) {
        low = std::min(low, from);
        high = std::max(high, to);
    }
    MergeSpan Span() const { return high == 0 ? MergeSpan{} : MergeSpan{low, high}; }
};

// The fast read of one line that is not blank: false when the line is not a
// record the fast read takes (ReadChecked then finds out why).
bool ReadCleanRecord(std::string_view line, uint8_t* scratch, bool ignoreChecksums,
                     Extent& extent) {
    // ':' and pairs of hex digits, as many as the length byte says.
    const std::size_t chars = line.size();
    if (line[0] != ':' || chars < kHeaderChars || chars % 2 == 0) return false;
    const auto bytes = static_cast<unsigned>(chars / 2);
    PairReader pairs(line.data() + 1);
    uint8_t header[4];  // LL, address high and low, type
    pairs.Read(0, 4, header);
    if (pairs.Bad()) return false;
    const unsigned type = header[3];
    if (type == kTypeHeader) {
        // A production file's header records are not merged; their hex
        // digits are all that is asked of them.
        pairs.Check(4, bytes);
        return !pairs.Bad();
    }
    const unsigned length = header[0];
    if (bytes != length + 5) return false;
    const unsigned address = unsigned{header[1]} << 8 | header[2];
    const bool data = type == kTypeData || type == kTypeData20;
    if (data && address + length > kMergeSize) return false;
    // Data go straight to MergeScratch: a file that turns out bad is read
    // again from the start by ReadChecked.
    uint8_t other[255];
    pairs.Read(4, length, data ? scratch + address : other);
    pairs.Count(4 + length);
    if (pairs.Bad() || (!pairs.SumIsZero() && !ignoreChecksums)) return false;
    if (data) {
        if (length > 0) extent.Add(address, address + length);
        return true;
    }
    if (type == kTypeSegment || type == kTypeLinear)
        return length == 2 && other[0] == 0 && other[1] == 0;
    return true;
}

// ReadChecked's data record at `at`: its bytes into scratch.
bool ReadCheckedData(RecordReader& reader, std::size_t at, std::size_t& pos, unsigned address,
                     unsigned length, uint8_t* scratch, Extent& extent) {
    if (length == 0) return true;
    const unsigned end = address + length;
    if (end > kMergeSize) {
        reader.Refuse(kMergeAbove64K, at,
                      "the record at " + Hex(address, 4) + " writes up to " + Hex(end - 1, 5) +
                          ", above 0xFFFF");
        return false;
    }
    if (!reader.Bytes(pos, length, scratch + address)) return false;
    pos += 2 * std::size_t{length};
    extent.Add(address, end);
    return true;
}

// ReadChecked's extended address record at `at`: the merge knows 16-bit
// addresses only, and an extended address other than 0 would move the data
// elsewhere.
bool ReadCheckedExtended(RecordReader& reader, std::size_t at, std::size_t& pos, unsigned type) {
    uint8_t bytes[2] = {};
    if (!reader.Bytes(pos, 2, bytes)) return false;
    pos += 4;
    const unsigned value = unsigned{bytes[0]} << 8 | bytes[1];
    if (value == 0) return true;
    const bool segment = type == kTypeSegment;
    const unsigned base = segment ? value << 4 : value << 16;
    reader.Refuse(kMergeExtendedAddress, at,
                  std::string(segment ? "extended segment address " : "extended linear address ") +
                      Hex(value, 4) + " moves the data to " + Hex(base, segment ? 5 : 8));
    return false;
}

// ReadChecked's record at the ':' at `at`; pos moves past what was read.
bool ReadCheckedRecord(RecordReader& reader, std::size_t at, std::size_t& pos, uint8_t* scratch,
                       Extent& extent) {
    uint8_t header[4] = {};  // LL, address high and low, type
    if (!reader.Bytes(at + 1, 4, header)) return false;
    pos = at + kHeaderChars;
    const unsigned length = header[0];
    const unsigned address = unsigned{header[1]} << 8 | header[2];
    const unsigned type = header[3];
    if (type == kTypeData || type == kTypeData20)
        return ReadCheckedData(reader, at, pos, address, length, scratch, extent);
    if (type == kTypeSegment || type == kTypeLinear)
        return ReadCheckedExtended(reader, at, pos, type);
    // Any other record (end of file, start addresses, production-file
    // header records) is ignored; its data are not read.
    return true;
}

}  // namespace

std::optional<MergeSpan> MergeImage::ReadFile(std::string_view text, MergeRefusal* refusal) {
    if (const std::optional<MergeSpan> span = ReadClean(text)) return span;
    return ReadChecked(text, refusal);
}

std::optional<MergeSpan> MergeImage::ReadClean(std::string_view text) {
    MergeScratch.assign(kMergeSize, 0xFF);
    Extent extent;
    const char* p = text.data();
    const char* const end = p + text.size();
    // A UTF-8 byte-order mark, as some editors write, is no part of the first line.
    if (text.starts_with("\xEF\xBB\xBF")) p += 3;
    while (p < end) {
        const std::string_view line = NextLine(p, end);
        if (line.empty()) continue;  // a blank line
        if (!ReadCleanRecord(line, MergeScratch.data(), IgnoreChecksums, extent))
            return std::nullopt;
    }
    return extent.Span();
}

std::optional<MergeSpan> MergeImage::ReadChecked(std::string_view text, MergeRefusal* refusal) {
    MergeScratch.assign(kMergeSize, 0xFF);
    RecordReader reader(text, refusal);
    Extent extent;
    std::size_t pos = 0;
    // Characters up to the next ':' are skipped, so a line may hold more than
    // one record and lines without one are passed over.
    while ((pos = text.find(':', pos)) != std::string_view::npos)
        if (!ReadCheckedRecord(reader, pos, pos, MergeScratch.data(), extent)) return std::nullopt;
    // The whole-file check that the import makes too: syntax, checksums and
    // lines that are not records, before anything reaches MergeBuffer. Header
    // records are not merged, so their contents do not matter here.
    if (const auto problem =
            CheckHexLines(SplitLines(std::string(text)), {IgnoreChecksums, false, false})) {
        if (refusal) *refusal = MergeRefusal{kFormatErrorText, problem->Text()};
        return std::nullopt;
    }
    return extent.Span();
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
