// What the fuzz targets share: invariant checks that stop the run, an input
// handed over as a file without touching the disk, the simulated programmer
// behind an in-process HID seam, and an independent reading of Intel HEX
// records to compare the host's and the programmer's results with.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex.h"
#include "image/image_buffer.h"
#include "link/hid_seam.h"
#include "link/programmer_link.h"
#include "link/report_buffer.h"
#include "protocol/reports.h"
#include "sim/programmer.h"
#include "tests/support/in_process_seam.h"

namespace qrv::fuzz {

// An invariant that does not hold is a finding: the run stops with a message,
// and libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "\n*** invariant violated: %s%s%s\n", what, detail.empty() ? "" : ": ",
                 detail.c_str());
    std::abort();
}

// A check without details; where the details cost a string, the caller tests
// first and calls Fail itself.
inline void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

// The input as a file that the code under test opens by path: an anonymous
// memory file, named through /proc/self/fd, rewritten for every input.
class MemoryFile {
  public:
    MemoryFile() : fd_(memfd_create("qrv-fuzz-input", 0)) {
        if (fd_ < 0) Fail("memfd_create failed");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    const std::string& Write(std::string_view content) {
        if (ftruncate(fd_, 0) != 0) Fail("ftruncate failed");
        std::size_t done = 0;
        while (done < content.size()) {
            const ssize_t n =
                pwrite(fd_, content.data() + done, content.size() - done, static_cast<off_t>(done));
            if (n <= 0) Fail("pwrite failed");
            done += static_cast<std::size_t>(n);
        }
        return path_;
    }

  private:
    int fd_;
    std::string path_;
};

// One process-wide memory file (the targets run one input at a time).
inline const std::string& InputFile(std::string_view content) {
    static MemoryFile file;
    return file.Write(content);
}

// A CMD_WRITE_BLOCK report as the programmer reads it: 1 to 59 payload bytes
// and zeros after them.
inline void CheckWriteBlock(const Report& r) {
    if (ReportMarker(r.data()) != kHostMarker || ReportCode(r.data()) != CMD_WRITE_BLOCK) return;
    const WriteBlockFields block = DecodeWriteBlock(r.data());
    const unsigned n = block.count;
    if (n < 1 || n > 59)
        Fail("CMD_WRITE_BLOCK carries 1 to 59 bytes", "byte 2 is " + std::to_string(n));
    const uint8_t* end = r.data() + kReportSize;
    for (const uint8_t* p = block.payload.data() + n; p < end; ++p)
        if (*p != 0)
            Fail("CMD_WRITE_BLOCK is zero after its payload",
                 "byte " + std::to_string(p - r.data()) + " is " + std::to_string(*p));
}

// The shared in-process seam with the invariants of every report written
// checked before it is recorded: 65 bytes, and CMD_WRITE_BLOCK as the
// programmer reads it.
class InProcessSeam : public test::InProcessSeam {
  public:
    explicit InProcessSeam(sim::SimProgrammer* device = nullptr) : test::InProcessSeam(device) {
        onWrite = [](const uint8_t* report, std::size_t length) {
            if (length != kReportSize)
                Fail("every report written has 65 bytes", std::to_string(length) + " bytes");
            Report r{};
            std::copy_n(report, kReportSize, r.begin());
            CheckWriteBlock(r);
        };
    }
};

// --- An independent reading of HEX files ------------------------------------

// Lines as a text editor shows them: LF, CR LF or a CR alone end a line, no
// empty line follows a final line end, a UTF-8 byte-order mark is dropped.
inline std::vector<std::string> TextLines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t stop = text.find_first_of("\r\n");
        lines.emplace_back(text.substr(0, stop));
        if (stop == std::string_view::npos) break;
        const bool crLf = text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n';
        text.remove_prefix(stop + (crLf ? 2 : 1));
    }
    return lines;
}

