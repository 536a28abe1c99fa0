#include "config/file_view.h"

#include <algorithm>
#include <utility>

#include "common/hex.h"

namespace qrv {

namespace {

bool IsDataType(uint8_t type) {
    return type == 0x00 || type == 0x20;
}

// Byte at pos, for callers that checked the length already.
uint8_t PairAt(std::string_view text, std::size_t pos) {
    return *DecodeHexPair(text, pos);
}

// Offsets inside a record, counted from its ':'.
constexpr std::size_t kCountAt = 1;
constexpr std::size_t kAddressAt = 3;
constexpr std::size_t kTypeAt = 7;
constexpr std::size_t kDataAt = 9;  // also the shortest line that holds a record type

}  // namespace

std::string FileViewGrid::Cell(int column, int row) const {
    if (column < 0 || column >= kGridColumns || row < 0 || row >= rowCount_) return {};
    if (row == 0) return column == 0 ? std::string() : H2(static_cast<unsigned>(column - 1));
    const auto index = static_cast<std::size_t>(row - 1);
    if (index >= rows_.size()) return {};
    const FileViewRow& r = rows_[index];
    if (column == 0) return H4(r.address);
    if (column > r.count) return {};
    return H2(r.bytes[static_cast<std::size_t>(column - 1)]);
}

void FileViewGrid::Reset(std::vector<FileViewRow> rows, int rowCount) {
    rows_ = std::move(rows);
    const int needed = static_cast<int>(std::min<std::size_t>(rows_.size(), 0x7FFFFFFE)) + 1;
    rowCount_ = std::max({rowCount, needed, 2});
    ++revision_;
}

void FileViewGrid::ClearDataCells() {
    for (FileViewRow& r : rows_) r.count = 0;
    ++revision_;
}

std::optional<uint8_t> DecodeHexPair(std::string_view text, std::size_t pos) {
    if (pos > text.size() || text.size() - pos < 2) return std::nullopt;
    const int value = HexDigitValue(text[pos]) * 16 + HexDigitValue(text[pos + 1]);
    return static_cast<uint8_t>(value & 0xFF);
}

namespace {

template <typename Lines>
std::size_t FirstRecordLine(const Lines& lines, std::size_t i) {
    while (i < lines.size() && (lines[i].empty() || lines[i][0] != ':')) ++i;
    return i;
}

}  // namespace

std::size_t NextRecordLine(const std::vector<std::string>& lines, std::size_t i) {
    return FirstRecordLine(lines, i);
}

void AddLineToChecksum(std::string_view line, uint32_t& fileChecksum, uint32_t& nextAddress) {
    if (line.size() < kDataAt) return;  // too short to carry a record type
    if (!IsDataType(PairAt(line, kTypeAt))) return;
    const uint32_t address = uint32_t{PairAt(line, kAddressAt)} << 8 | PairAt(line, kAddressAt + 2);
    const uint32_t count = PairAt(line, kCountAt);
    // A record without data writes nothing and moves no address, as in the
    // download: its address opens no gap.
    if (count == 0) return;
    // A gap counts as bytes of 0xFF.
    if (address > nextAddress) fileChecksum += (address - nextAddress) * 255u;
    nextAddress = address + count;
    // Every data byte the record holds, up to the end of the line.
    for (uint32_t i = 0; i < count; ++i) {
        const auto byte = DecodeHexPair(line, kDataAt + 2 * std::size_t{i});
        if (!byte) break;
        fileChecksum += *byte;
    }
}

namespace {

// The rows of one data record holding present data bytes from address, and
// the option words when the record is the one at 0x0100.
void AddRecordRows(std::string_view record, unsigned address, std::size_t present,
                   FileViewScan& scan) {
    if (address == 0x0100 && present >= 4) {
        uint32_t word = 0;
        for (std::size_t i = 0; i < 4; ++i)
            word |= uint32_t{PairAt(record, kDataAt + 2 * i)} << (8 * i);
        scan.optionWords.push_back(word);
    }
    // One row per 16 bytes; a record of more than 16 bytes goes on in
    // further rows whose address cells count on by 16.
    std::size_t done = 0;
    do {
        FileViewRow row;
        row.address = static_cast<uint16_t>((address + done) & 0xFFFF);
        const std::size_t n = std::min<std::size_t>(present - done, kGridBytesPerRow);
        for (std::size_t i = 0; i < n; ++i) row.bytes[i] = PairAt(record, kDataAt + 2 * (done + i));
        row.count = static_cast<uint8_t>(n);
        scan.rows.push_back(row);
        done += n;
    } while (done < present);
}

// The scan over any list of lines that reads each as a string_view.
template <typename Lines>
FileViewScan ScanLines(const Lines& lines) {
    FileViewScan scan;
    unsigned last = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string_view line(lines[k]);
        std::size_t at = line.find(':');
        while (at != std::string_view::npos) {
            const std::string_view record = line.substr(at);
            if (record.size() < kDataAt || !IsDataType(PairAt(record, kTypeAt))) break;
            const unsigned count = PairAt(record, kCountAt);
            if (count == 0) {
                // A record without data: no row, and the end stays where the
                // data end, as the programmer stores the image.
                at = line.find(':', at + kAddressAt);
                continue;
            }
            const unsigned address =
                unsigned{PairAt(record, kAddressAt)} << 8 | PairAt(record, kAddressAt + 2);
            // The data bytes the line really holds (a short line ends the record early).
            const std::size_t present = std::min<std::size_t>(count, (record.size() - kDataAt) / 2);

            AddRecordRows(record, address, present, scan);
            if (last < address + count) last = address + count - 1;
            at = line.find(':', at + kAddressAt);
        }
    }
    // The view shows 16-bit addresses: a record that runs past 0xFFFF ends the image there.
    scan.lastAddress = std::min(last, 0xFFFFu);

    for (std::size_t i = FirstRecordLine(lines, 0); i < lines.size();
         i = FirstRecordLine(lines, i + 1))
        AddLineToChecksum(lines[i], scan.fileChecksum, scan.nextAddress);
    scan.fileChecksum &= 0xFFFF;
    return scan;
}

}  // namespace

FileViewScan ScanFileView(const std::vector<std::string>& lines) {
    return ScanLines(lines);
}

FileViewScan ScanFileView(const LinedText& lines) {
    return ScanLines(lines);
}

}  // namespace qrv
