#include "cli/cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "common/help_formatter.h"
#include "common/hex.h"
#include "common/version.h"
#include "link/device_select.h"
#include "link/hidapi_backend.h"
#include "protocol/reports.h"
#include "sim/options.h"
#include "sim/sim_seam.h"
#include "sim/station_seam.h"

namespace qrv::cli {

namespace {

constexpr const char* kTool = "qrv-writer-cli";
// The reason an interrupted run is logged without a result.
constexpr const char* kInterruptedReason = "interrupted";
// How long the replies that follow a chip message are waited for.
constexpr std::chrono::milliseconds kSettle{300};

// "blank,erase,program,verify" (any non-empty subset) as StepFlags bits.
bool ParseSteps(const std::string& text, uint8_t* out) {
    uint8_t flags = 0;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string name = text.substr(from, comma - from);
        const StepRow* row = nullptr;
        for (const StepRow& r : kStepRows)
            if (name == r.name) row = &r;
        if (!row) return false;
        flags = static_cast<uint8_t>(flags | row->flag);
        from = comma + 1;
    }
    *out = flags;
    return true;
}

bool ParseSeconds(const std::string& text, std::chrono::milliseconds* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(seconds) || seconds <= 0 ||
        seconds > 86400.0)
        return false;
    *out = std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
    return true;
}

// A 32-bit word written as 0x and 1 to 8 hex digits, or in decimal.
bool ParseOptionWord(const std::string& text, uint32_t* out) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 8u : 10u)) return false;
    uint64_t value = 0;
    for (char ch : digits) {
        const int d = hex ? HexDigitValue(ch) : (ch >= '0' && ch <= '9' ? ch - '0' : -1);
        if (d < 0) return false;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    }
    if (value > 0xFFFFFFFFu) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

namespace {

// A message box's text on one line: each run of white space that holds a line
// break becomes one space, and the ends are trimmed.
std::string OneLine(const std::string& text) {
    std::string line;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = i;
        bool lineBreak = false;
        while (j < text.size() && std::isspace(static_cast<unsigned char>(text[j]))) {
            lineBreak = lineBreak || text[j] == '\n' || text[j] == '\r';
            ++j;
        }
        if (j > i) {
            if (!lineBreak)
                line.append(text, i, j - i);
            else if (!line.empty() && j < text.size())
                line += ' ';
            i = j;
        } else {
            line += text[i++];
        }
    }
    return line;
}

const char* ExitClass(int rc) {
    switch (rc) {
        case kExitFailure:
            return "failure";
        case kExitUsage:
            return "usage";
        case kExitOutput:
            return "output";
        case kExitInterrupted:
            return "interrupted";
        default:
            return "no-programmer";
    }
}

// Text that is not valid UTF-8 (a device's bytes) is written with U+FFFD.
void PrintJson(FILE* out, const nlohmann::ordered_json& object) {
    std::fprintf(out, "%s\n",
                 object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    std::fflush(out);
}

// The error object of --json: the command (null when the command line was
// refused), the programmer (null when none is connected), the message, the
// exit status and its class. The message is never empty.
void PrintJsonError(FILE* out, const nlohmann::ordered_json& command,
                    const nlohmann::ordered_json& programmer, const std::string& message, int rc,
                    const nlohmann::ordered_json& slot = {}) {
    nlohmann::ordered_json o;
    o["command"] = command;
    o["programmer"] = programmer;
    if (slot.is_object())
        for (const auto& [key, value] : slot.items()) o[key] = value;
    o["error"] = message.empty() ? std::string(ExitClass(rc)) : message;
    o["exit"] = rc;
    o["class"] = ExitClass(rc);
    PrintJson(out, o);
}

// How the call ends when it is interrupted, or when a result cannot be stored.

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

// How long a wait for a reply runs before it looks for an interrupt.
constexpr std::chrono::milliseconds kInterruptPoll{50};

// WaitAndDispatch in short slices, so that Ctrl-C ends a long wait soon.
// False without a reply when the time is up, the reads fail or an interrupt came.
bool WaitForReply(ReplyChannel& channel, std::chrono::milliseconds timeout,
                  const ReplyChannel::Handler& handle) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (Interrupted()) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        const auto slice = std::clamp(left, std::chrono::milliseconds::zero(), kInterruptPoll);
        if (channel.WaitAndDispatch(slice, handle)) return true;
        if (channel.ReadFailing() || left <= kInterruptPoll) return false;
    }
}

