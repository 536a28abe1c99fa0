// The HEX loader through the packer: an Intel HEX file imported by the main
// window's session (its whole-file check first) and downloaded into the
// simulated programmer, acknowledgement by acknowledgement. The file as it
// comes is imported with record checksums ignored, as after the operator's
// "yes"; the same file with its record lengths and checksums put right is
// imported as it stands. Invariants: see DownloadRun::Download; and a file
// that passes the whole-file check downloads whole: the loader never gives it
// up half way.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/download_run.h"

namespace {

void Download(std::string_view text, bool ignoreChecksums) {
    using namespace qrv::fuzz;
    DownloadRun run;
    run.Download(text, ignoreChecksums);
    // A refused file never reaches the loader; an accepted one must be stored.
    if (run.Session().loader.Abandoned())
        Fail("a file that passes the whole-file check downloads whole");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace qrv::fuzz;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Download(text, true);
    const std::string repaired = RepairRecords(text);
    if (repaired != text) Download(repaired, false);
    return 0;
}
