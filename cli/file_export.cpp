// `export SOURCE -o OUT` and `merge FILE... -o OUT` on the configuration
// window's model: the command line makes the choices an engineer makes in the
// window, in the window's order, and the model writes the very bytes that the
// window writes.
#include "cli/file_export.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "config/config_session.h"
#include "config/model_table.h"

namespace qrv::cli {

namespace {

// The window's message boxes, kept until the command knows whether they are
// notes or the reason of a refusal.
class Dialogs : public RecordingInteraction {
  public:
    // --force: the window's question before it replaces a read-only file is
    // answered yes; every other question no.
    bool force = false;
    bool Question(const std::string& text) override {
        return force && text.rfind(kReplaceReadOnlyQuestion, 0) == 0;
    }
    // Writes the messages to err as notes; with failed, the last one is the
    // command's error.
    void Flush(Context& c, const std::string& prefix, bool failed) {
        for (std::size_t i = 0; i < messages.size(); ++i) {
            if (failed && i + 1 == messages.size())
                c.Error(prefix + messages[i]);
            else
                std::fprintf(c.err, "%s\n", messages[i].c_str());
        }
        messages.clear();
    }
};

std::string Lower(std::string s) {
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return s;
}

[[noreturn]] void Refuse(const std::string& option, const std::string& why) {
    throw CLI::ValidationError(option, why);
}

// A whole number in [low, high], written in decimal.
unsigned Number(const std::string& option, const std::string& text, unsigned low, unsigned high) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        Refuse(option, "needs a number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", not '" + text + "'");
    return value;
}

// --- export -------------------------------------------------------------------

// What the options of one `export` say, as given.
struct ExportValues {
    std::string output, model, voltage, hardLock, dataFlash, swd, hsosc, subOsc, autoSteps,
        userCode, marker, fileMarker;
    bool readProtect = false, debugProtect = false, userCodeHex = false, rolling = false;
    // The boxes that an option word may have ticked: ticked, unticked or left.
    bool wdtOff = false, wdtOn = false, pinIo = false, noPinIo = false, pc01Io = false,
         noPc01Io = false;
};

// The choices of one `export`, checked against the chosen model: each names a
// control of the window and what is done with it.
struct ExportChoice {
    std::string output;
    std::optional<int> model;      // ComboBox4 item
    std::optional<int> voltage;    // ComboBox3 item
    bool readProtect = false;      // CheckBox1
    bool debugProtect = false;     // CheckBox2
    std::optional<int> hardLock;   // CheckBox3 ticked and this ComboBox1 item
    std::optional<int> dataFlash;  // CheckBox4 ticked and this ComboBox2 item
    std::optional<bool> box14;     // CheckBox14 ticked (else CheckBox13)
    std::optional<bool> box15;     // CheckBox15 ticked (else CheckBox16)
    std::optional<bool> wdtOff;    // CheckBox11
    std::optional<bool> pc01Io;    // CheckBox17
    std::optional<bool> pinIo;     // CheckBox12
    uint8_t steps = 0;     // CheckBox5 blank, CheckBox7 option, CheckBox6 erase, CheckBox8 verify
    std::string userCode;  // Edit1
    bool userCodeHex = false;  // CheckBox19
    bool rolling = false;      // CheckBox10
    std::optional<uint16_t> marker;
    std::optional<uint8_t> fileMarker;
};

// The model and the voltage, as the window starts from them.
void ChooseModelAndVoltage(ConfigSession& s, const ExportChoice& x) {
    if (x.model) s.ComboBox4Click(*x.model);
    if (x.voltage) s.ComboBox3Click(*x.voltage);
}

// The option boxes and lists, top to bottom as the window lays them out, then
// the steps and the user code. Ticking a box runs its rule as a click does.
void ChooseOptions(ConfigSession& s, const ExportChoice& x) {
    ConfigWindowModel& f = s.form;
    f.CheckBox1.SetChecked(x.readProtect);
    f.CheckBox2.SetChecked(x.debugProtect);
    if (x.hardLock) {
        f.CheckBox3.SetChecked(true);
        s.ComboBox1Click(*x.hardLock);
    }
    if (x.dataFlash) {
        f.CheckBox4.SetChecked(true);
        s.ComboBox2Click(*x.dataFlash);
    }
    if (x.box14) (*x.box14 ? f.CheckBox14 : f.CheckBox13).SetChecked(true);
    if (x.box15) (*x.box15 ? f.CheckBox15 : f.CheckBox16).SetChecked(true);
    if (x.wdtOff) f.CheckBox11.SetChecked(*x.wdtOff);
    if (x.pc01Io) f.CheckBox17.SetChecked(*x.pc01Io);
    if (x.pinIo) f.CheckBox12.SetChecked(*x.pinIo);

    f.CheckBox5.SetChecked((x.steps & kAutoStepBlank) != 0);
    f.CheckBox6.SetChecked((x.steps & kAutoStepErase) != 0);
    f.CheckBox7.SetChecked((x.steps & kAutoStepOption) != 0);
    f.CheckBox8.SetChecked((x.steps & kAutoStepVerify) != 0);

    f.CheckBox19.SetChecked(x.userCodeHex);
    s.Edit1Change(x.userCode);
    f.CheckBox10.SetChecked(x.rolling);
}

// The item of a size list named by text: "none" the first item, "all" the
// "All ..." item, else the item of that text (case ignored).
std::optional<int> ListItem(const ComboBox& list, const std::string& text) {
    const std::string want = Lower(text);
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        const std::string item = Lower(list.items[i]);
        if (item == want || (want == "none" && item.rfind("no ", 0) == 0) ||
            (want == "all" && item.rfind("all ", 0) == 0))
            return static_cast<int>(i);
    }
    return std::nullopt;
}

std::string Items(const ComboBox& list) {
    std::string all;
    for (const std::string& item : list.items) all += (all.empty() ? "" : ", ") + item;
    return all;
}

// A radio pair's choice by the captions its boxes show for the model.
// The first box is the one ticked for firstValue; the answer is whether the
// second box is ticked.
std::optional<bool> PairChoice(const std::string& option, const std::string& value,
                               const Toggle& first, const char* firstValue,
                               const char* firstCaption, const char* secondValue,
                               const char* secondCaption) {
    if (value.empty()) return std::nullopt;
    if (!first.visible || first.caption != firstCaption)
        Refuse(option, "the chosen model has no \"" + std::string(firstCaption) + "\" / \"" +
                           secondCaption + "\" choice");
    const std::string v = Lower(value);
    if (v == Lower(firstValue)) return false;
    if (v == Lower(secondValue)) return true;
    Refuse(option, "needs " + std::string(firstValue) + " or " + secondValue);
}

// A box that one flag ticks and another unticks.
std::optional<bool> BoxChoice(const std::string& tick, bool ticked, const std::string& untick,
                              bool unticked, const Toggle& box) {
    if (ticked && unticked) Refuse(tick, "contradicts " + untick);
    if (!ticked && !unticked) return std::nullopt;
    if (!box.visible)
        Refuse(ticked ? tick : untick, "the chosen model has no \"" + box.caption + "\" box");
    return ticked;
}

uint8_t ParseAutoSteps(const std::string& text) {
    static constexpr std::pair<const char*, uint8_t> kSteps[] = {{"blank", kAutoStepBlank},
                                                                 {"option", kAutoStepOption},
                                                                 {"erase", kAutoStepErase},
                                                                 {"verify", kAutoStepVerify}};
    uint8_t steps = 0;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string name = text.substr(from, comma - from);
        bool known = false;
        for (const auto& [step, flag] : kSteps) {
            if (name == step) {
                steps = static_cast<uint8_t>(steps | flag);
                known = true;
            }
        }
        if (!known)
            Refuse("--auto-steps", "needs a comma-separated list of blank, option, erase, verify");
        from = comma + 1;
    }
    return steps;
}

