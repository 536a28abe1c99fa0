// An imported Intel HEX file, held as its text lines. The image is never turned
// into a binary buffer: the loader reads the record fields from the lines by
// column as it packs each report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_lines.h"

namespace qrv {

// Record types the loader tells apart.
inline constexpr int kRecordData = 0x00;
inline constexpr int kRecordData20 = 0x20;  // data, exactly as 0x00
inline constexpr int kRecordHeader = 0x22;  // production-file header record

// The loaded file as an ordered list of text lines (CR LF or LF line ends, no
// extra empty line after a final line end), held as the file's one buffer.
class ImageBuffer {
  public:
    ImageBuffer() = default;
    explicit ImageBuffer(const std::vector<std::string>& lines)
        : lines_(LinedText::FromLines(lines)) {}

    // Takes the file's text and splits it into lines.
    static ImageBuffer FromText(std::string text);

    int LineCount() const { return static_cast<int>(lines_.size()); }
    // Line i; any index outside the file (the line count included) reads as an
    // empty line.
    std::string_view Line(int i) const {
        if (i < 0) return {};
        return lines_[static_cast<std::size_t>(i)];
    }
    const LinedText& Lines() const { return lines_; }

  private:
    LinedText lines_;
};

// The fields of one line, read by character column:
//   0 ':'   1-2 LL   3-6 address   7-8 type   9.. data, two digits per byte.
// Every read is bounded by the line: a column past its end reads as a character
// that is no hex digit, so a short line never leads to a read past it.
class RecordLine {
  public:
    static constexpr int kDataColumn = 9;

    explicit RecordLine(std::string_view text) : text_(text) {}

    std::string_view Text() const { return text_; }
    int Size() const { return static_cast<int>(text_.size()); }
    // A record line starts with ':'; any other line is a non-record line.
    bool IsRecord() const { return !text_.empty() && text_[0] == ':'; }
    // LL, address and type are all present (at least 9 characters).
    bool HasFields() const { return Size() >= kDataColumn; }

    int Length() const { return ByteAt(1); }
    int Address() const { return ByteAt(3) * 256 + ByteAt(5); }
    int Type() const { return ByteAt(7); }
    bool IsData() const { return Type() == kRecordData || Type() == kRecordData20; }

    // Whether the line holds `count` bytes (2·count characters) from `column` on.
    bool Holds(int column, int count) const { return column + 2 * count <= Size(); }

    // The byte written as two hex digits at `column`: high·16 + low, low 8 bits
    // kept, where a character that is no hex digit counts as −1.
    uint8_t ByteAt(int column) const;
    // Data byte i of a data record (from column 9).
    uint8_t DataByte(int i) const { return ByteAt(kDataColumn + 2 * i); }

  private:
    char CharAt(int column) const {
        return column >= 0 && column < Size() ? text_[static_cast<std::size_t>(column)] : '\0';
    }

    std::string_view text_;
};

// Index of the first line at or after i that starts with ':'; the line count
// if there is none.
int NextRecordLine(const ImageBuffer& image, int i);

// End (exclusive) of the image, at most 0xFFFF: the end of the last data
// record of the first n lines, extended backwards over earlier data records as
// long as their addresses do not fall below the value found so far.
int ScanImageEnd(const ImageBuffer& image, int n);

}  // namespace qrv