// The production log must be open before anything is sent: one that cannot
// be opened is bad usage. kExitOk, or kExitUsage after the message.
int CheckLogAtStart(const Options& options, FILE* out, FILE* err) {
    std::string error;
    if (!options.log || ProductionLog(*options.log).Check(&error)) return kExitOk;
    std::fprintf(err, "%s: %s\n", kTool, error.c_str());
    if (options.json) PrintJsonError(out, nullptr, nullptr, error, kExitUsage);
    return kExitUsage;
}

// Whether out has taken everything written to it; says so once on err when not.
bool OutputWritten(FILE* out, FILE* err, bool* reported) {
    errno = 0;
    if (std::fflush(out) == 0 && !std::ferror(out)) return true;
    if (!*reported) {
        // An earlier write may have failed already: its reason is gone then.
        const int e = errno;
        std::fprintf(err, "%s: cannot write the results to stdout%s%s\n", kTool, e != 0 ? ": " : "",
                     e != 0 ? std::strerror(e) : "");
        *reported = true;
    }
    return false;
}

// The options that apply to the whole call, as given (checked after the parse).
struct GlobalValues {
    std::optional<std::string> simulate, timeout, device, optionWord, steps, log, firmware;
    std::optional<std::string> slots, station;
    bool all = false;
    bool trace = false;
    bool json = false;
    bool ignoreChecksums = false;
    bool force = false;
};

// What each option says when its value is missing or refused.
constexpr std::pair<const char*, const char*> kValueMessages[] = {
    {"--timeout", "--timeout needs a number of seconds above 0"},
    {"--option-word", "--option-word needs a 32-bit number such as 0x2B200"},
    {"--device", "--device needs the path of a programmer"},
    {"--steps", "--steps needs a comma-separated list of blank, erase, program, verify"},
    {"--log", "--log needs the path of the production log"},
    {"--firmware", "--firmware needs the path of the programmer's firmware file"},
    {"--slots", "--slots needs slot numbers and ranges such as 1,3-5"},
    {"--station", "--station needs the path of the station file"},
};

const char* ValueMessage(const std::string& option) {
    for (const auto& [name, message] : kValueMessages)
        if (option == name) return message;
    return nullptr;
}

void Check(bool ok, const char* option) {
    if (!ok) throw UsageError(ValueMessage(option));
}

void ApplyGlobals(const GlobalValues& g, Options* o) {
    if (g.simulate) {
        o->simulate = true;
        std::string error;
        if (!sim::ParseStationOptions(*g.simulate, &o->station, &o->simOptions, &error))
            throw UsageError(error);
    }
    o->trace = g.trace;
    o->json = g.json;
    o->ignoreChecksums = g.ignoreChecksums;
    o->force = g.force;
    if (g.log) {
        Check(!g.log->empty(), "--log");
        o->log = *g.log;
    }
    if (g.timeout) Check(ParseSeconds(*g.timeout, &o->timeout), "--timeout");
    if (g.device) {
        Check(!g.device->empty(), "--device");
        o->device = *g.device;
    }
    if (g.optionWord) {
        uint32_t word = 0;
        Check(ParseOptionWord(*g.optionWord, &word), "--option-word");
        o->optionWord = word;
    }
    if (g.steps) {
        uint8_t steps = 0;
        Check(ParseSteps(*g.steps, &steps), "--steps");
        o->steps = steps;
    }
    if (g.firmware) {
        Check(!g.firmware->empty(), "--firmware");
        o->firmware = *g.firmware;
    }
    if (g.slots) Check(!g.slots->empty(), "--slots");
    if (g.station) Check(!g.station->empty(), "--station");
    if (g.all && g.slots) throw UsageError("--all and --slots choose the slots twice: give one");
    o->allSlots = g.all;
    o->slotList = g.slots;
    o->stationFile = g.station;
    if ((o->allSlots || o->slotList) && o->device)
        throw UsageError("--device names one programmer; --all and --slots run a station");
}