// A line without the blanks (spaces, tabs, CRs) an editor may leave after it.
inline std::string_view WithoutTrailingBlanks(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

inline int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes of ':' followed by hex digit pairs; nullopt for anything else.
inline std::optional<std::vector<uint8_t>> RecordBytes(std::string_view line) {
    if (line.empty() || line[0] != ':' || line.size() % 2 != 1) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (std::size_t i = 1; i < line.size(); i += 2) {
        const int high = DigitValue(line[i]);
        const int low = DigitValue(line[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

// Whether a line is a production-file header record: ':', hex digits only,
// and record type 0x22 in its fields.
inline bool IsHeaderLine(std::string_view line) {
    line = WithoutTrailingBlanks(line);
    if (line.size() < 9 || line[0] != ':') return false;
    for (char c : line.substr(1))
        if (DigitValue(c) < 0) return false;
    return DigitValue(line[7]) * 16 + DigitValue(line[8]) == kRecordHeader;
}

struct HexRecord {
    int type = 0;
    unsigned address = 0;
    std::vector<uint8_t> data;
};

// A standard record: LL address type data checksum, the length right and,
// unless ignored, the checksum summing to zero.
inline std::optional<HexRecord> ParseRecord(std::string_view line, bool checksums = true) {
    const auto bytes = RecordBytes(line);
    if (!bytes || bytes->size() < 5 || (*bytes)[0] + 5u != bytes->size()) return std::nullopt;
    unsigned sum = 0;
    for (uint8_t b : *bytes) sum += b;
    if (checksums && (sum & 0xFF) != 0) return std::nullopt;
    HexRecord r;
    r.address = unsigned{(*bytes)[1]} << 8 | (*bytes)[2];
    r.type = (*bytes)[3];
    r.data.assign(bytes->begin() + 4, bytes->end() - 1);
    return r;
}

inline bool IsDataRecord(const HexRecord& r) {
    return r.type == kRecordData || r.type == kRecordData20;
}

// The data records of a file as the import may download it: blank lines
// skipped, header records set aside, every other line a record of the right
// length (with its checksum, unless ignored) whose data stay within 64 KiB and
// whose extended addresses are 0. nullopt for any other file.
inline std::optional<std::vector<HexRecord>> DownloadableRecords(
    const std::vector<std::string>& lines, bool checksums) {
    std::vector<HexRecord> data;
    for (const std::string& text : lines) {
        const std::string_view line = WithoutTrailingBlanks(text);
        if (line.empty() || IsHeaderLine(line)) continue;
        const auto r = ParseRecord(line, checksums);
        if (!r) return std::nullopt;
        if (IsDataRecord(*r) && r->address + r->data.size() > 0x10000) return std::nullopt;
        if ((r->type == 0x02 || r->type == 0x04) &&
            (r->data.size() != 2 || r->data[0] != 0 || r->data[1] != 0))
            return std::nullopt;
        if (IsDataRecord(*r)) data.push_back(*r);
    }
    return data;
}

// The data records of a plain HEX file that is well formed throughout: every
// line a record with its checksum, data within 64 KiB, extended addresses of 0
// only, an end-of-file record only as the last line, some data. nullopt for any
// other file.
inline std::optional<std::vector<HexRecord>> WellFormedImage(const std::vector<std::string>& lines,
                                                             std::size_t first = 0) {
    std::vector<HexRecord> data;
    bool anyData = false;
    for (std::size_t i = first; i < lines.size(); ++i) {
        const auto r = ParseRecord(lines[i]);
        if (!r) return std::nullopt;
        if (IsDataRecord(*r)) {
            if (r->address + r->data.size() > 0x10000) return std::nullopt;
            anyData = anyData || !r->data.empty();
            data.push_back(*r);
            continue;
        }
        switch (r->type) {
            case 0x01:
                if (!r->data.empty() || i + 1 != lines.size()) return std::nullopt;
                break;
            case 0x02:
            case 0x04:
                if (r->data.size() != 2 || r->data[0] != 0 || r->data[1] != 0) return std::nullopt;
                break;
            case 0x03:
            case 0x05:
                if (r->data.size() != 4) return std::nullopt;
                break;
            default:
                return std::nullopt;
        }
    }
    if (!anyData) return std::nullopt;
    return data;
}

// The 64 KiB a programmer stores from these records: each record's bytes at
// its addresses, a later record over an earlier one, 0xFF elsewhere; and the
// end of the data, one past the highest data byte.
struct ExpectedImage {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(0x10000, 0xFF);
    unsigned length = 0;
};

inline ExpectedImage ImageOf(const std::vector<HexRecord>& records) {
    ExpectedImage image;
    for (const HexRecord& r : records) {
        for (std::size_t i = 0; i < r.data.size(); ++i) image.bytes[r.address + i] = r.data[i];
        if (!r.data.empty())
            image.length = std::max(image.length, r.address + static_cast<unsigned>(r.data.size()));
    }
    return image;
}

// Whether every record holds data and starts at or after the end of the one
// before it.
inline bool RecordsRise(const std::vector<HexRecord>& records) {
    unsigned next = 0;
    for (const HexRecord& r : records) {
        if (r.data.empty() || r.address < next) return false;
        next = r.address + static_cast<unsigned>(r.data.size());
    }
    return true;
}

// The file with each record line put right: LL counts the data bytes that
// follow, and the checksum is recomputed; a header record (type 0x22, no
// checksum) other than the marker record gets the LL of the data after its
// tag. Lines that are not ':' and hex digit pairs stay as they are, and so do
// the line ends. A mutated file rarely keeps its checksums; this one passes the
// import's check far more often, so the invariants of stored files get to run.
inline std::string RepairRecords(std::string_view text) {
    std::string out;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        out += text.substr(0, 3);
        text.remove_prefix(3);
    }
    while (!text.empty()) {
        std::size_t stop = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, stop);
        auto bytes = RecordBytes(line);
        const bool header = bytes && bytes->size() >= 7 && (*bytes)[3] == kRecordHeader;
        // The marker record's LL never describes it.
        const bool marker =
            header && (*bytes)[4] == 'A' && (*bytes)[5] == 'M' && (*bytes)[6] == 'C';
        if (header && !marker) {
            (*bytes)[0] = static_cast<uint8_t>(bytes->size() - 7);
            out += ':';
            out += HexBytes(bytes->data(), bytes->size());
        } else if (!header && bytes && bytes->size() >= 5) {
            bytes->pop_back();
            (*bytes)[0] = static_cast<uint8_t>(bytes->size() - 4);
            unsigned sum = 0;
            for (uint8_t b : *bytes) sum += b;
            bytes->push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
            out += ':';
            out += HexBytes(bytes->data(), bytes->size());
        } else {
            out += line;
        }
        if (stop == std::string_view::npos) break;
        if (text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') ++stop;
        out += text.substr(line.size(), stop + 1 - line.size());
        text.remove_prefix(stop + 1);
    }
    return out;
}

// Takes one byte from the front of the input, or 0 when it is empty.
inline uint8_t TakeByte(const uint8_t*& data, std::size_t& size) {
    if (size == 0) return 0;
    --size;
    return *data++;
}

}  // namespace qrv::fuzz
