// File merge: Intel HEX files laid over one another into one 64 KiB image,
// written out as binary or as Intel HEX of 16-byte records.
//
// Each file is read and checked whole into MergeScratch before anything of it
// reaches MergeBuffer, so a refused file leaves the merged image as it was.
// A file covers its span: from the lowest byte it writes to one past the
// highest. Everything in the span replaces the earlier contents, including the
// 0xFF of addresses inside it that the file does not write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qrv {

inline constexpr std::size_t kMergeSize = 0x10000;  // addresses 0x0000..0xFFFF

inline constexpr const char* kMergeUnreadable = "文件长度不对!";
inline constexpr const char* kMergeAbove64K = "文件数据超出64K，无法合并!";
inline constexpr const char* kMergeExtendedAddress = "文件含扩展地址，无法合并!";
inline constexpr const char* kMergeNoData = "文件没有数据记录，未合并!";

// The addresses a file writes: [begin, end), end one past the highest byte.
struct MergeSpan {
    unsigned begin = 0;
    unsigned end = 0;
    bool Empty() const { return end <= begin; }
};

// Why a file cannot be merged: the message and the line and reason.
struct MergeRefusal {
    const char* message;
    std::string detail;
};

// The merged image of one merge series and the file being merged.
class MergeImage {
  public:
    // Reads a whole HEX text into a fresh MergeScratch: data records (types
    // 0x00 and 0x20) store their bytes, all other records are ignored. Returns
    // the span written (empty when the file writes nothing), or the refusal of
    // a file with data above 0xFFFF, a non-zero extended address (types 02 and
    // 04) or a record that cannot be read. MergeBuffer is not touched.
    std::optional<MergeSpan> ReadFile(std::string_view text, MergeRefusal* refusal);

    // Lays MergeScratch[span] over MergeBuffer. The first file of a series
    // starts a fresh MergeBuffer of 0xFF. MergedLength covers the furthest end
    // of all files of the series.
    void LayOver(MergeSpan span, bool firstOfSeries);

    // MergeBuffer[0 .. MergedLength-1].
    std::string Binary() const;
    // 16-byte data records from address 0 without gaps, the last one filled up
    // with 0xFF, then the end record; CR LF line ends.
    std::string HexText() const;

    // Accept a file whose only fault is wrong record checksums, as the
    // download does with --ignore-checksums.
    bool IgnoreChecksums = false;

    std::vector<uint8_t> MergeBuffer;
    std::vector<uint8_t> MergeScratch;
    int MergedLength = 0;
    int FirstFileEnd = 0;

  private:
    // One pass over a file in which every line is blank or one well-formed
    // record that the merge takes: the span, or nullopt at the first line that
    // is not (ReadChecked then finds out why). The usual file takes this way.
    std::optional<MergeSpan> ReadClean(std::string_view text);
    // The records as the merge reads them, then the whole-file check: the
    // span, or the refusal with the line and the reason.
    std::optional<MergeSpan> ReadChecked(std::string_view text, MergeRefusal* refusal);
};

}  // namespace qrv
