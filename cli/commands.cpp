// The commands of qrv-writer-cli. Each runs the session as the main window's
// controls do and waits for the replies that finish it.
#include <cstring>

#include "cli/cli.h"
#include "cli/file_tools.h"

namespace qrv::cli {

namespace {

int List(Context& c, const std::string&) {
    auto paths = c.Seam().Enumerate();
    if (!paths) {
        std::fprintf(c.err, "qrv-writer-cli: the list of HID interfaces is unavailable\n");
        return kExitNoProgrammer;
    }
    int index = 0;
    for (const std::string& path : *paths) {
        auto handle = c.Seam().Open(path, HidAccess::Write);
        uint16_t vendor = 0, product = 0;
        if (!handle || !handle->Attributes(&vendor, &product)) continue;
        if (vendor != kProgrammerVendorId || product != kProgrammerProductId) continue;
        std::fprintf(c.out, "%d %s %04x:%04x\n", index++, path.c_str(), vendor, product);
    }
    if (index == 0) {
        std::fprintf(c.err, "qrv-writer-cli: no programmer attached\n");
        return kExitNoProgrammer;
    }
    return kExitOk;
}

int Status(Context& c, const std::string&) {
    MainSession& s = c.Session();
    if (!c.statusFresh) {
        s.SendCommand(CMD_STATUS, 0);
        const int rc = c.Await([&s](const Report& r) -> std::optional<int> {
            if (r[3] == RPL_STATUS && !s.StatusRetried()) return kExitOk;
            return std::nullopt;
        });
        if (rc != kExitOk) return rc;
    }
    const MainWindowModel& f = s.form;
    std::fprintf(c.out, "caption: %s\nmodel: %s\nchecksum: %s\npassed: %s\nfailed: %s\n",
                 f.caption.c_str(), f.Edit2.text.c_str(), f.Edit3.text.c_str(),
                 f.Edit4.text.c_str(), f.Edit5.text.c_str());
    return kExitOk;
}

// Prints a step's outcome and draws its progress. Returns the step row when
// the reply is the outcome (passed or failed) of a step.
const StepRow* StepOutcome(Context& c, const Report& r) {
    const StepRow* row = StepRowForReply(r[3]);
    if (!row) return nullptr;
    const ProgressBar& bar = c.Session().form.Bar(row->bar);
    if (r[6] == 0) {
        c.ShowProgress(row->name, bar.position * 100 / bar.max);
        return nullptr;
    }
    if (r[6] != 1 && r[6] != 2) return nullptr;
    c.ClearProgress();
    const bool failed = c.Session().form.Image(row->failImage).visible;
    std::fprintf(c.out, "%s: %s\n", row->name, failed ? "failed" : "passed");
    std::fflush(c.out);
    return row;
}

int SingleStep(Context& c, int index) {
    MainSession& s = c.Session();
    s.RunSingleStep(index);
    const StepRow& step = kStepRows[index];
    return c.Await([&](const Report& r) -> std::optional<int> {
        const StepRow* row = StepOutcome(c, r);
        if (row != &step) return std::nullopt;
        return s.form.Image(step.failImage).visible ? kExitFailure : kExitOk;
    });
}

int Auto(Context& c, const std::string&) {
    MainSession& s = c.Session();
    s.Button2Click();
    return c.Await([&](const Report& r) -> std::optional<int> {
        StepOutcome(c, r);
        if (r[3] != RPL_AUTO_RESULT) return std::nullopt;
        const bool failed = r[6] == 1;
        std::fprintf(c.out, "result: %s (%s: %s)\n", s.form.Panel1.caption.c_str(),
                     failed ? "failed" : "passed",
                     failed ? s.form.Edit5.text.c_str() : s.form.Edit4.text.c_str());
        return s.form.Panel1.caption == kRunPassed ? kExitOk : kExitFailure;
    });
}

int Checksum(Context& c, const std::string&) {
    MainSession& s = c.Session();
    s.Button13Click();
    return c.Await([&](const Report& r) -> std::optional<int> {
        if (r[3] != RPL_CHECKSUM) return std::nullopt;
        std::fprintf(c.out, "checksum: %s\n", s.form.Edit3.text.c_str());
        return kExitOk;
    });
}

int EraseStorage(Context& c, const std::string&) {
    MainSession& s = c.Session();
    s.Button12Click();
    return c.Await([&](const Report& r) -> std::optional<int> {
        if (r[3] != RPL_STORAGE_ERASED) return std::nullopt;
        std::fprintf(c.out, "erase-storage: %s\n", s.form.Edit1.text.c_str());
        return kExitOk;
    });
}

}  // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"list", nullptr, false, "list the programmers attached: index, path, vendor:product",
         List},
        {"status", nullptr, true, "print the programmer's caption, model, checksum and counters",
         Status},
        {"blank", nullptr, true, "blank check the chip",
         [](Context& c, const std::string&) { return SingleStep(c, 0); }},
        {"erase", nullptr, true, "erase the chip",
         [](Context& c, const std::string&) { return SingleStep(c, 1); }},
        {"program", nullptr, true, "program the chip from the stored image",
         [](Context& c, const std::string&) { return SingleStep(c, 2); }},
        {"verify", nullptr, true, "verify the chip against the stored image",
         [](Context& c, const std::string&) { return SingleStep(c, 3); }},
        {"auto", nullptr, true, "run the programmer's selected steps and print the result", Auto},
        {"checksum", nullptr, true, "read the chip's checksum", Checksum},
        {"erase-storage", nullptr, true, "erase the image stored in the programmer", EraseStorage},
        {"download", "FILE", true,
         "download an Intel HEX or production file into the programmer and print the stored "
         "checksum",
         Download},
        // Commands that take a file name go here, with their argument name
        // ("FILE"); file tools that need no programmer set needsProgrammer false.
        {"info", "FILE", false, "show a HEX file's end address, checksum and option word",
         [](Context& c, const std::string& path) { return RunInfoCommand(path, c.out, c.err); }},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace qrv::cli