// The edit distance of two words (insertions, deletions and substitutions).
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The refusal of an argument that is neither a command nor an option, with
// the nearest command or option when one is near enough to be a typing slip.
std::string UnknownArgument(const std::string& argument, const std::vector<std::string>& options) {
    const bool option = argument.size() > 1 && argument[0] == '-';
    const std::string word = option ? argument.substr(0, argument.find('=')) : argument;
    std::vector<std::string> candidates = options;
    if (!option) {
        candidates.clear();
        for (const Command& c : Commands()) candidates.emplace_back(c.name);
    }
    const std::string* nearest = nullptr;
    std::size_t best = 0;
    for (const std::string& candidate : candidates) {
        const std::size_t d = EditDistance(word, candidate);
        if (!nearest || d < best) {
            nearest = &candidate;
            best = d;
        }
    }
    // A slip of one or two characters, and never most of the word.
    const bool near = nearest && best > 0 && best <= 2 && best * 2 < word.size();
    return std::string("unknown ") + (option ? "option" : "command") + " '" + argument + "'" +
           (near ? " (did you mean '" + *nearest + "'?)" : " (see --help)");
}

// Names of the options that take a value, and of all options, as typed.
struct OptionNames {
    std::vector<std::string> global;  // the value options of the whole call
    std::vector<std::string> value;   // every value option, of the commands too
    std::vector<std::string> all;     // every option, for suggestions
};

OptionNames CollectOptionNames(CLI::App& app) {
    OptionNames names;
    const auto add = [&names](const CLI::App& from, bool global) {
        for (const CLI::Option* opt : from.get_options()) {
            if (!opt->nonpositional()) continue;
            const bool takesValue = opt->get_expected_min() > 0;
            for (const std::string& l : opt->get_lnames()) {
                names.all.push_back("--" + l);
                if (takesValue) names.value.push_back("--" + l);
                if (takesValue && global) names.global.push_back("--" + l);
            }
            for (const std::string& n : opt->get_snames())
                if (takesValue) names.value.push_back("-" + n);
        }
    };
    add(app, true);
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        add(*sub, false);
    return names;
}

// Refuses, before CLI11 reads them, the values it would take wrongly: an empty
// value (`--log=` from an unset shell variable would take the next argument,
// a command, as the file name) and an option of the whole call given twice.
void CheckOptionValues(const std::vector<std::string>& args, const OptionNames& names) {
    const auto isValueOption = [&names](const std::string& name) {
        return std::find(names.value.begin(), names.value.end(), name) != names.value.end();
    };
    const auto empty = [](const std::string& name) {
        const char* message = ValueMessage(name);
        return UsageError(message ? std::string(message) + ", not an empty value"
                                  : name + " needs a value, not an empty one");
    };
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') continue;
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (!isValueOption(name)) continue;
        if (equals != std::string::npos ? equals + 1 == arg.size()
                                        : i + 1 < args.size() && args[i + 1].empty())
            throw empty(name);
        if (std::find(names.global.begin(), names.global.end(), name) == names.global.end())
            continue;
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            throw UsageError(name + " was given more than once");
        seen.push_back(name);
        if (equals == std::string::npos) ++i;  // its value
    }
}

// The sub-command of one command. Its callback runs each time the command has
// been read, in command-line order, and only queues it: nothing reaches the
// programmer before the whole line has parsed.
void AddCommand(CLI::App& app, const Command& command, std::vector<Invocation>* queue) {
    CLI::App* sub = app.add_subcommand(command.name, command.help);
    sub->immediate_callback();
    auto argument = std::make_shared<std::string>();
    CLI::Option* positional = nullptr;
    if (command.argument) positional = sub->add_option(command.argument, *argument)->type_name("");
    Bind bind = command.options ? command.options(*sub) : Bind{};
    if (!bind) {
        auto run = command.run;
        bind = [run](const std::string& arg) -> Run {
            return [run, arg](Context& c) { return run(c, arg); };
        };
    }
    sub->callback([&command, queue, argument, positional, bind] {
        if (positional && positional->count() == 0)
            throw UsageError(std::string("'") + command.name + "' needs " + command.argument);
        Run check;
        if (command.check)
            check = [c = command.check, arg = *argument](Context& context) {
                return c(context, arg);
            };
        queue->push_back(
            {command.name, *argument, command.needsProgrammer, bind(*argument), check});
        argument->clear();
    });
}

}  // namespace

