// `download FILE`: the import of "导入文件" and the download that follows it.
#include "cli/cli.h"
#include "common/atomic_file.h"
#include "image/hex_check.h"

namespace qrv::cli {

int CheckDownloadFile(Context& c, const std::string& file) {
    // The check the import makes, with the same message, made before the
    // programmer is connected: a bad file is bad input with or without one.
    std::string text;
    std::string error;
    if (!ReadWholeFile(file, &text, &error)) {
        c.Error(error);
        return kExitUsage;
    }
    const ImageBuffer image = ImageBuffer::FromText(text);
    if (const auto problem = CheckHexLines(image.Lines(), {c.options.ignoreChecksums})) {
        c.Error(std::string(kFormatErrorText) + " " + file + ", " + problem->Text());
        return kExitUsage;
    }
    return kExitOk;
}

int Download(Context& c, const std::string& file) {
    MainSession& s = c.Session();
    const ImportResult imported = s.ImportFile(file);
    // The import unticks the step boxes, and the programmer may now hold
    // another kind of file: later steps read its status again.
    if (imported == ImportResult::Requested) c.statusStale = true;
    switch (imported) {
        case ImportResult::Requested:
            break;
        case ImportResult::NotConnected:
            return kExitNoProgrammer;
        case ImportResult::Refused:  // the session has said why
        case ImportResult::Cancelled:
        case ImportResult::Unreadable:
            return kExitUsage;
    }
    // A plain image asks for the option word when it has been stored: the
    // word given on the command line is sent as the chooser sends it on close.
    // Without one, nothing is sent.
    if (c.options.optionWord) {
        const uint32_t word = *c.options.optionWord;
        s.hooks.ShowOptionChooserAfterDownload = [&s, word] {
            s.SendCommand(CMD_SET_OPTION, word);
        };
    }
    bool stored = false;
    int rc = c.Await([&](const SessionEvent& e) -> std::optional<int> {
        if (const auto* progress = std::get_if<event::DownloadProgress>(&e)) {
            c.ShowProgress("download", progress->percent);
            return std::nullopt;
        }
        const auto* ended = std::get_if<event::DownloadEnded>(&e);
        if (!ended) return std::nullopt;
        if (!ended->stored) {
            // The loader's refusal and an interruption have said why on err.
            if (ended->reason == kDownloadFailed) c.Error(ended->reason);
            return ended->reason == kDownloadInterrupted ? kExitNoProgrammer : kExitFailure;
        }
        // The checksum of what the programmer stored.
        c.Emit({{"file", file}, {"checksum", HexWordJson(ended->checksum)}},
               "checksum: " + H4(ended->checksum) + "H\n");
        stored = true;
        return kExitOk;
    });
    s.hooks.ShowOptionChooserAfterDownload = nullptr;
    // The session reads the programmer's status once the file is stored; the
    // next command works with what it says.
    if (stored) {
        rc = c.AwaitStatus();
        if (rc == kExitOk) c.statusStale = false;
    }
    return rc;
}

}  // namespace qrv::cli
