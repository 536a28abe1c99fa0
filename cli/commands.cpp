// The commands of qrv-writer-cli. Each runs the session as the main window's
// controls do and waits for the replies that finish it.
#include <algorithm>
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
    // Every programmer, with the reason when it cannot be used: a node the
    // user may not open is the usual trouble on a new machine.
    int index = 0;
    int usable = 0;
    HidSeam& seam = c.Seam();
    for (const std::string& path : *paths) {
        uint16_t vendor = 0, product = 0;
        std::string problem;
        auto handle = seam.Open(path, HidAccess::Write);
        if (!handle) {
            if (!seam.ListedIds(path, &vendor, &product)) continue;
            problem = "cannot be opened for writing: " + seam.OpenError();
        } else if (!handle->Attributes(&vendor, &product)) {
            continue;
        }
        if (vendor != kProgrammerVendorId || product != kProgrammerProductId) continue;
        if (problem.empty() && !seam.Open(path, HidAccess::Read))
            problem = "cannot be opened for reading: " + seam.OpenError();
        std::fprintf(c.out, "%d %s %04x:%04x%s%s\n", index++, path.c_str(), vendor, product,
                     problem.empty() ? "" : " ", problem.c_str());
        if (problem.empty()) ++usable;
    }
    if (index == 0) std::fprintf(c.err, "qrv-writer-cli: no programmer attached\n");
    if (index > usable)
        std::fprintf(c.err,
                     "qrv-writer-cli: install the udev rule packaging/60-qrv-writer.rules as "
                     "the README says, then plug the programmer in again\n");
    return usable > 0 ? kExitOk : kExitNoProgrammer;
}

int Status(Context& c, const std::string&) {
    MainSession& s = c.Session();
    if (!c.statusFresh) {
        const int rc = c.RefreshStatus();
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
    if (const int rc = c.PrepareSteps(); rc != kExitOk) return rc;
    s.RunSingleStep(index);
    const StepRow& step = kStepRows[index];
    return c.Await([&](const Report& r) -> std::optional<int> {
        const StepRow* row = StepOutcome(c, r);
        if (row != &step) return std::nullopt;
        return s.form.Image(step.failImage).visible ? kExitFailure : kExitOk;
    });
}

// The option and protection results of a run: printed as the result panel
// shows them. Returns false for a failed one; true for a passed one, another
// reply, or a status that changes nothing.
bool OptionResult(Context& c, const Report& r, bool* seen) {
    const char* name = r[3] == RPL_OPTION_RESULT    ? "option"
                       : r[3] == RPL_PROTECT_RESULT ? "protect"
                                                    : nullptr;
    if (!name || (r[6] != 1 && r[6] != 2)) return true;
    *seen = true;
    c.ClearProgress();
    std::fprintf(c.out, "%s: %s\n", name, c.Session().form.Panel1.caption.c_str());
    std::fflush(c.out);
    return r[6] == 1;
}

int Auto(Context& c, const std::string&) {
    MainSession& s = c.Session();
    if (const int rc = c.PrepareSteps(); rc != kExitOk) return rc;
    s.Button2Click();
    bool optionFailed = false;
    bool optionSeen = false;
    bool protectSeen = false;
    const auto option = [&](const Report& r) {
        bool* seen = r[3] == RPL_PROTECT_RESULT ? &protectSeen : &optionSeen;
        if (!OptionResult(c, r, seen)) optionFailed = true;
    };
    int rc = c.Await([&](const Report& r) -> std::optional<int> {
        StepOutcome(c, r);
        option(r);
        if (r[3] != RPL_AUTO_RESULT) return std::nullopt;
        const bool failed = r[6] == 1;
        std::fprintf(c.out, "result: %s (%s: %s)\n", failed ? kRunFailed : kRunPassed,
                     failed ? "failed" : "passed",
                     failed ? s.form.Edit5.text.c_str() : s.form.Edit4.text.c_str());
        std::fflush(c.out);
        return failed ? kExitFailure : kExitOk;
    });
    // The option and protection results may also follow the run's result.
    if (rc == kExitOk || rc == kExitFailure) {
        c.Linger([&](const Report& r) {
            option(r);
            return optionSeen && protectSeen;
        });
    }
    if (optionFailed) rc = std::max(rc, kExitFailure);
    return rc;
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
        c.statusStale = true;
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
        {"read-chip", "FILE", true,
         "read the chip back into FILE as Intel HEX (--raw: the lines as the window saves them)",
         nullptr, ReadBackOptions(ReadBack::Chip)},
        {"read-cache", "FILE", true,
         "read the image stored in the programmer back into FILE as Intel HEX (--raw: the "
         "lines as the window saves them)",
         nullptr, ReadBackOptions(ReadBack::Cache)},
        {"mode", "NAME", true, "switch the programmer's working mode (S3_default, S3_4K, ...)",
         nullptr, ModeOptions()},
        {"user-option", nullptr, true, "send the user option command (CMD_USER_OPTION)",
         UserOption},
        {"eeprom-read", nullptr, true,
         "ask the programmer to read the serial EEPROM at ADDR (0xA0..0xA7) of TYPE (24C02, "
         "24C04)",
         nullptr, EepromOptions(false)},
        {"eeprom-write", nullptr, true,
         "ask the programmer to write the serial EEPROM at ADDR (0xA0..0xA7) of TYPE (24C02, "
         "24C04)",
         nullptr, EepromOptions(true)},
        {"update-firmware", nullptr, true,
         "replace the programmer's own firmware with FILE (or --firmware) and print the "
         "version it then reports",
         nullptr, UpdateFirmwareOptions()},
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