// The model and the voltage an `export` names, as items of their lists.
void ResolveModelAndVoltage(const ExportValues& v, ExportChoice& x) {
    if (!v.model.empty()) {
        for (std::size_t i = 0; i < ModelTable().size(); ++i)
            if (Lower(std::string(ModelTable()[i].name)) == Lower(v.model))
                x.model = static_cast<int>(i);
        if (!x.model)
            Refuse("--model", "no model '" + v.model + "' in the model list (" +
                                  std::string(ModelTable().front().name) + " to " +
                                  std::string(ModelTable().back().name) + ")");
    }
    if (!v.voltage.empty()) {
        const std::string volts = Lower(v.voltage);
        if (volts != "5v" && volts != "3v") Refuse("--voltage", "needs 5V or 3V");
        x.voltage = volts == "5v" ? 0 : 1;
    }
}

// Checks the values of one `export` against the model they name, as the
// window would offer them, before anything runs.
ExportChoice Resolve(const ExportValues& v) {
    ExportChoice x;
    if (v.output.empty()) Refuse("-o", "export needs the production file to write");
    x.output = v.output;
    ResolveModelAndVoltage(v, x);

    // The controls as the chosen model shows them.
    Dialogs quiet;
    ConfigSession s(quiet);
    s.FormCreate();
    ChooseModelAndVoltage(s, x);
    const ConfigWindowModel& f = s.form;

    x.readProtect = v.readProtect;
    x.debugProtect = v.debugProtect;
    if (!v.hardLock.empty()) {
        x.hardLock = ListItem(f.ComboBox1, v.hardLock);
        if (!x.hardLock)
            Refuse("--hard-lock",
                   "the chosen model's sizes are none, all or one of: " + Items(f.ComboBox1));
    }
    if (!v.dataFlash.empty()) {
        if (!f.CheckBox4.visible) Refuse("--data-flash", "the chosen model has no data flash");
        x.dataFlash = ListItem(f.ComboBox2, v.dataFlash);
        if (!x.dataFlash) Refuse("--data-flash", "needs none, 1K, 2K or 4K");
    }
    x.box14 =
        PairChoice("--swd", v.swd, f.CheckBox13, "default", "SWD默认", "pa01", "SWD为PA0.1/2");
    if (const auto hsosc =
            PairChoice("--hsosc", v.hsosc, f.CheckBox13, "96M", "HSOSC=96M", "48M", "HSOSC=48M"))
        x.box14 = hsosc;
    x.box15 =
        PairChoice("--sub-osc", v.subOsc, f.CheckBox16, "3M", "副晶振3M", "500K", "副晶振500K");
    x.wdtOff = BoxChoice("--wdt-off", v.wdtOff, "--wdt-on", v.wdtOn, f.CheckBox11);
    x.pc01Io = BoxChoice("--pc01-io", v.pc01Io, "--no-pc01-io", v.noPc01Io, f.CheckBox17);
    x.pinIo = BoxChoice("--pin-io", v.pinIo, "--no-pin-io", v.noPinIo, f.CheckBox12);
    if (!v.autoSteps.empty()) x.steps = ParseAutoSteps(v.autoSteps);

    x.userCode = v.userCode;
    x.userCodeHex = v.userCodeHex;
    x.rolling = v.rolling;
    std::string why;
    if (!UserCodeRecord({x.userCode, x.userCodeHex, x.rolling, s.settings.optionSet}, &why))
        Refuse("--user-code", std::string(kUserCodeError) + " " + x.userCode + ": " + why);
    if (!v.marker.empty()) x.marker = static_cast<uint16_t>(Number("--marker", v.marker, 0, 65535));
    if (!v.fileMarker.empty())
        x.fileMarker = static_cast<uint8_t>(Number("--file-marker", v.fileMarker, 1, 254));
    return x;
}

