// The whole-file check of an Intel HEX file or production file, made before
// anything of it reaches the programmer (the import), the merged image (the
// merge) or the file view: a bad file is refused whole, with the line and the
// reason, instead of leaving the programmer holding half an image.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_lines.h"

namespace qrv {

// The first problem found in a file.
struct HexProblem {
    int line = 0;               // 1-based line number; 0 for the file as a whole
    std::string reason;         // in English, for the command line
    std::string chineseReason;  // the same in Chinese, for the windows
    // Only record checksums are wrong: an operator may download such a file on
    // purpose.
    bool checksumOnly = false;
    // A header record the programmer would refuse: the import's own refusal
    // of a production file.
    bool header = false;

    // "line 12: <reason>", or the reason alone for the whole file.
    std::string Text() const;
    // The same in Chinese: "第 12 行：<reason>".
    std::string ChineseText() const;
};

struct HexCheckOptions {
    bool ignoreChecksums = false;
    // A file without any data record is refused (the merge says so itself).
    bool requireData = true;
    // The user code and configuration records must be records the programmer
    // takes (the merge, which never sends them, leaves them alone).
    bool checkSentHeaders = true;
};

// Checks every line: blank lines are skipped wherever they fall; any other line
// must be a record (':' and pairs of hex digits, as many as its length byte
// says, ending in a checksum that makes the record's bytes sum to zero), whose
// data stays below 0x10000, and whose extended address (types 02 and 04) is 0.
// Production-file header records (type 0x22) have no checksum and a length byte
// that need not describe them: they only need their fields. The user code and
// configuration records, which go to the programmer, must be records it takes:
// their length byte right, the user code's ASCII characters within its 2 to 61
// bytes, the configuration block of 21 bytes, both before any image data and
// one user code record only; and in the order the import takes them: the
// first line that is not blank a marker record, the user code record before
// the configuration record, one configuration record only. The file must hold
// at least one data record.
// Returns the first problem, or nullopt.
std::optional<HexProblem> CheckHexLines(const std::vector<std::string>& lines,
                                        const HexCheckOptions& options = {});

std::optional<HexProblem> CheckHexLines(const LinedText& lines,
                                        const HexCheckOptions& options = {});

// Whether a line is blank: empty, or only spaces and tabs (and a stray CR).
bool IsBlankLine(std::string_view line);

}  // namespace qrv
