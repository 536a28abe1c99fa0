// One file import through the main window's session against the simulated
// programmer's device logic, without threads: each reply goes straight back to
// the session. The run checks the invariants of every download; the targets
// then compare what the programmer stored with the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex.h"
#include "config/file_view.h"
#include "fuzz/fuzz_support.h"
#include "session/session.h"

namespace qrv::fuzz {

class DownloadRun {
  public:
    DownloadRun() : device_(Options()), seam_(&device_), session_(seam_, interaction_, clock_) {
        Check(session_.Link().FindProgrammer() == ProgrammerLink::kFound,
              "the in-process programmer is found");
    }

    // Imports the file as the window does (record checksums ignored on
    // request, as after the operator's "yes") and hands every reply back until
    // none is left. Checks: the import's verdict against an independent reading
    // of the file; exactly one report per acknowledgement (and per
    // RPL_DOWNLOAD_READY), at most one per other reply; the download ends; the
    // host commits no protocol error; the file is stored, or the loader gave it
    // up and the programmer stored nothing; a stored file's bytes, checksum and
    // kind as the session shows them. Returns the file's data records when it
    // was stored.
    std::optional<std::vector<HexRecord>> Download(std::string_view text, bool ignoreChecksums) {
        lines_ = TextLines(text);
        session_.IgnoreChecksums = ignoreChecksums;
        const ImportResult result = session_.ImportFile(InputFile(text));
        if (result != ImportResult::Requested) {
            Check(result == ImportResult::Refused, "a file that can be read is refused or sent");
            Check(seam_.written.empty(), "a refused file sends nothing");
            Check(!WellFormedImage(lines_), "a well-formed file is accepted");
            return std::nullopt;
        }
        const auto records = DownloadableRecords(lines_, !ignoreChecksums);
        Check(records.has_value(), "the import accepts only files that can be downloaded");
        Check(seam_.written.size() == 1 && seam_.written[0][3] == CMD_DOWNLOAD_REQUEST,
              "the import sends CMD_DOWNLOAD_REQUEST alone");
        HandReplies();
        if (!device_.ProtocolErrors().empty())
            Fail("the host commits no protocol error for a file the import accepts", Errors());
        if (session_.loader.Abandoned()) {
            Check(device_.CompletedDownloads() == 0, "a file the loader gives up is not stored");
            return std::nullopt;
        }
        Check(device_.CompletedDownloads() == 1, "a file the import accepts is stored");
        if (session_.form.Edit3.text != H4(device_.StoredChecksum()) + "H")
            Fail("the checksum box shows the stored checksum", session_.form.Edit3.text);
        if (session_.buffer.bytes[ReportBuffer::kFileKind] != device_.FileKind())
            Fail("the session's FileKind is the stored file kind",
                 H2(session_.buffer.bytes[ReportBuffer::kFileKind]) + " against " +
                     H2(device_.FileKind()));
        CheckImage(*records);
        return records;
    }

    const sim::SimProgrammer& Device() const { return device_; }
    const MainSession& Session() const { return session_; }
    const std::vector<std::string>& Lines() const { return lines_; }

  private:
    static sim::SimOptions Options() {
        sim::SimOptions options;
        options.latencyUs = 0;
        return options;
    }

    void HandReplies() {
        // Each report carries at least one line's worth of progress or one data
        // byte, so a download of n lines needs far fewer replies than this.
        const std::size_t limit = 8 * (lines_.size() + 1) + 0x10000 / 59 + 16;
        std::size_t handled = 0;
        while (!seam_.replies.empty()) {
            ++handled;
            if (handled > limit)
                Fail("the download ends", std::to_string(handled) + " replies for " +
                                              std::to_string(lines_.size()) + " lines");
            const Report reply = seam_.replies.front();
            seam_.replies.pop_front();
            const std::size_t before = seam_.written.size();
            session_.OnReply(reply);
            const std::size_t sent = seam_.written.size() - before;
            const bool acknowledgement =
                reply[3] == RPL_BLOCK_ACK || reply[3] == RPL_DOWNLOAD_READY;
            if (acknowledgement && sent != 1)
                Fail("exactly one report goes out per acknowledgement",
                     std::to_string(sent) + " for reply 0x" + H2(reply[3]));
            if (sent > 1)
                Fail("at most one report goes out per reply",
                     std::to_string(sent) + " for reply 0x" + H2(reply[3]));
        }
        Check(!session_.TransferActive(), "the session's download ends");
        Check(!device_.DownloadInProgress(), "the programmer's download ends");
    }

    // The programmer's image equals the records' bytes, a later record over
    // an earlier one; for records that rise, its checksum equals the file
    // view's.
    void CheckImage(const std::vector<HexRecord>& records) const {
        const ExpectedImage expected = ImageOf(records);
        const std::vector<uint8_t>& stored = device_.Storage();
        for (std::size_t a = 0; a < expected.bytes.size(); ++a)
            if (stored[a] != expected.bytes[a])
                Fail("the bytes stored equal the file's data records",
                     "address 0x" + H4(static_cast<unsigned>(a)) + ": stored " + H2(stored[a]) +
                         ", file " + H2(expected.bytes[a]));
        // Past the data only fill bytes may have been stored (compared above
        // as 0xFF).
        if (device_.ImageLength() < expected.length)
            Fail("the stored image holds all the file's data",
                 std::to_string(device_.ImageLength()) + " bytes instead of " +
                     std::to_string(expected.length));
        if (RecordsRise(records)) {
            const uint32_t view = ScanFileView(lines_).fileChecksum;
            if (device_.StoredChecksum() != view)
                Fail("the programmer's checksum equals the file view's for records that rise",
                     H4(device_.StoredChecksum()) + " against " + H4(view));
        }
    }

    std::string Errors() const {
        std::string all;
        for (const std::string& e : device_.ProtocolErrors()) all += e + "; ";
        return all;
    }

    sim::SimProgrammer device_;
    InProcessSeam seam_;
    StreamInteraction interaction_;
    InstantClock clock_;
    MainSession session_;
    std::vector<std::string> lines_;
};

}  // namespace qrv::fuzz
