// Programmer replies fed to the main window's session in each of its modes.
// The input: a mode byte, a variant byte, then 65-byte replies (the last one
// padded with zeros). Modes: idle (just connected, the status asked for),
// import (a HEX or production file requested), single step, automatic run,
// chip read-back, storage read-back, and firmware update (UpdateMode 0xBB,
// part of the firmware sent already). Invariants: every report written has 65
// bytes, a CMD_WRITE_BLOCK carries 1 to 59 bytes and zeros after them, a reply
// sends at most one report and an acknowledgement of the file transfer exactly
// one, a storage block asks for the next one exactly while the image goes on,
// every reply leaves the DeviceReport cleared, and the state bytes stay in
// range.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "session/session.h"

namespace {

using namespace qrv;
using namespace qrv::fuzz;

enum class Mode { Idle, Import, Step, Auto, ChipReadBack, CacheReadBack, FirmwareUpdate, Count };

// Files the import mode requests: a plain image, and a production file with
// user code and configuration records.
constexpr const char* kFiles[] = {
    ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
    ":10001000101112131415161718191A1B1C1D1E1F68\r\n"
    ":0400400001020304B2\r\n"
    ":00000001FF\r\n",
    ":10000022414D4312345\r\n"
    ":05000022415344330241420C\r\n"
    ":1500002251525600007FFF0551525633324B2D53303031420001000D\r\n"
    ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
    ":00000001FF\r\n",
};

void CheckState(MainSession& s, uint8_t updateMode) {
    ReportBuffer& b = s.buffer;
    for (std::size_t k = 0; k < kReportSize; ++k)
        if (b.Device(k) != 0) Fail("every reply leaves the DeviceReport cleared");
    Check(b.HeaderAccepted() == 0 || b.HeaderAccepted() == kHeaderAcceptedMark,
          "HeaderAccepted is 0 or 0xAA");
    Check(b.UpdateMode() == updateMode, "a reply does not change UpdateMode");
    Check(b.UpdateEndSent() <= 1, "UpdateEndSent is 0 or 1");
    Check(s.StatusBusy == 0, "StatusBusy is 0 between replies");
    for (int n = 1; n <= 5; ++n) {
        const ProgressBar& bar = s.form.Bar(n);
        if (bar.position < 0 || bar.position > bar.max)
            Fail("a progress bar stays within 0..Max",
                 "ProgressBar" + std::to_string(n) + " at " + std::to_string(bar.position));
    }
    for (int n = 1; n <= 4; ++n)
        Check(((s.StepFlags & kStepRows[n - 1].flag) != 0) == s.form.StepBox(n).Checked(),
              "each step box shows its StepFlags bit");
    Check((s.StepFlags &
           ~(kStepFlagBlankCheck | kStepFlagErase | kStepFlagVerify | kStepFlagProgram)) == 0,
          "StepFlags holds step bits only");
    // A file's record holds at most 255 bytes; the firmware its whole size.
    const int maxOffset = updateMode == kUpdateModeFirmware ? int{kFirmwareImageSize} : 255;
    Check(s.TransferOffset >= 0 && s.TransferOffset <= maxOffset,
          "TransferOffset stays within a record or the firmware");
    Check(s.loader.CurrentLine >= 0 && s.loader.CurrentLine <= s.loader.Image().LineCount(),
          "CurrentLine stays within the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const auto mode = static_cast<Mode>(TakeByte(data, size) % static_cast<int>(Mode::Count));
    const uint8_t variant = TakeByte(data, size);

    InProcessSeam seam;
    StreamInteraction interaction;
    InstantClock clock;
    MainSession session(seam, interaction, clock);
    Check(session.Link().FindProgrammer() == ProgrammerLink::kFound,
          "the in-process programmer is found");
    // Every run and step goes to the production log, whose lines carry texts
    // that the replies set.
    // A memory file, emptied for each input: the log takes only a regular file.
    static MemoryFile log;
    session.SetProductionLog(ProductionLog(log.Write("")));
    // The step boxes as the operator left them.
    for (int n = 1; n <= 4; ++n) session.form.StepBox(n).SetChecked((variant >> (n + 3)) & 1);

    switch (mode) {
        case Mode::Idle:
            session.SendCommand(CMD_STATUS, 0);
            break;
        case Mode::Import:
            Check(session.ImportFile(InputFile(kFiles[variant % std::size(kFiles)])) ==
                      ImportResult::Requested,
                  "the import is requested");
            break;
        case Mode::Step:
            session.RunSingleStep(variant % 4);
            break;
        case Mode::Auto:
            session.Button2Click();
            break;
        case Mode::ChipReadBack:
            session.ImageLength = variant * 64;
            session.Button9Click();
            break;
        case Mode::CacheReadBack:
            // The image a status reply announced.
            session.StoredLength = session.EndAddress = session.ImageLength = variant * 64 + 1;
            session.Button10Click();
            break;
        case Mode::FirmwareUpdate: {
            std::vector<uint8_t> firmware(kFirmwareImageSize);
            for (std::size_t i = 0; i < firmware.size(); ++i)
                firmware[i] = static_cast<uint8_t>(i * 7 + 3);
            session.SetFirmwareImage(std::move(firmware));
            Check(session.Button16Click() == UpdateResult::Requested, "the update is requested");
            // Most of the firmware went already; the fuzzer picks how much is left.
            session.TransferOffset = static_cast<int>(kFirmwareImageSize) - variant * 7;
            break;
        }
        case Mode::Count:
            break;
    }
    uint8_t updateMode = session.buffer.UpdateMode();
    CheckState(session, updateMode);

    while (size > 0) {
        Report reply{};
        const std::size_t n = std::min(size, kReportSize);
        std::copy_n(data, n, reply.begin());
        data += n;
        size -= n;

        const std::size_t before = seam.written.size();
        const bool cacheActive = session.CacheReadBackActive();
        session.OnReply(reply);
        const std::size_t sent = seam.written.size() - before;
        if (sent > 1)
            Fail("a reply sends at most one report",
                 std::to_string(sent) + " for reply 0x" + H2(reply[3]));
        if (reply[3] == RPL_BLOCK_ACK && updateMode != 0xBB && sent != 1)
            Fail("exactly one report goes out per acknowledgement", std::to_string(sent));
        if (reply[3] == RPL_CACHE_BLOCK && cacheActive && reply[2] <= 59) {
            // The next request follows a block that ends before the image does.
            const unsigned next = (reply[4] << 8 | reply[5]) + reply[2];
            const bool more = reply[2] > 0 && next < static_cast<unsigned>(session.StoredLength);
            if (sent != (more ? 1u : 0u) || session.CacheReadBackActive() != more)
                Fail("a storage block asks for the next one while the image goes on",
                     std::to_string(sent) + " reports after a block ending at " + H4(next));
            if (more && (seam.written.back()[3] != CMD_READ_CACHE ||
                         (seam.written.back()[4] << 8 | seam.written.back()[5]) != (next & 0xFFFF)))
                Fail("the next storage request starts where the block ended");
        }
        // The end report of a firmware replacement ends it: UpdateMode goes
        // back to 0 and the status that follows tells the new version.
        if (reply[3] == RPL_DOWNLOAD_DONE && updateMode == kUpdateModeFirmware) {
            Check(session.buffer.UpdateMode() == 0, "the firmware's end report ends the update");
            updateMode = 0;
        }
        CheckState(session, updateMode);
    }
    return 0;
}
