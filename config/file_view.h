// The file view of the configuration window: the rows of the grid
// "文件视窗", the end address and the 16-bit checksum of an opened HEX file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_lines.h"

namespace qrv {

inline constexpr int kGridColumns = 17;  // column 0 address, columns 1..16 data bytes
inline constexpr int kGridBytesPerRow = 16;

// One grid row: the address cell and the data cells 1..count.
struct FileViewRow {
    uint16_t address = 0;
    uint8_t count = 0;
    std::array<uint8_t, kGridBytesPerRow> bytes{};
};

// The grid StringGrid1. Row 0 is the header ("00".."0F"); rows 1 and on show
// the records. Every change bumps revision() so that a view knows to refresh.
class FileViewGrid {
  public:
    // Number of rows including the header row.
    int RowCount() const { return rowCount_; }
    // Text of cell (column, row); empty outside the grid.
    std::string Cell(int column, int row) const;
    // Data rows 1.. that hold an address (rows past them are empty).
    const std::vector<FileViewRow>& Rows() const { return rows_; }

    // Starts afresh with the given rows: every cell below the header is replaced.
    void Reset(std::vector<FileViewRow> rows, int rowCount);
    // Empties the data cells (columns 1..16); the address column and header stay.
    void ClearDataCells();

    // Width of the address column in pixels: 19, then 36 once a file is opened.
    int addressColumnWidth = 19;
    uint64_t revision() const { return revision_; }

  private:
    int rowCount_ = 2;
    std::vector<FileViewRow> rows_;
    uint64_t revision_ = 0;
};

// Everything opening a file computes, before it is put into the window.
struct FileViewScan {
    std::vector<FileViewRow> rows;
    // First four data bytes (first byte lowest) of every record at 0x0100 that
    // holds at least four, in file order.
    std::vector<uint32_t> optionWords;
    unsigned lastAddress = 0;   // last data address, at most 0xFFFF
    uint32_t fileChecksum = 0;  // 16-bit checksum
    uint32_t nextAddress = 0;   // address after the last record summed
};

// Byte of the two characters at pos and pos + 1 (high digit first; a character
// that is no hexadecimal digit counts as -1, the low 8 bits are kept); nullopt
// when the text ends before pos + 2.
std::optional<uint8_t> DecodeHexPair(std::string_view text, std::size_t pos);

// Index of the first line at or after i that starts with ':'; lines.size() when none.
std::size_t NextRecordLine(const std::vector<std::string>& lines, std::size_t i);

// Adds one record line (a line starting with ':') to the checksum: gaps before
// the record count as bytes of 0xFF, then its data bytes (up to 255) are summed.
void AddLineToChecksum(std::string_view line, uint32_t& fileChecksum, uint32_t& nextAddress);

// Reads the lines of a HEX file into grid rows, option words, end and checksum.
// Records of type 0x00 and 0x20 are data; every other line is skipped.
FileViewScan ScanFileView(const std::vector<std::string>& lines);
FileViewScan ScanFileView(const LinedText& lines);

}  // namespace qrv