// The options of the whole call, with their help.
static void AddGlobalOptions(CLI::App& app, GlobalValues& g) {
    app.add_option("--device", g.device,
                   "use the programmer at this port path, with this serial, of this index in "
                   "'list', or at this hidraw path or udev symlink")
        ->type_name("PATH");
    app.add_flag("--all", g.all, "run the commands on every slot of the station, in parallel");
    app.add_option("--slots", g.slots, "run the commands on these slots, in parallel (1,3-5)")
        ->type_name("LIST");
    app.add_option("--station", g.station,
                   "the station file: JSON of slot number -> {\"port\": ...} or "
                   "{\"serial\": ...} (default: the programmers present, in port order)")
        ->type_name("FILE");
    app.add_option("--timeout", g.timeout,
                   "give up when the programmer does not answer for that long (default 30)")
        ->type_name("SECONDS");
    app.add_option("--steps", g.steps,
                   "the steps of 'auto': a comma-separated list of blank, erase, program, "
                   "verify (default: erase, program, verify and the steps the programmer "
                   "selects; a production file's steps are its own)")
        ->type_name("LIST");
    app.add_flag("--trace", g.trace,
                 "write every report to stderr: '> ' sent, '< ' received, 130 hex digits");
    app.add_option("--option-word", g.optionWord,
                   "after 'download' of a file without configuration, send this user option "
                   "word (CMD_SET_OPTION)")
        ->type_name("0xNNNNNNNN");
    app.add_flag("--json", g.json,
                 "print each command's result as one JSON object per line on stdout; errors "
                 "too, with their exit status and class (described by "
                 "qrv-writer-cli.schema.json)");
    app.add_option("--log", g.log,
                   "append one CSV line per automatic run and single step to FILE (time, "
                   "programmer, model, checksum, steps, outcome, failed step, message, counters)")
        ->type_name("FILE");
    app.add_flag("--ignore-checksums", g.ignoreChecksums,
                 "download a file whose only fault is wrong record checksums (the window asks)");
    app.add_flag(
        "--force", g.force,
        "let 'read-chip', 'read-cache', 'export' and 'merge' replace a file that is read-only");
    app.set_version_flag("--version", VersionText(kTool), "print the version and exit");
    app.add_option("--firmware", g.firmware,
                   "the programmer firmware that 'update-firmware' sends (57304 bytes; default " +
                       DefaultFirmwarePath() + ", or the simulator's test image with --simulate)")
        ->type_name("FILE");
    app.add_flag("--simulate{}", g.simulate,
                 "use the built-in simulated programmer; OPTIONS as below")
        ->type_name("");
}