int RunExport(Context& c, const ExportChoice& x, const std::string& source) {
    Dialogs dialogs;
    dialogs.force = c.options.force;
    ConfigSession s(dialogs);
    s.FormCreate();
    ChooseModelAndVoltage(s, x);
    std::string error;
    if (!s.OpenSourceFile(source, &error)) {
        dialogs.Flush(c, "export: ", false);
        c.Error("export: " + std::string(kCannotReadFile) + " " + error);
        return kExitUsage;
    }
    if (x.fileMarker) s.settings.fileMarker = *x.fileMarker;
    ChooseOptions(s, x);
    if (x.marker) s.Random = [number = *x.marker] { return uint32_t{number}; };

    const ExportResult result = s.ExportProductionFileTo(x.output);
    dialogs.Flush(c, "export: ", result != ExportResult::Written);
    if (result != ExportResult::Written) return kExitUsage;

    // The numbers drawn, so that the same file can be made again.
    const std::string& first = s.form.Memo2.lines.front();
    const unsigned marker =
        static_cast<unsigned>(std::stoul(first.substr(kMarkerRecordPrefix.size())));
    const unsigned fileMarker = s.settings.fileMarker;
    c.Emit({{"output", x.output}, {"marker", marker}, {"file-marker", fileMarker}},
           "written: " + x.output + "\nmarker: " + std::to_string(marker) +
               "\nfile-marker: " + std::to_string(fileMarker) + "\n");
    return kExitOk;
}

