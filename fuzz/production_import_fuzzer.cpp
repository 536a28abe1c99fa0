// The production-file import: a production file (marker record, user code
// record, configuration record, then the image) imported by the main window's
// session and downloaded into the simulated programmer, as the file comes with
// record checksums ignored and put right as it stands. Every file: the
// download invariants of the HEX loader (DownloadRun::Download), and a file
// that passes the whole-file check downloads whole: the loader never refuses
// its header records nor gives it up half way. A stored
// production file laid out as the configuration window writes it: the
// programmer holds its configuration block, user code and file kind.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/download_run.h"

namespace {

using namespace qrv::fuzz;

// The data after the tag of a header record ":LL000022" + tag + 2·LL digits
// with the given tag; nullopt for any other line.
std::optional<std::vector<uint8_t>> HeaderData(std::string_view line, std::string_view tag) {
    const auto bytes = RecordBytes(line);
    if (!bytes || bytes->size() < 7) return std::nullopt;
    const std::vector<uint8_t>& b = *bytes;
    if (b[1] != 0 || b[2] != 0 || b[3] != qrv::kRecordHeader) return std::nullopt;
    if (std::string_view(reinterpret_cast<const char*>(b.data()) + 4, 3) != tag)
        return std::nullopt;
    if (b[0] + 7u != b.size()) return std::nullopt;
    return std::vector<uint8_t>(b.begin() + 7, b.end());
}

struct ProductionFile {
    std::optional<std::vector<uint8_t>> userCode;
    std::vector<uint8_t> config;
};

// A production file as the configuration window writes it: the marker record
// (its tag and a number of up to five digits), a user code record whose ASCII
// characters fit it, the 21-byte configuration record, then no header record.
std::optional<ProductionFile> WellFormedProduction(const std::vector<std::string>& lines) {
    constexpr std::string_view kMarker = ":10000022414D43";
    if (lines.empty() || !lines[0].starts_with(kMarker)) return std::nullopt;
    const std::string_view number = std::string_view(lines[0]).substr(kMarker.size());
    if (number.empty() || number.size() > 5 ||
        number.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    ProductionFile file;
    std::size_t next = 1;
    if (next < lines.size()) {
        if (auto code = HeaderData(lines[next], "ASD")) {
            if (code->size() < 2 || code->size() > 61 || (*code)[1] + 2u > code->size())
                return std::nullopt;
            file.userCode = std::move(code);
            ++next;
        }
    }
    if (next >= lines.size()) return std::nullopt;
    auto config = HeaderData(lines[next], "QRV");
    if (!config || config->size() != 21) return std::nullopt;
    file.config = std::move(*config);
    for (std::size_t i = next + 1; i < lines.size(); ++i)
        if (IsHeaderLine(lines[i])) return std::nullopt;
    return file;
}

void Download(std::string_view text, bool ignoreChecksums) {
    DownloadRun run;
    const bool stored = run.Download(text, ignoreChecksums).has_value();
    if (run.Session().loader.Abandoned())
        Fail("a file that passes the whole-file check downloads whole");
    if (!stored) return;
    const auto file = WellFormedProduction(run.Lines());
    if (!file) return;
    const qrv::sim::SimProgrammer& device = run.Device();
    if (!device.Config() ||
        !std::equal(file->config.begin(), file->config.end(), device.Config()->block.begin()))
        Fail("the programmer stores the configuration record's block");
    if (device.FileKind() != file->config[16])
        Fail("the stored file kind is the configuration's marker",
             qrv::H2(device.FileKind()) + " instead of " + qrv::H2(file->config[16]));
    if (device.UserCode() != file->userCode) Fail("the programmer stores the user code record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Download(text, true);
    // The same file with its record lengths and checksums put right.
    const std::string repaired = RepairRecords(text);
    if (repaired != text) Download(repaired, false);
    return 0;
}
