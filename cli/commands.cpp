// The commands of qrv-writer-cli. Each runs the session as the main window's
// controls do and waits for the replies that finish it.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <memory>

#include "calibration/calibration.h"
#include "chooser/chooser_session.h"
#include "cli/cli.h"
#include "cli/file_export.h"
#include "cli/file_tools.h"

namespace qrv::cli {

namespace {

int Status(Context& c, const std::string&) {
    if (!c.statusFresh) {
        const int rc = c.RefreshStatus();
        if (rc != kExitOk) return rc;
    }
    const event::Status& s = c.LastStatus();
    c.Emit({{"caption", s.caption},
            {"model", s.model},
            {"checksum", HexWordJson(s.checksum)},
            {"firmware", c.Firmware()},
            {"passed", s.passed},
            {"failed", s.failed}},
           "caption: " + s.caption + "\nmodel: " + s.model + "\nchecksum: " + H4(s.checksum) +
               "H\npassed: " + std::to_string(s.passed) + "\nfailed: " + std::to_string(s.failed) +
               "\n");
    return kExitOk;
}

// Draws a step's progress and prints its outcome. Returns the outcome, if the
// event is one.
const event::StepOutcome* StepOutcome(Context& c, const SessionEvent& e) {
    if (const auto* progress = std::get_if<event::StepProgress>(&e)) {
        c.ShowProgress(kStepRows[progress->row].name, progress->percent);
        return nullptr;
    }
    const auto* outcome = std::get_if<event::StepOutcome>(&e);
    if (!outcome) return nullptr;
    const char* name = kStepRows[outcome->row].name;
    const char* text = outcome->passed ? "passed" : "failed";
    const std::string line = std::string(name) + ": " + text;
    if (!outcome->passed) c.NoteFailure(line);
    c.Emit({{"step", name}, {"outcome", text}}, line + "\n");
    return outcome;
}

int SingleStep(Context& c, int index) {
    MainSession& s = c.Session();
    if (const int rc = c.PrepareSteps(); rc != kExitOk) return rc;
    if (const int rc = c.Started(s.RunSingleStep(index)); rc != kExitOk) return rc;
    return c.Await([&](const SessionEvent& e) -> std::optional<int> {
        const event::StepOutcome* outcome = StepOutcome(c, e);
        if (!outcome || outcome->row != index) return std::nullopt;
        return outcome->passed ? kExitOk : kExitFailure;
    });
}

// The option and protection results of a run: printed as the result panel
// shows them. Returns the result, if the event is one.
const event::OptionOutcome* OptionResult(Context& c, const SessionEvent& e) {
    const auto* result = std::get_if<event::OptionOutcome>(&e);
    if (!result) return nullptr;
    const char* name = result->protect ? "protect" : "option";
    const std::string line = std::string(name) + ": " + result->panel;
    if (!result->passed) c.NoteFailure(line);
    c.Emit({{name, result->passed ? "passed" : "failed"}, {"panel", result->panel}}, line + "\n");
    return result;
}

int Auto(Context& c, const std::string&) {
    MainSession& s = c.Session();
    if (const int rc = c.PrepareSteps(); rc != kExitOk) return rc;
    if (const int rc = c.Started(s.Button2Click()); rc != kExitOk) return rc;
    bool optionFailed = false;
    bool optionSeen = false;
    bool protectSeen = false;
    const auto option = [&](const SessionEvent& e) {
        const event::OptionOutcome* result = OptionResult(c, e);
        if (!result) return;
        (result->protect ? protectSeen : optionSeen) = true;
        if (!result->passed) optionFailed = true;
    };
    int rc = c.Await([&](const SessionEvent& e) -> std::optional<int> {
        StepOutcome(c, e);
        option(e);
        const auto* result = std::get_if<event::RunResult>(&e);
        if (!result) return std::nullopt;
        const char* outcome = result->passed ? "passed" : "failed";
        const long long count = result->passed ? result->passedCount : result->failedCount;
        // A failed step said what failed; a run that failed without one says so.
        if (!result->passed && c.FailureText().empty()) c.NoteFailure("result: " + result->panel);
        c.Emit({{"result", outcome},
                {"panel", result->panel},
                {"passed", result->passedCount},
                {"failed", result->failedCount}},
               "result: " + result->panel + " (" + outcome + ": " + std::to_string(count) + ")\n");
        return result->passed ? kExitOk : kExitFailure;
    });
    // The option and protection results may also follow the run's result.
    if (rc == kExitOk || rc == kExitFailure) {
        c.Linger([&](const SessionEvent& e) {
            option(e);
            return optionSeen && protectSeen;
        });
        // The wait for them is over: the run's record is complete. (The
        // window's run timer does the same after its settle time.)
        if (s.CurrentRun()) s.RunTimerExpired();
    }
    if (optionFailed) rc = std::max(rc, kExitFailure);
    return rc;
}

int Checksum(Context& c, const std::string&) {
    c.Session().Button13Click();
    return c.Await([&](const SessionEvent& e) -> std::optional<int> {
        const auto* read = std::get_if<event::ChecksumRead>(&e);
        if (!read) return std::nullopt;
        c.Emit({{"checksum", HexWordJson(read->checksum)}},
               "checksum: " + H4(read->checksum) + " H\n");
        return kExitOk;
    });
}

int EraseStorage(Context& c, const std::string&) {
    c.Session().Button12Click();
    return c.Await([&](const SessionEvent& e) -> std::optional<int> {
        const auto* erased = std::get_if<event::StorageErased>(&e);
        if (!erased) return std::nullopt;
        c.Emit({{"message", erased->message}}, "erase-storage: " + erased->message + "\n");
        c.statusStale = true;
        return kExitOk;
    });
}

int Info(Context& c, const std::string& path) {
    std::string error;
    const std::optional<FileInfo> info = ReadFileInfo(path, c.Messages(), &error);
    if (!info) {
        c.Error("info: " + error);
        return kExitUsage;
    }
    nlohmann::ordered_json fields = {
        {"file", path}, {"end", info->end}, {"checksum", HexWordJson(info->checksumValue)}};
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

// `calibrate 8M|20M|cancel|KHZ`: the calibration list's requests, or the
// custom-frequency report of the calibration dialog. The programmer answers
// nothing; the request is checked before anything is sent.
Bind CalibrateOptions(CLI::App&) {
    return [](const std::string& target) -> Run {
        const char* names[] = {"8M", "20M", nullptr, "cancel"};
        for (int item = 0; item < 4; ++item) {
            if (!names[item] || target != names[item]) continue;
            return [item](Context& c) {
                c.Session().ComboBox2Click(item);
                c.Emit({{"calibrate", kCalibrationItems[item].text}},
                       std::string("calibrate: ") + kCalibrationItems[item].text + "\n");
                return kExitOk;
            };
        }
        const std::optional<uint16_t> frequency = ParseFrequency(target);
        if (!frequency)
            throw UsageError(std::string(kFrequencyError) +
                             " calibrate takes 8M, 20M, cancel or a frequency of 14000 to 20000 "
                             "(kHz): '" +
                             target + "'");
        return [f = *frequency](Context& c) {
            c.Session().SendCustomCalibration(f);
            c.Emit({{"calibrate", "custom"}, {"kHz", f}},
                   "calibrate: " + std::to_string(f) + " kHz\n");
            return kExitOk;
        };
    };
}

// `chooser-word --model NAME [choices]`: the word the user option chooser
// sends for those choices, to pass to --option-word.
Bind ChooserWordOptions(CLI::App& command) {
    auto choices = std::make_shared<ChooserChoices>();
    ChooserChoices& v = *choices;
    command.add_option("--model", v.model, "the device model, as the chooser lists it (QM-001)")
        ->type_name("NAME");
    command
        .add_option("--hard-lock", v.hardLockSize,
                    "tick HardLock and choose the size: none, 1K, 2K, 4K or all")
        ->type_name("SIZE");
    command
        .add_option("--data-flash", v.dataFlashSize,
                    "tick DataFlash and choose the size: none, 1K, 2K or 4K")
        ->type_name("SIZE");
    command.add_flag("--read-protect", v.readProtect, "tick 读保护");
    command.add_flag("--debug-protect", v.debugProtect, "tick Debug保护");
    command.add_flag("--vdd-5v", v.vdd5V, "tick VDD=5V");
    command.add_flag("--swd-alternative", v.swdAlternative,
                     "tick SWD为PA0.1/2 (HSOSC=48M for its models) instead of the default");
    command.add_flag("--sub-osc-500k", v.subOsc500k, "tick 副晶振500K instead of 副晶振3M");
    command.add_flag("--wdt-off", v.wdtOff, "tick 禁止WDT");
    command.add_flag("--pin-not-io", v.pinNotIo, "untick the model's pin box (PA0.0用作IO)");
    command.add_flag("--pc-not-io", v.pcNotIo, "untick PC0.1用作IO");
    return [choices](const std::string&) -> Run {
        const ChooserChoices given = *choices;
        *choices = ChooserChoices{};
        if (given.model.empty()) throw UsageError("'chooser-word' needs --model NAME");
        std::string error;
        const std::optional<uint32_t> word = ChooseOptionWord(given, &error);
        if (!word) throw UsageError("chooser-word: " + error);
        return [w = *word](Context& c) {
            char text[16];
            std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(w));
            c.Emit({{"option-word", text}}, std::string(text) + "\n");
            return kExitOk;
        };
    };
}

}  // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"list", nullptr, false,
         "list the programmers attached: index, port, serial, path, vendor:product", List,
         ListOptions()},
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
        {"download",
         "FILE",
         true,
         "download an Intel HEX or production file into the programmer and print the stored "
         "checksum",
         Download,
         {},
         CheckDownloadFile},
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
        {"info", "FILE", false, "show a HEX file's end address, checksum and option word", Info},
        {"calibrate", "8M|20M|cancel|KHZ", true,
         "calibrate the chip's internal oscillator to 8 MHz, 20 MHz or a frequency in kHz "
         "(14000 to 20000), or cancel the calibration",
         nullptr, CalibrateOptions},
        {"chooser-word", nullptr, false,
         "print the option word the user option chooser sends for --model NAME and the options "
         "given (see chooser-word --help), for --option-word",
         nullptr, ChooserWordOptions},
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