Bind ExportOptions(CLI::App& sub) {
    auto v = std::make_shared<ExportValues>();
    sub.add_option("-o,--output", v->output,
                   "the production file to write, exactly as named (required)")
        ->type_name("OUT");
    sub.add_option("--model", v->model,
                   "the device model as the model list names it, for example QM-012 "
                   "(default: none chosen, as the window starts)")
        ->type_name("NAME");
    sub.add_option("--voltage", v->voltage, "the chip voltage, 5V or 3V (default 5V)")
        ->type_name("5V|3V");
    sub.add_flag("--read-protect", v->readProtect, "tick \"读保护\" (read protection)");
    sub.add_flag("--debug-protect", v->debugProtect, "tick \"DEBUG保护\" (debug protection)");
    sub.add_option("--hard-lock", v->hardLock,
                   "tick \"Hard Lock\" and choose its size: none, all or a size of the "
                   "model's list (1K, 2K, 4K)")
        ->type_name("SIZE");
    sub.add_option("--data-flash", v->dataFlash,
                   "tick \"DataFlash\" and choose its size: none, 1K, 2K or 4K (models with "
                   "data flash)")
        ->type_name("SIZE");
    sub.add_option("--swd", v->swd,
                   "\"SWD默认\" (default) or \"SWD为PA0.1/2\" (pa01), on models that show them")
        ->type_name("default|pa01");
    sub.add_option("--hsosc", v->hsosc, "\"HSOSC=96M\" or \"HSOSC=48M\", on models that show them")
        ->type_name("96M|48M");
    sub.add_option("--sub-osc", v->subOsc,
                   "\"副晶振3M\" or \"副晶振500K\", on models that show them")
        ->type_name("3M|500K");
    sub.add_flag("--wdt-off", v->wdtOff, "tick \"禁止WDT\" (watchdog disabled)");
    sub.add_flag("--wdt-on", v->wdtOn, "untick \"禁止WDT\" (default: as the option word sets it)");
    sub.add_flag("--pc01-io", v->pc01Io, "tick \"PC0.1用作IO\", on models that show it");
    sub.add_flag("--no-pc01-io", v->noPc01Io, "untick \"PC0.1用作IO\"");
    sub.add_flag("--pin-io", v->pinIo, "tick the pin box (\"PA0.0用作IO\" or the model's pin)");
    sub.add_flag("--no-pin-io", v->noPinIo, "untick the pin box");
    sub.add_option("--auto-steps", v->autoSteps,
                   "the steps the production file gives the automatic run: a comma-separated "
                   "list of blank, option, erase, verify (default: none)")
        ->type_name("LIST");
    sub.add_option("--user-code", v->userCode,
                   "the user info code (\"用户信息代码\"): up to 12 characters, letters then a "
                   "number below 2^32; with --user-code-hex up to 16 hex digits in pairs")
        ->type_name("TEXT");
    sub.add_flag("--user-code-hex", v->userCodeHex, "tick \"16进制\": the code is hex bytes");
    sub.add_flag("--rolling", v->rolling, "tick \"滚动\": a rolling code");
    sub.add_option("--marker", v->marker,
                   "the number of the marker record, 0 to 65535 (default: drawn at random)")
        ->type_name("N");
    sub.add_option("--file-marker", v->fileMarker,
                   "the production-file marker, byte 16 of the configuration record, 1 to 254 "
                   "(default: drawn at random)")
        ->type_name("N");
    sub.footer(
        "The choices apply in the order of the window: model and voltage; then SOURCE, with "
        "its end address and the option word of its record at 0x0100; then the option boxes "
        "and lists (top to bottom), the steps and the user code. The marker numbers used are "
        "printed; giving both makes the output reproducible.");
    return [v](const std::string& source) -> Run {
        const ExportChoice x = Resolve(*v);
        *v = ExportValues{};
        return [x, source](Context& c) { return RunExport(c, x, source); };
    };
}

