#include "cli/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/hex.h"
#include "link/hidapi_backend.h"
#include "sim/options.h"
#include "sim/sim_seam.h"

namespace qrv::cli {

namespace {

constexpr const char* kTool = "qrv-writer-cli";
// How long the replies that follow a chip message are waited for.
constexpr std::chrono::milliseconds kSettle{300};

// The one programmer named with --device: the interface list holds it alone,
// when it is present.
class OneDeviceSeam : public HidSeam {
  public:
    OneDeviceSeam(HidSeam& inner, std::string path) : inner_(inner), path_(std::move(path)) {}
    std::optional<std::vector<std::string>> Enumerate() override {
        auto all = inner_.Enumerate();
        if (!all) return std::nullopt;
        if (std::find(all->begin(), all->end(), path_) == all->end())
            return std::vector<std::string>{};
        return std::vector<std::string>{path_};
    }
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override {
        return path == path_ ? inner_.Open(path, access) : nullptr;
    }

  private:
    HidSeam& inner_;
    std::string path_;
};

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

void Usage(FILE* out) {
    std::fprintf(out,
                 "Usage: %s [OPTIONS] COMMAND...\n"
                 "Runs the commands in order on one connection to the QRV programmer.\n\n"
                 "Options:\n"
                 "  --device PATH         use the programmer at PATH (see 'list')\n"
                 "  --timeout SECONDS     give up when the programmer does not answer for\n"
                 "                        that long (default 30)\n"
                 "  --steps LIST          the steps of 'auto': a comma-separated list of\n"
                 "                        blank, erase, program, verify (default: erase,\n"
                 "                        program, verify and the steps the programmer\n"
                 "                        selects; a production file's steps are its own)\n"
                 "  --trace               write every report to stderr: '> ' sent, '< '\n"
                 "                        received, 130 hex digits\n"
                 "  --option-word 0xNNNNNNNN\n"
                 "                        after 'download' of a file without configuration,\n"
                 "                        send this user option word (CMD_SET_OPTION)\n"
                 "%s\n"
                 "Commands:\n",
                 kTool, sim::SimOptionsHelp());
    for (const Command& c : Commands()) {
        std::string head = c.name;
        if (c.argument) head += std::string(" ") + c.argument;
        std::fprintf(out, "  %-18s %s\n", head.c_str(), c.help);
    }
    std::fprintf(out,
                 "\nExit status: 0 success, 1 the programmer reported a failure, 2 bad usage\n"
                 "or input, 3 no programmer or no answer.\n");
}

std::optional<Options> ParseArguments(const std::vector<std::string>& args, FILE* err) {
    Options options;
    auto value = [&](std::size_t& i, const std::string& arg, const std::string& name,
                     std::string* out) {
        if (arg.rfind(name + "=", 0) == 0) {
            *out = arg.substr(name.size() + 1);
            return true;
        }
        if (i + 1 >= args.size()) return false;
        *out = args[++i];
        return true;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string v;
        if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg.rfind("--simulate=", 0) == 0) {
            options.simulate = true;
            std::string error;
            if (!sim::ParseSimOptions(arg.substr(11), &options.simOptions, &error)) {
                std::fprintf(err, "%s: %s\n", kTool, error.c_str());
                return std::nullopt;
            }
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--timeout" || arg.rfind("--timeout=", 0) == 0) {
            if (!value(i, arg, "--timeout", &v) || !ParseSeconds(v, &options.timeout)) {
                std::fprintf(err, "%s: --timeout needs a number of seconds above 0\n", kTool);
                return std::nullopt;
            }
        } else if (arg == "--option-word" || arg.rfind("--option-word=", 0) == 0) {
            uint32_t word = 0;
            if (!value(i, arg, "--option-word", &v) || !ParseOptionWord(v, &word)) {
                std::fprintf(err, "%s: --option-word needs a 32-bit number such as 0x2B200\n",
                             kTool);
                return std::nullopt;
            }
            options.optionWord = word;
        } else if (arg == "--device" || arg.rfind("--device=", 0) == 0) {
            if (!value(i, arg, "--device", &v) || v.empty()) {
                std::fprintf(err, "%s: --device needs the path of a programmer\n", kTool);
                return std::nullopt;
            }
            options.device = v;
        } else if (arg == "--steps" || arg.rfind("--steps=", 0) == 0) {
            uint8_t steps = 0;
            if (!value(i, arg, "--steps", &v) || !ParseSteps(v, &steps)) {
                std::fprintf(err,
                             "%s: --steps needs a comma-separated list of blank, erase, program, "
                             "verify\n",
                             kTool);
                return std::nullopt;
            }
            options.steps = steps;
        } else if (const Command* c = FindCommand(arg)) {
            std::string argument;
            if (c->argument) {
                if (i + 1 >= args.size()) {
                    std::fprintf(err, "%s: '%s' needs %s\n", kTool, c->name, c->argument);
                    return std::nullopt;
                }
                argument = args[++i];
            }
            options.commands.emplace_back(c->name, argument);
        } else {
            std::fprintf(err, "%s: unknown argument '%s' (see --help)\n", kTool, arg.c_str());
            return std::nullopt;
        }
    }
    if (options.commands.empty()) {
        std::fprintf(err, "%s: no command given (see --help)\n", kTool);
        return std::nullopt;
    }
    return options;
}

Context::Context(const Options& opts, HidSeam& seam, FILE* o, FILE* e)
    : out(o), err(e), options(opts), seam_(seam) {
    progressAllowed_ = !opts.trace && isatty(fileno(e));
}

Context::~Context() {
    // The reader stops before the seam goes.
    session_.reset();
}

int Context::Connect() {
    interaction_ = std::make_unique<StreamInteraction>(err);
    clock_ = std::make_unique<SleepingClock>();
    session_ = std::make_unique<MainSession>(seam_, *interaction_, *clock_);
    if (options.trace) {
        FILE* e = err;
        session_->Trace = [e](const uint8_t* report, bool sent) {
            std::fprintf(e, "%s%s\n", sent ? "> " : "< ", HexBytes(report, kReportSize).c_str());
        };
    }
    session_->FormCreate();
    if (!session_->Connected()) {
        if (options.device)
            std::fprintf(err, "%s: no programmer at %s\n", kTool, options.device->c_str());
        else
            std::fprintf(err, "%s: no programmer found\n", kTool);
        return kExitNoProgrammer;
    }
    // The status fills the working values the commands use (end address,
    // selected steps). A corrupted status is asked for again.
    const int rc = Await([this](const Report& r) -> std::optional<int> {
        if (r[3] == RPL_STATUS && !session_->StatusRetried()) return kExitOk;
        return std::nullopt;
    });
    connected_ = statusFresh = rc == kExitOk;
    if (rc != kExitOk) return rc;
    return ChooseSteps();
}

int Context::ChooseSteps() {
    MainWindowModel& f = session_->form;
    bool boxesEnabled = true;
    for (int n = 1; n <= 4; ++n) boxesEnabled = boxesEnabled && f.StepBox(n).enabled;
    if (!boxesEnabled) {
        if (!options.steps) return kExitOk;
        std::fprintf(err,
                     "%s: --steps: the programmer holds a production file, whose steps decide\n",
                     kTool);
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

int Context::Await(const std::function<std::optional<int>(const Report&)>& onReply) {
    bool chipProblem = false;
    for (;;) {
        std::optional<int> result;
        const bool answered = session_->Channel().WaitAndDispatch(
            chipProblem ? kSettle : options.timeout, [&](const Report& r) {
                session_->OnReply(r);
                if (r[3] == RPL_NO_CHIP || r[3] == RPL_MODEL_MISMATCH) chipProblem = true;
                result = onReply(r);
            });
        if (!answered) {
            ClearProgress();
            if (chipProblem) return kExitFailure;
            std::fprintf(err, "%s: the programmer did not answer for %.3g s\n", kTool,
                         static_cast<double>(options.timeout.count()) / 1000.0);
            return kExitNoProgrammer;
        }
        if (result) {
            ClearProgress();
            return chipProblem ? std::max(*result, kExitFailure) : *result;
        }
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

int RunCli(const std::vector<std::string>& args, FILE* out, FILE* err, HidSeam* seam) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            Usage(out);
            return kExitOk;
        }
    }
    std::optional<Options> options = ParseArguments(args, err);
    if (!options) return kExitUsage;

    std::unique_ptr<HidSeam> owned;
    if (!seam) {
        if (options->simulate)
            owned = std::make_unique<sim::SimSeam>(options->simOptions);
        else
            owned = std::make_unique<HidapiSeam>();
        seam = owned.get();
    }
    std::unique_ptr<OneDeviceSeam> oneDevice;
    if (options->device) {
        oneDevice = std::make_unique<OneDeviceSeam>(*seam, *options->device);
        seam = oneDevice.get();
    }

    Context context(*options, *seam, out, err);
    for (const auto& [name, argument] : options->commands) {
        const Command* command = FindCommand(name);
        if (command->needsProgrammer && !context.IsConnected()) {
            const int rc = context.Connect();
            if (rc != kExitOk) return rc;
        }
        const int rc = command->run(context, argument);
        std::fflush(out);
        if (command->needsProgrammer) context.statusFresh = false;
        if (rc != kExitOk) return rc;
    }
    return kExitOk;
}

}  // namespace qrv::cli