std::optional<Options> ParseArguments(const std::vector<std::string>& args, FILE* out, FILE* err,
                                      int* exitCode) {
    int ignored = 0;
    if (!exitCode) exitCode = &ignored;
    CLI::App app("Runs the commands in order on one connection to the QRV programmer.", kTool);
    // Options of the whole call may also follow a command; an argument that is
    // neither an option nor a command is kept and refused below.
    app.fallthrough();
    app.allow_extras();
    app.formatter(std::make_shared<HelpFormatter>());

    GlobalValues g;
    AddGlobalOptions(app, g);

    Options options;
    for (const Command& command : Commands()) AddCommand(app, command, &options.commands);
    app.footer(std::string(sim::SimOptionsHelp()) +
               "\nExit status: 0 success, 1 the programmer reported a failure, 2 bad usage\n"
               "or input, 3 no programmer or no answer, 4 a result could not be stored\n"
               "(the production log or stdout), 130 interrupted (Ctrl-C, SIGTERM).");

    const OptionNames names = CollectOptionNames(app);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    std::string refusal;
    try {
        CheckOptionValues(args, names);
        app.parse(reversed);
        const std::vector<std::string> extras = app.remaining(true);
        if (!extras.empty()) throw UsageError(UnknownArgument(extras.front(), names.all));
        ApplyGlobals(g, &options);
        if (options.commands.empty()) throw UsageError("no command given (see --help)");
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), out);
        *exitCode = kExitOk;
        return std::nullopt;
    } catch (const CLI::CallForVersion&) {
        std::fputs(VersionText(kTool).c_str(), out);
        *exitCode = kExitOk;
        return std::nullopt;
    } catch (const CLI::ArgumentMismatch& e) {
        // A value that is missing: the option's own message.
        const std::string what = e.what();
        const char* message = nullptr;
        for (const auto& [name, text] : kValueMessages)
            if (what.rfind(std::string(name) + ":", 0) == 0) message = text;
        refusal = message ? message : what;
    } catch (const CLI::ParseError& e) {
        refusal = std::string(e.what()) + " (see --help)";
    } catch (const UsageError& e) {
        refusal = e.what();
    }
    if (!refusal.empty()) {
        refusal = OneLine(refusal);
        std::fprintf(err, "%s: %s\n", kTool, refusal.c_str());
        if (std::find(args.begin(), args.end(), "--json") != args.end())
            PrintJsonError(out, nullptr, nullptr, refusal, kExitUsage);
        *exitCode = kExitUsage;
        return std::nullopt;
    }
    return options;
}

// Message boxes of the session become lines on err, as the tool's own
// messages, and the last one is the message of a command's --json error.
// Dialogs are never answered.
class CliInteraction : public Interaction {
  public:
    CliInteraction(Context& context) : context_(context) {}
    void ShowMessage(const std::string& text) override { context_.Error(text); }
    void Warning(const std::string& text) override { context_.Error(text); }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&, const std::string&) override {
        return std::nullopt;
    }

  private:
    Context& context_;
};

void Context::Emit(const nlohmann::ordered_json& fields, const std::string& text) {
    ClearProgress();
    if (!options.json) {
        std::fputs(text.c_str(), out);
        std::fflush(out);
        return;
    }
    nlohmann::ordered_json o;
    o["command"] = command;
    o["programmer"] = Programmer();
    if (slot.is_object())
        for (const auto& [key, value] : slot.items()) o[key] = value;
    for (const auto& [key, value] : fields.items()) o[key] = value;
    PrintJson(out, o);
}

void Context::BeginCommand(const std::string& name) {
    command = name;
    // What the previous command left unread is not this one's outcome.
    events_.clear();
    lastMessage_.clear();
    failure_.clear();
}

nlohmann::ordered_json Context::Programmer() const {
    if (!session_ || !session_->Connected()) return nullptr;
    return session_->Link().WritePath();
}

nlohmann::ordered_json HexWordJson(unsigned value) {
    return H4(value & 0xFFFFu);
}

void Context::Error(const std::string& text) {
    lastMessage_ = OneLine(text);
    Note(text);
}

void Context::Note(const std::string& text) {
    ClearProgress();
    std::fprintf(err, "%s: %s\n", kTool, OneLine(text).c_str());
    std::fflush(err);
}

Context::Context(const Options& opts, HidSeam& seam, FILE* o, FILE* e)
    : out(o),
      err(e),
      options(opts),
      seam_(seam),
      messages_(std::make_unique<CliInteraction>(*this)) {
    progressAllowed_ = !opts.trace && isatty(fileno(e));
}

Context::~Context() {
    // The reader stops before the seam goes.
    session_.reset();
}

