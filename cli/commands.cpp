// The commands of qrv-writer-cli. Each runs the session as the main window's
// controls do and waits for the replies that finish it.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "cli/cli.h"
#include "cli/file_export.h"
#include "cli/file_tools.h"

namespace qrv::cli {

namespace {

// A counter as the window shows it, as a JSON number where it is one.
nlohmann::ordered_json Count(const std::string& text) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return text;
    return value;
}

int List(Context& c, const std::string&) {
    auto paths = c.Seam().Enumerate();
    if (!paths) {
        c.Error("the list of HID interfaces is unavailable");
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
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", vendor, product);
        nlohmann::ordered_json fields = {{"index", index}, {"path", path}, {"id", id}};
        if (!problem.empty()) fields["problem"] = problem;
        c.Emit(fields, std::to_string(index) + " " + path + " " + id +
                           (problem.empty() ? "" : " " + problem) + "\n");
        ++index;
        if (problem.empty()) ++usable;
    }
    if (index == 0) c.Error("no programmer attached");
    if (index > usable)
        c.Error(
            "install the udev rule packaging/60-qrv-writer.rules as the README says, then plug "
            "the programmer in again");
    return usable > 0 ? kExitOk : kExitNoProgrammer;
}

int Status(Context& c, const std::string&) {
    MainSession& s = c.Session();
    if (!c.statusFresh) {
        const int rc = c.RefreshStatus();
        if (rc != kExitOk) return rc;
    }
    const MainWindowModel& f = s.form;
    c.Emit({{"caption", f.caption},
            {"model", f.Edit2.text},
            {"checksum", f.Edit3.text},
            {"passed", Count(f.Edit4.text)},
            {"failed", Count(f.Edit5.text)}},
           "caption: " + f.caption + "\nmodel: " + f.Edit2.text + "\nchecksum: " + f.Edit3.text +
               "\npassed: " + f.Edit4.text + "\nfailed: " + f.Edit5.text + "\n");
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
    const char* outcome = c.Session().form.Image(row->failImage).visible ? "failed" : "passed";
    c.Emit({{"step", row->name}, {"outcome", outcome}},
           std::string(row->name) + ": " + outcome + "\n");
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
    const std::string& panel = c.Session().form.Panel1.caption;
    c.Emit({{name, r[6] == 1 ? "passed" : "failed"}, {"panel", panel}},
           std::string(name) + ": " + panel + "\n");
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
        const char* outcome = failed ? "failed" : "passed";
        const std::string& count = failed ? s.form.Edit5.text : s.form.Edit4.text;
        const char* panel = failed ? kRunFailed : kRunPassed;
        c.Emit({{"result", outcome}, {"panel", panel}, {outcome, Count(count)}},
               std::string("result: ") + panel + " (" + outcome + ": " + count + ")\n");
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
        c.Emit({{"checksum", s.form.Edit3.text}}, "checksum: " + s.form.Edit3.text + "\n");
        return kExitOk;
    });
}

int EraseStorage(Context& c, const std::string&) {
    MainSession& s = c.Session();
    s.Button12Click();
    return c.Await([&](const Report& r) -> std::optional<int> {
        if (r[3] != RPL_STORAGE_ERASED) return std::nullopt;
        c.Emit({{"message", s.form.Edit1.text}}, "erase-storage: " + s.form.Edit1.text + "\n");
        c.statusStale = true;
        return kExitOk;
    });
}

int Info(Context& c, const std::string& path) {
    std::string error;
    const std::optional<FileInfo> info = ReadFileInfo(path, c.err, &error);
    if (!info) {
        c.Error("info: " + error);
        return kExitUsage;
    }
    nlohmann::ordered_json fields = {
        {"file", path}, {"end", info->end}, {"checksum", info->checksum}};
    std::string text = "end: " + info->end + "\nchecksum: " + info->checksum + "\n";
    if (info->optionWord) {
        char word[16];
        std::snprintf(word, sizeof word, "0x%08X", static_cast<unsigned>(*info->optionWord));
        fields["option-word"] = word;
        text += std::string("option-word: ") + word + "\n";
    }
    c.Emit(fields, text);
    return kExitOk;
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
        {"info", "FILE", false, "show a HEX file's end address, checksum and option word", Info},
        ExportCommand(),
        MergeCommand(),
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace qrv::cli
