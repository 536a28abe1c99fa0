#include "image/hex_check.h"

#include "common/hex.h"

namespace qrv {

namespace {

constexpr int kTypeData = 0x00;
constexpr int kTypeSegment = 0x02;
constexpr int kTypeLinear = 0x04;
constexpr int kTypeData20 = 0x20;
constexpr int kTypeHeader = 0x22;
constexpr long kImageEnd = 0x10000;

// The record's characters without trailing blanks (editors leave them).
std::string_view Trimmed(std::string_view line) {
    std::string_view v = line;
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r'))
        v.remove_suffix(1);
    return v;
}

int ByteAt(std::string_view digits, std::size_t i) {
    return HexDigitValue(digits[2 * i]) * 16 + HexDigitValue(digits[2 * i + 1]);
}

std::string Hex2(int value) {
    return H2(static_cast<unsigned>(value));
}

// A character of the file as a message shows it: printable ASCII as it is,
// any other byte (a NUL, a control character, part of a multi-byte
// character) as \x and two hex digits, so that it neither cuts the message
// short nor runs it into the next.
std::string Shown(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) return std::string(1, c);
    return "\\x" + H2(byte);
}

// Whether the record's tag (its bytes 4 to 6, characters 9 to 14 of the line)
// is this one.
bool TagIs(std::string_view digits, const char* tag) {
    return digits.size() >= 14 && ByteAt(digits, 4) == tag[0] && ByteAt(digits, 5) == tag[1] &&
           ByteAt(digits, 6) == tag[2];
}

// Which header records the programmer is sent, and in what order it takes
// them: the marker record on the first line opens the header, user code
// records may follow, and the configuration record closes it. The import
// refuses any sent header record outside that order.
struct HeaderOrder {
    bool open = false;        // the first line was a marker record
    bool configSeen = false;  // a configuration record closed the header
};

// A reason in the two languages the front-ends show.
struct Reason {
    std::string english;
    std::string chinese;
};

// The header records that go to the programmer: user code and configuration.
// Their form is the programmer's: the length byte counts the data after the
// tag and the line ends with them; a user code record holds its flags byte,
// its count of ASCII characters and those characters, in at most 61 bytes; a
// configuration record holds the 21-byte configuration block. The programmer
// takes them before any image data, and one user code record only.
std::optional<Reason> CheckSentHeader(std::string_view digits, bool afterData, bool& userCodeSeen,
                                      HeaderOrder& order) {
    if (digits.size() < 14) return std::nullopt;  // too short for a tag: never sent
    const bool userCode = TagIs(digits, "ASD");
    if (!userCode && !TagIs(digits, "QRV")) return std::nullopt;
    const std::string name = userCode ? "user code record" : "configuration record";
    const std::string nameZh = userCode ? "用户信息代码记录" : "配置记录";
    const int length = ByteAt(digits, 0);
    const std::string ll = std::to_string(length);
    if (digits.size() != 14 + 2 * static_cast<std::size_t>(length)) {
        const std::string held = std::to_string((digits.size() - 14) / 2);
        return Reason{
            name + ": it holds " + held + " bytes after its tag, its length byte says " + ll,
            nameZh + "：标签后有 " + held + " 个字节，其长度字节却是 " + ll};
    }
    if (afterData) return Reason{name + " after image data", nameZh + "位于映像数据之后"};
    if (!userCode && length != 21)
        return Reason{"configuration record of " + ll + " bytes, not 21",
                      "配置记录有 " + ll + " 个字节，应为 21 个"};
    if (userCode && (length < 2 || length > 61))
        return Reason{"user code record of " + ll + " bytes, not 2 to 61",
                      "用户信息代码记录有 " + ll + " 个字节，应为 2 到 61 个"};
    if (userCode && 2 + ByteAt(digits, 8) > length) {
        const std::string ascii = std::to_string(ByteAt(digits, 8));
        return Reason{
            "user code record: " + ascii + " ASCII characters do not fit its " + ll + " bytes",
            "用户信息代码记录：" + ascii + " 个 ASCII 字符超出其 " + ll + " 个字节"};
    }
    if (!order.open) {
        if (!order.configSeen)
            return Reason{name + ", but the first line is no marker record",
                          nameZh + "：第一行不是标记记录"};
        if (userCode)
            return Reason{"user code record after the configuration record",
                          "用户信息代码记录位于配置记录之后"};
        return Reason{"a second configuration record", "第二个配置记录"};
    }
    if (!userCode) {
        order.open = false;
        order.configSeen = true;
        return std::nullopt;
    }
    if (userCodeSeen) return Reason{"a second user code record", "第二个用户信息代码记录"};
    userCodeSeen = true;
    return std::nullopt;
}

// A problem on the line of this number, for this reason.
HexProblem Refusal(int number, Reason reason) {
    HexProblem problem;
    problem.line = number;
    problem.reason = std::move(reason.english);
    problem.chineseReason = std::move(reason.chinese);
    return problem;
}

// Whether the line has the form of a record at all: the colon, hex digits
// only, and enough of them for the length, address and type fields.
std::optional<Reason> CheckForm(std::string_view text) {
    if (text[0] != ':')
        return Reason{"not a record: it does not start with ':'", "不是记录：不以 ':' 开头"};
    for (char c : text.substr(1))
        if (HexDigitValue(c) < 0)
            return Reason{"not a record: '" + Shown(c) + "' is no hex digit",
                          "不是记录：'" + Shown(c) + "' 不是十六进制数字"};
    if (text.size() - 1 < 8)
        return Reason{"not a record: too short for its fields", "不是记录：太短，容不下记录的字段"};
    return std::nullopt;
}

// Whether the record's length byte matches the bytes it holds.
std::optional<Reason> CheckLength(std::string_view digits) {
    if (digits.size() % 2 != 0)
        return Reason{"not a record: an odd number of hex digits",
                      "不是记录：十六进制数字的个数是奇数"};
    const int length = ByteAt(digits, 0);
    const std::size_t bytes = digits.size() / 2;
    if (bytes != static_cast<std::size_t>(length) + 5) {
        const std::string held = std::to_string(bytes > 5 ? bytes - 5 : 0);
        const std::string ll = std::to_string(length);
        return Reason{"the record holds " + held + " data bytes, its length byte says " + ll,
                      "记录有 " + held + " 个数据字节，其长度字节却是 " + ll};
    }
    return std::nullopt;
}

// A wrong record checksum, if the record's bytes do not sum to zero.
std::optional<Reason> CheckSum(std::string_view digits) {
    const std::size_t bytes = digits.size() / 2;
    int sum = 0;
    for (std::size_t i = 0; i < bytes; ++i) sum += ByteAt(digits, i);
    if ((sum & 0xFF) == 0) return std::nullopt;
    const std::string given = Hex2(ByteAt(digits, bytes - 1));
    const std::string needed = Hex2((ByteAt(digits, bytes - 1) - sum) & 0xFF);
    return Reason{"record checksum " + given + ", the record needs " + needed,
                  "记录校验和为 " + given + "，该记录需要 " + needed};
}

// Whether a data record stays inside the programmer's 64 KiB image.
std::optional<Reason> CheckDataRange(std::string_view digits) {
    const int length = ByteAt(digits, 0);
    const long address = ByteAt(digits, 1) * 256L + ByteAt(digits, 2);
    if (address + length <= kImageEnd) return std::nullopt;
    const std::string from = H4(static_cast<unsigned>(address)) + "H";
    const std::string count = std::to_string(length);
    return Reason{"data up to " + from + " + " + count +
                      " bytes runs past FFFFH, beyond any image of this programmer",
                  "数据从 " + from + " 起共 " + count + " 个字节，超过 FFFFH，超出本烧录器的映像"};
}

// Whether an extended address record keeps its data in the lowest 64 KiB:
// only an address of zero does.
std::optional<Reason> CheckExtendedAddress(std::string_view digits, int type) {
    const int length = ByteAt(digits, 0);
    const int value = length == 2 ? ByteAt(digits, 4) * 256 + ByteAt(digits, 5) : -1;
    if (value == 0) return std::nullopt;
    const bool segment = type == kTypeSegment;
    const std::string shown = H4(static_cast<unsigned>(value)) + "H";
    return Reason{std::string(segment ? "extended segment" : "extended linear") + " address " +
                      (value < 0 ? "of a wrong length" : shown) +
                      ": its data lies above 64 KiB, beyond any image of this programmer",
                  std::string(segment ? "扩展段地址" : "扩展线性地址") +
                      (value < 0 ? "长度错误" : " " + shown) +
                      "：其数据在 64 KiB 以上，超出本烧录器的映像"};
}

// What the check has learnt from the lines before the current one.
struct LinesState {
    bool anyData = false;
    bool userCodeSeen = false;
    bool firstLine = true;
    HeaderOrder order;
    std::optional<HexProblem> badChecksum;  // kept until a worse problem shows
};

// The checks of one record that is not a header record, once its form is
// known good.
std::optional<HexProblem> CheckRecord(int number, std::string_view digits, int type,
                                      const HexCheckOptions& options, LinesState& state) {
    if (auto reason = CheckLength(digits)) return Refusal(number, std::move(*reason));
    if (!options.ignoreChecksums && !state.badChecksum) {
        if (auto reason = CheckSum(digits)) {
            state.badChecksum = Refusal(number, std::move(*reason));
            state.badChecksum->checksumOnly = true;
        }
    }
    if (type == kTypeData || type == kTypeData20) {
        if (auto reason = CheckDataRange(digits)) return Refusal(number, std::move(*reason));
        if (ByteAt(digits, 0) > 0) state.anyData = true;
    } else if (type == kTypeSegment || type == kTypeLinear) {
        if (auto reason = CheckExtendedAddress(digits, type))
            return Refusal(number, std::move(*reason));
    }
    // Any other type (the end of the file's records among them) needs no
    // more; blank lines may follow the end record.
    return std::nullopt;
}

// The checks of one line that is not blank.
std::optional<HexProblem> CheckLine(int number, std::string_view text,
                                    const HexCheckOptions& options, LinesState& state) {
    if (auto reason = CheckForm(text)) return Refusal(number, std::move(*reason));
    const std::string_view digits = text.substr(1);
    // The import looks for the marker record on the first line that is not
    // blank.
    if (state.firstLine) state.order.open = TagIs(digits, "AMC");
    state.firstLine = false;
    const int type = ByteAt(digits, 3);
    if (type != kTypeHeader) return CheckRecord(number, digits, type, options, state);
    // The production file's header records follow rules of their own (the
    // marker record ends in a decimal number of any length); those that go
    // to the programmer must be records it takes.
    if (!options.checkSentHeaders) return std::nullopt;
    auto reason = CheckSentHeader(digits, state.anyData, state.userCodeSeen, state.order);
    if (!reason) return std::nullopt;
    HexProblem problem = Refusal(number, std::move(*reason));
    problem.header = true;
    return problem;
}

// The check over any list of lines that reads each as a string_view.
template <typename Lines>
std::optional<HexProblem> CheckLines(const Lines& lines, const HexCheckOptions& options) {
    LinesState state;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string_view text = Trimmed(lines[n]);
        if (text.empty()) continue;
        if (auto problem = CheckLine(static_cast<int>(n) + 1, text, options, state)) return problem;
    }
    if (state.badChecksum) return state.badChecksum;
    if (!state.anyData && options.requireData) {
        HexProblem problem;
        problem.reason = "the file holds no data record";
        problem.chineseReason = "文件中没有数据记录";
        return problem;
    }
    return std::nullopt;
}

}  // namespace

std::string HexProblem::Text() const {
    return line > 0 ? "line " + std::to_string(line) + ": " + reason : reason;
}

std::string HexProblem::ChineseText() const {
    return line > 0 ? "第 " + std::to_string(line) + " 行：" + chineseReason : chineseReason;
}

bool IsBlankLine(std::string_view line) {
    return Trimmed(line).empty();
}

std::optional<HexProblem> CheckHexLines(const std::vector<std::string>& lines,
                                        const HexCheckOptions& options) {
    return CheckLines(lines, options);
}

std::optional<HexProblem> CheckHexLines(const LinedText& lines, const HexCheckOptions& options) {
    return CheckLines(lines, options);
}

}  // namespace qrv
