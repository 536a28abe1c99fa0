// The simulator's parser of host reports: any series of 65-byte reports handed
// to the simulated programmer's device logic. The input: an options byte and a
// byte of misbehaviours, then the reports (the last one padded with zeros);
// one option bit puts the report ID, the host marker and the short frame's
// checksum right, so that the commands get past the frame checks more often.
// Invariants: every reply carries the reply marker; a download command gets at
// most one reply; the stored checksum is the sum of the stored image and the
// "download done" reply says so; read-back blocks hold what the storage or the
// chip holds; a passed blank check or verify leaves the chip blank or equal to
// the image; the logs stay within their limits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "common/hex.h"
#include "fuzz/fuzz_support.h"
#include "sim/programmer.h"

namespace {

using namespace qrv;
using namespace qrv::fuzz;

unsigned Sum16(const std::vector<uint8_t>& bytes, std::size_t count) {
    return std::accumulate(bytes.begin(), bytes.begin() + static_cast<long>(count), 0u) & 0xFFFF;
}

unsigned Be16(const Report& r, std::size_t k) {
    return static_cast<unsigned>(r[k] << 8 | r[k + 1]);
}

bool IsDownloadCommand(uint8_t code) {
    switch (code) {
        case CMD_DOWNLOAD_REQUEST:
        case CMD_DOWNLOAD_BEGIN:
        case CMD_WRITE_BLOCK:
        case CMD_USER_CODE_RECORD:
        case CMD_CONFIG_RECORD:
        case CMD_DOWNLOAD_END:
        case CMD_DOWNLOAD_ABORT:
            return true;
        default:
            return false;
    }
}

void CheckReplies(const sim::SimProgrammer& device, const Report& command,
                  const std::vector<Report>& replies, int firmwareUpdatesBefore) {
    if (replies.size() > sim::kStoreSize / sim::kChipBlockSize + 8)
        Fail("a report gets a bounded number of replies", std::to_string(replies.size()));
    if (IsDownloadCommand(command[3]) && replies.size() > 1)
        Fail("a download command gets at most one reply", std::to_string(replies.size()));
    const unsigned work = device.ImageLength() > 0 ? device.ImageLength() : sim::kStoreSize;
    for (const Report& r : replies) {
        Check(r[0] == 0 && r[1] == kDeviceMarker, "every reply carries the reply marker");
        switch (r[3]) {
            case RPL_DOWNLOAD_DONE: {
                const bool firmware = device.FirmwareUpdates() != firmwareUpdatesBefore;
                const unsigned sum = firmware ? Sum16(device.Firmware(), device.Firmware().size())
                                              : device.StoredChecksum();
                if (Be16(r, 7) != sum)
                    Fail("the download-done reply carries the checksum",
                         H4(Be16(r, 7)) + " instead of " + H4(sum));
                break;
            }
            case RPL_CACHE_BLOCK: {
                const unsigned n = r[2];
                const unsigned address = Be16(r, 4);
                if (n > 59 || address + n > sim::kStoreSize)
                    Fail("a storage block holds up to 59 bytes within the storage",
                         std::to_string(n) + " at " + H4(address));
                if (!std::equal(r.begin() + 6, r.begin() + 6 + n,
                                device.Storage().begin() + address))
                    Fail("a storage block holds the stored bytes");
                break;
            }
            case RPL_CHIP_BLOCK: {
                const unsigned n = r[2];
                const unsigned address = Be16(r, 4);
                if (n > sim::kChipBlockSize || address + n > sim::kStoreSize)
                    Fail("a chip block holds up to 16 bytes within the chip",
                         std::to_string(n) + " at " + H4(address));
                if (!std::equal(r.begin() + 7, r.begin() + 7 + n,
                                device.Chip().flash.begin() + address))
                    Fail("a chip block holds the chip's bytes");
                break;
            }
            case RPL_BLANK_CHECK:
            case RPL_ERASE:
            case RPL_PROGRAM:
            case RPL_VERIFY:
                if (r[6] > 2) Fail("a step's status is progress, pass or fail");
                break;
            default:
                break;
        }
    }
    // A passed check of the whole work range says what the chip holds.
    const auto passed = [&](uint8_t code) {
        return std::any_of(replies.begin(), replies.end(),
                           [code](const Report& r) { return r[3] == code && r[6] == 1; });
    };
    const std::vector<uint8_t>& flash = device.Chip().flash;
    if (passed(RPL_VERIFY) &&
        !std::equal(flash.begin(), flash.begin() + work, device.Storage().begin()))
        Fail("a passed verify leaves the chip equal to the image");
    // (An automatic run erases and programs after its blank check.)
    if (passed(RPL_BLANK_CHECK) && command[3] == CMD_BLANK_CHECK &&
        !std::all_of(flash.begin(), flash.begin() + work, [](uint8_t b) { return b == 0xFF; }))
        Fail("a passed blank check leaves a blank chip");
}

void CheckDevice(const sim::SimProgrammer& device) {
    Check(device.Storage().size() == sim::kStoreSize, "the storage holds 64 KiB");
    Check(device.ImageLength() <= sim::kStoreSize, "the image lies within the storage");
    if (device.StoredChecksum() != Sum16(device.Storage(), device.ImageLength()))
        Fail("the stored checksum is the sum of the stored image");
    Check(device.Firmware().empty() || device.Firmware().size() == sim::kFirmwareSize,
          "a firmware replacement has the firmware's size");
    Check(device.ProtocolErrors().size() <= sim::kErrorLogLimit, "the error log stays bounded");
    Check(device.Received().size() <= sim::kReceivedLogLimit, "the report log stays bounded");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const uint8_t flags = TakeByte(data, size);
    const uint8_t misbehaviour = TakeByte(data, size);
    sim::SimOptions options;
    options.latencyUs = 0;
    options.noChip = flags & 0x01;
    options.wrongModel = flags & 0x02;
    options.badStatus = flags & 0x04;
    options.corruptStatus = flags & 0x08;
    options.optionResultsFirst = flags & 0x10;
    options.oldFirmware = flags & 0x20;
    const bool fixFrames = flags & 0x40;
    options.failStep = static_cast<sim::ChipStep>(misbehaviour % 5);
    options.resendEvery = (misbehaviour >> 3) & 0x3;
    options.downloadErrorAt = misbehaviour >> 5;
    sim::SimProgrammer device(options);

    while (size > 0) {
        Report command{};
        const std::size_t n = std::min(size, kReportSize);
        std::copy_n(data, n, command.begin());
        data += n;
        size -= n;
        if (fixFrames) {
            command[0] = 0;
            command[1] = kHostMarker;
            if (command[2] == 6) {
                unsigned sum = 0;
                for (std::size_t k = 2; k <= 8; ++k) sum += command[k];
                command[12] = static_cast<uint8_t>(sum);
            }
        }
        const int firmwareUpdates = device.FirmwareUpdates();
        const int downloads = device.CompletedDownloads();
        const std::vector<Report> replies = device.Handle(command);
        CheckReplies(device, command, replies, firmwareUpdates);
        Check(device.CompletedDownloads() - downloads <= 1, "a report completes one download");
        CheckDevice(device);
    }
    return 0;
}
