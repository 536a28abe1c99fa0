// The HEX loader through the packer: an Intel HEX file imported by the main
// window's session (its whole-file check first) and downloaded into the
// simulated programmer, acknowledgement by acknowledgement. The file as it
// comes is imported with record checksums ignored, as after the operator's
// "yes"; the same file with its record lengths and checksums put right is
// imported as it stands. Invariants: see DownloadRun::Download.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/download_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace qrv::fuzz;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    DownloadRun().Download(text, true);
    const std::string repaired = RepairRecords(text);
    if (repaired != text) DownloadRun().Download(repaired, false);
    return 0;
}