// --- merge --------------------------------------------------------------------

struct MergeValues {
    std::vector<std::string> files;
    std::string output, format;
};

int RunMerge(Context& c, const std::vector<std::string>& files, const std::string& output,
             MergeFormat format) {
    Dialogs dialogs;
    dialogs.force = c.options.force;
    ConfigSession s(dialogs);
    s.FormCreate();
    s.form.CheckBox20.SetChecked(true);  // "合并": a new merge series
    // --ignore-checksums: a file whose only fault is its checksums is merged.
    s.merge.IgnoreChecksums = c.options.ignoreChecksums;
    for (const std::string& file : files) {
        const MergeResult result = s.MergeFileFrom(file);
        dialogs.Flush(c, "merge: ", result == MergeResult::Refused);
        if (result == MergeResult::Refused) return kExitUsage;
    }
    const ExportResult written = s.WriteMergedFile(output, format);
    dialogs.Flush(c, "merge: ", written != ExportResult::Written);
    if (written != ExportResult::Written) return kExitUsage;
    const char* name = format == MergeFormat::Bin ? "bin" : "hex";
    const int length = s.merge.MergedLength;
    c.Emit({{"output", output},
            {"format", name},
            {"length", length},
            {"files", s.settings.MergeCount}},
           "written: " + output + " (" + name + ", " + std::to_string(length) + " bytes from " +
               std::to_string(s.settings.MergeCount) + " file" +
               (s.settings.MergeCount == 1 ? "" : "s") + ")\n");
    return kExitOk;
}

Bind MergeOptions(CLI::App& sub) {
    auto v = std::make_shared<MergeValues>();
    // The files; a command's name ends them, so that commands may follow.
    sub.add_option("FILE", v->files, "the HEX files, laid over one another in this order")
        ->type_name("")
        ->check([](const std::string& name) {
            return FindCommand(name) ? std::string("a command") : std::string();
        });
    sub.validate_positionals();
    sub.add_option("-o,--output", v->output,
                   "the merged image to write, exactly as named (required)")
        ->type_name("OUT");
    sub.add_option("--format", v->format,
                   "bin or hex (default: bin when OUT ends in .bin, else hex)")
        ->type_name("bin|hex");
    sub.footer(
        "Each file replaces the earlier contents throughout its span, from its lowest to one "
        "past its highest byte (0xFF where it writes nothing); the image runs from 0 to the "
        "furthest end of all files. HEX output is 16-byte records from address 0, the last "
        "filled with 0xFF. A file with data above 0xFFFF or a non-zero extended address is "
        "refused, and so is a malformed one; with --ignore-checksums a file whose only fault "
        "is wrong record checksums is merged, as download does.");
    return [v](const std::string&) -> Run {
        if (v->files.empty()) Refuse("merge", "needs at least one FILE");
        if (v->output.empty()) Refuse("-o", "merge needs the image to write");
        MergeFormat format =
            Lower(v->output).ends_with(".bin") ? MergeFormat::Bin : MergeFormat::Hex;
        if (!v->format.empty()) {
            const std::string f = Lower(v->format);
            if (f != "bin" && f != "hex") Refuse("--format", "needs bin or hex");
            format = f == "bin" ? MergeFormat::Bin : MergeFormat::Hex;
        }
        MergeValues taken = std::move(*v);
        *v = MergeValues{};
        return [taken = std::move(taken), format](Context& c) {
            return RunMerge(c, taken.files, taken.output, format);
        };
    };
}

}  // namespace

Command ExportCommand() {
    return {"export",
            "SOURCE",
            false,
            "write a production file: SOURCE.hex with the model, options, steps and user code "
            "the configuration window would give it (see export --help)",
            nullptr,
            ExportOptions};
}

Command MergeCommand() {
    return {"merge",
            nullptr,
            false,
            "lay HEX files over one another as the configuration window's merge does and write "
            "the image as BIN or HEX (see merge --help)",
            nullptr,
            MergeOptions};
}

}  // namespace qrv::cli