int Context::ChooseProgrammer() {
    std::string path, error;
    bool ambiguous = false;
    if (options.device) {
        const auto resolved = ResolveDevice(seam_, *options.device, &error, &ambiguous);
        if (ambiguous) {
            Error(error);
            return kExitUsage;
        }
        // A name that matches nothing: the link finds no programmer there.
        path = resolved.value_or(*options.device);
    } else if (const auto attached = ListProgrammers(seam_); attached && attached->size() > 1) {
        Error(std::to_string(attached->size()) +
              " programmers are attached: choose one with --device PORT, SERIAL, INDEX or PATH");
        for (std::size_t i = 0; i < attached->size(); ++i) {
            const AttachedProgrammer& p = (*attached)[i];
            Note(std::to_string(i) + " " + ProgrammerName(p) + " " +
                 (p.identity && !p.identity->serial.empty() ? p.identity->serial : "-") + " " +
                 p.path);
        }
        return kExitUsage;
    }
    if (!path.empty()) chosen_ = std::make_unique<OneDeviceSeam>(seam_, path);
    return kExitOk;
}

int Context::Connect() {
    if (const int rc = ChooseProgrammer(); rc != kExitOk) return rc;
    interaction_ = std::make_unique<CliInteraction>(*this);
    clock_ = std::make_unique<SleepingClock>();
    session_ = std::make_unique<MainSession>(chosen_ ? *chosen_ : seam_, *interaction_, *clock_);
    if (options.trace) {
        FILE* e = err;
        session_->Trace = [e](const uint8_t* report, bool sent) {
            std::fprintf(e, "%s\n", TraceLine(report, sent).c_str());
        };
    }
    session_->Subscribe([this](const SessionEvent& e) {
        if (const auto* status = std::get_if<event::Status>(&e)) {
            lastStatus_ = *status;
            firmware_ = status->firmware ? nlohmann::ordered_json(*status->firmware)
                                         : nlohmann::ordered_json(nullptr);
        }
        events_.push_back(e);
    });
    if (options.log) {
        ProductionLog log(*options.log);
        if (slot.is_object()) {
            // A port or serial the programmer does not tell is null in --json
            // and an empty column in the log.
            const auto text = [this](const char* key) {
                const auto it = slot.find(key);
                return it != slot.end() && it->is_string() ? it->get<std::string>() : "";
            };
            log.SetStationColumns(slot.value("slot", 0), text("port"), text("serial"));
        }
        session_->SetProductionLog(std::move(log));
    }
    session_->IgnoreChecksums = options.ignoreChecksums;
    session_->CommandLineMessages = true;
    session_->FormCreate();
    if (!session_->Connected()) {
        if (!session_->Link().AccessProblem().empty())
            return kExitNoProgrammer;  // the session has said why
        Error(options.device ? "no programmer at " + *options.device : "no programmer found");
        return kExitNoProgrammer;
    }
    // The status fills the working values the commands use (end address,
    // selected steps). A corrupted status is asked for again.
    const int rc = AwaitStatus();
    connected_ = statusFresh = rc == kExitOk;
    return rc;
}

int Context::AwaitStatus() {
    return Await([this](const SessionEvent& e) -> std::optional<int> {
        const auto* status = std::get_if<event::Status>(&e);
        if (!status) return std::nullopt;
        if (status->unreadable) {
            Error("the programmer's status cannot be read: it stayed corrupted after " +
                  std::to_string(kMaxStatusRetries + 1) + " requests");
            return kExitNoProgrammer;
        }
        if (status->retried) return std::nullopt;
        return kExitOk;
    });
}

int Context::RefreshStatus() {
    session_->SendCommand(CMD_STATUS, 0);
    const int rc = AwaitStatus();
    if (rc == kExitOk) statusStale = false;
    return rc;
}

int Context::Started(RunStart start) {
    switch (start) {
        case RunStart::Started:
            return kExitOk;
        case RunStart::Busy:
            Error("a run is in progress");
            return kExitFailure;
        case RunStart::NoSteps:
            return kExitUsage;  // the session has said why
        case RunStart::DownloadIncomplete:
            return kExitFailure;  // the session has said why
        case RunStart::NotConnected:
            return kExitNoProgrammer;
    }
    return kExitFailure;
}

int Context::PrepareSteps() {
    if (statusStale) {
        const int rc = RefreshStatus();
        if (rc != kExitOk) return rc;
    }
    return ChooseSteps();
}

int Context::ChooseSteps() {
    MainWindowModel& f = session_->form;
    bool boxesEnabled = true;
    for (int n = 1; n <= 4; ++n) boxesEnabled = boxesEnabled && f.StepBox(n).enabled;
    if (!boxesEnabled) {
        if (!options.steps) return kExitOk;
        Error("--steps: the programmer holds a production file, whose steps decide");
        return kExitUsage;
    }
    // Setting a box runs its click rule, which keeps StepFlags.
    for (int n = 1; n <= 4; ++n) {
        const uint8_t flag = kStepRows[n - 1].flag;
        if (options.steps)
            f.StepBox(n).SetChecked((*options.steps & flag) != 0);
        else if (flag == kStepFlagErase || flag == kStepFlagVerify)
            f.StepBox(n).SetChecked(true);
    }
    return kExitOk;
}

int Context::Await(const EventHandler& onEvent) {
    return Await(onEvent, std::chrono::milliseconds::zero(), {});
}

int Context::Await(const EventHandler& onEvent, std::chrono::milliseconds quiet,
                   const std::function<int()>& onQuiet) {
    bool chipProblem = false;
    bool replied = false;
    // The events of the call that started the command come first.
    std::optional<int> result = DrainEvents(onEvent, &chipProblem);
    const auto handle = [&](const Report& r) {
        session_->OnReply(r);
        replied = true;
        result = DrainEvents(onEvent, &chipProblem);
    };
    while (!result) {
        const bool quietEnds = onQuiet && replied;
        const bool answered =
            NextReply(chipProblem ? kSettle : (quietEnds ? quiet : options.timeout), handle);
        if (Interrupted()) return EndInterrupted();
        if (answered) continue;
        ClearProgress();
        if (chipProblem) return kExitFailure;
        return EndSilentWait(quietEnds ? onQuiet : std::function<int()>());
    }
    ClearProgress();
    return chipProblem ? std::max(*result, kExitFailure) : *result;
}

std::optional<int> Context::DrainEvents(const EventHandler& onEvent, bool* chipProblem) {
    while (!events_.empty()) {
        const SessionEvent e = std::move(events_.front());
        events_.pop_front();
        if (std::holds_alternative<event::ChipRefused>(e)) *chipProblem = true;
        if (const std::optional<int> result = onEvent(e)) return result;
    }
    return std::nullopt;
}

bool Context::NextReply(std::chrono::milliseconds timeout, const ReplyChannel::Handler& handle) {
    if (!held_) return WaitForReply(session_->Channel(), timeout, handle);
    const Report r = *held_;
    held_.reset();
    handle(r);
    return true;
}

int Context::EndSilentWait(const std::function<int()>& onQuiet) {
    if (session_->Channel().ReadFailing()) {
        // Unplugged: a download in progress says that it was cut short.
        const bool transfer = session_->TransferActive();
        session_->OnLinkLost();
        if (!transfer) Error("the programmer was unplugged");
        return kExitNoProgrammer;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3g",
                  static_cast<double>(options.timeout.count()) / 1000.0);
    const std::string silence = std::string("the programmer did not answer for ") + seconds + " s";
    session_->AbandonRun(silence);
    Error(silence);
    return onQuiet ? onQuiet() : kExitNoProgrammer;
}

void Context::Linger(const std::function<bool(const SessionEvent&)>& onEvent) {
    bool over = false;
    while (!over && session_->Channel().WaitAndDispatch(kSettle, [&](const Report& r) {
        const uint8_t code = ReportCode(r.data());
        if (code != RPL_OPTION_RESULT && code != RPL_PROTECT_RESULT) {
            // Not part of the run: it belongs to the next command.
            held_ = r;
            over = true;
            return;
        }
        session_->OnReply(r);
        while (!over && !events_.empty()) {
            const SessionEvent e = std::move(events_.front());
            events_.pop_front();
            over = onEvent(e);
        }
    })) {
    }
}

void Context::ShowProgress(const char* what, int percent) {
    if (!progressAllowed_) return;
    percent = std::clamp(percent, 0, 100);
    if (progressShown_ && progressWhat_ == what && progressPercent_ == percent) return;
    progressWhat_ = what;
    progressPercent_ = percent;
    const int width = 30;
    const int filled = percent * width / 100;
    std::fprintf(err, "\r%-8s [%s%s] %3d%%", what,
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(width - filled), ' ').c_str(), percent);
    std::fflush(err);
    progressShown_ = true;
}

void Context::ClearProgress() {
    if (!progressShown_) return;
    std::fprintf(err, "\r%*s\r", 50, "");
    std::fflush(err);
    progressShown_ = false;
}

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    for (int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

bool Interrupted() {
    return g_interrupted != 0;
}

int Context::EndInterrupted() {
    ClearProgress();
    if (session_) session_->AbandonRun(kInterruptedReason);
    Error(kInterruptedReason);
    return kExitInterrupted;
}

int RunCli(const std::vector<std::string>& args, FILE* out, FILE* err, HidSeam* seam) {
    int parseExit = kExitUsage;
    std::optional<Options> options = ParseArguments(args, out, err, &parseExit);
    if (!options) {
        bool reported = false;
        return parseExit == kExitOk && !OutputWritten(out, err, &reported) ? kExitOutput
                                                                           : parseExit;
    }

    std::unique_ptr<HidSeam> owned;
    if (!seam) {
        std::string error;
        if (options->simulate && options->station.count > 0)
            owned = std::make_unique<sim::SimStationSeam>(options->station, &error);
        else if (options->simulate)
            owned = std::make_unique<sim::SimSeam>(options->simOptions);
        else
            owned = std::make_unique<HidapiSeam>();
        if (!error.empty()) {
            std::fprintf(err, "%s: %s\n", kTool, error.c_str());
            return kExitUsage;
        }
        seam = owned.get();
    }

    if (const int rc = CheckLogAtStart(*options, out, err); rc != kExitOk) return rc;

    if (options->allSlots || options->slotList) return RunStation(*options, *seam, out, err);
    Context context(*options, *seam, out, err);
    if (const int rc = CheckFiles(context); rc != kExitOk) return rc;
    return RunCommands(context);
}

int CheckFiles(Context& context) {
    // Every file of the call is checked whole before the first command
    // reaches the programmer: a bad one is bad input, and nothing is sent.
    for (const Invocation& command : context.options.commands) {
        if (!command.check) continue;
        context.BeginCommand(command.name);
        if (const int rc = command.check(context); rc != kExitOk) {
            if (context.options.json)
                PrintJsonError(context.out, command.name, context.Programmer(),
                               context.FailureText(), rc, context.slot);
            return rc;
        }
    }
    return kExitOk;
}

int RunCommands(Context& context) {
    const Options& options = context.options;
    FILE* out = context.out;
    FILE* err = context.err;
    // A result that could not be stored (a log line, stdout) fails the call
    // once every command has run: programming goes on meanwhile.
    bool outputReported = false;
    bool outputFailed = false;
    for (const Invocation& command : options.commands) {
        context.BeginCommand(command.name);
        int rc = Interrupted() ? context.EndInterrupted() : kExitOk;
        if (rc == kExitOk && command.needsProgrammer && !context.IsConnected())
            rc = context.Connect();
        if (rc == kExitOk) rc = command.run(context);
        if (rc == kExitOk && Interrupted()) rc = context.EndInterrupted();
        outputFailed = !OutputWritten(out, err, &outputReported) || outputFailed;
        if (command.needsProgrammer) context.statusFresh = false;
        if (rc != kExitOk) {
            if (options.json)
                PrintJsonError(out, command.name, context.Programmer(), context.FailureText(), rc,
                               context.slot);
            return rc;
        }
    }
    if (context.IsConnected() && context.Session().ProductionLogFailed()) {
        // The session has said why, once.
        if (options.json)
            PrintJsonError(out, context.command, context.Programmer(), context.FailureText(),
                           kExitOutput, context.slot);
        outputFailed = true;
    }
    outputFailed = !OutputWritten(out, err, &outputReported) || outputFailed;
    return outputFailed ? kExitOutput : kExitOk;
}

void PrintJsonObject(FILE* out, const nlohmann::ordered_json& object) {
    PrintJson(out, object);
}

}  // namespace qrv::cli
