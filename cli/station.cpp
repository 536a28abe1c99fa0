// --all and --slots: the call's commands on several programmers at once, one
// session, reader and thread per slot. A slot's failure, time-out, unplug or
// re-plug stays in its slot: each has its own connection and waits on its own
// replies. Text lines are prefixed with the slot ("[3] verify: failed"); with
// --json every object names its slot, port and serial.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cli/cli.h"
#include "station/slots.h"

namespace qrv::cli {

namespace {

// A stream of one slot over the call's stdout or stderr: whole lines, each
// with the slot's prefix, written under the lock the slots share, so lines of
// two slots never mix.
class SlotStream {
  public:
    SlotStream(FILE* target, std::string prefix, std::mutex& lock)
        : target_(target), prefix_(std::move(prefix)), lock_(lock) {
        cookie_io_functions_t io{};
        io.write = &SlotStream::Write;
        io.close = &SlotStream::Close;
        file_ = ::fopencookie(this, "w", io);
    }
    ~SlotStream() {
        if (file_) std::fclose(file_);
    }
    SlotStream(const SlotStream&) = delete;
    SlotStream& operator=(const SlotStream&) = delete;
    FILE* File() const { return file_; }

  private:
    static ssize_t Write(void* cookie, const char* data, size_t size) {
        auto* self = static_cast<SlotStream*>(cookie);
        return self->Take(std::string_view(data, size)) ? static_cast<ssize_t>(size) : -1;
    }
    static int Close(void* cookie) {
        auto* self = static_cast<SlotStream*>(cookie);
        // A last line without its line end still reaches the target.
        if (!self->pending_.empty()) self->Take("\n");
        return 0;
    }
    bool Take(std::string_view data) {
        pending_.append(data);
        std::string lines;
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos;
             start = end + 1) {
            std::string_view line(pending_.data() + start, end - start);
            // A progress bar redraws its line with CRs: only the text after
            // the last one is the line.
            if (const auto cr = line.rfind('\r'); cr != std::string_view::npos)
                line.remove_prefix(cr + 1);
            if (line.empty()) continue;
            lines += prefix_;
            lines += line;
            lines += '\n';
        }
        pending_.erase(0, start);
        if (lines.empty()) return true;
        std::lock_guard<std::mutex> hold(lock_);
        const bool ok = std::fwrite(lines.data(), 1, lines.size(), target_) == lines.size();
        return std::fflush(target_) == 0 && ok;
    }

    FILE* target_;
    std::string prefix_;
    std::mutex& lock_;
    std::string pending_;
    FILE* file_ = nullptr;
};

// The seam the slots share, one call at a time: enumerating and opening are
// not made for several threads at once. Each handle is then its slot's own.
class SharedSeam : public HidSeam {
  public:
    explicit SharedSeam(HidSeam& inner) : inner_(inner) {}
    std::optional<std::vector<std::string>> Enumerate() override {
        std::lock_guard<std::mutex> hold(lock_);
        return inner_.Enumerate();
    }
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override {
        std::lock_guard<std::mutex> hold(lock_);
        auto handle = inner_.Open(path, access);
        if (!handle) error_ = inner_.OpenError();
        return handle;
    }
    bool ListedIds(const std::string& path, uint16_t* vendorId, uint16_t* productId) override {
        std::lock_guard<std::mutex> hold(lock_);
        return inner_.ListedIds(path, vendorId, productId);
    }
    std::string OpenError() const override {
        std::lock_guard<std::mutex> hold(lock_);
        return error_;
    }
    std::optional<HidIdentity> Identity(const std::string& path) override {
        std::lock_guard<std::mutex> hold(lock_);
        return inner_.Identity(path);
    }

  private:
    HidSeam& inner_;
    mutable std::mutex lock_;
    std::string error_;
};

struct SlotRun {
    SlotBinding binding;
    std::string port;
    std::string serial;
    // Why the slot has no programmer although one matches it (a serial two
    // programmers share): said on the slot's err before it runs.
    std::string problem;
    int rc = kExitOk;
};

const char* Verdict(int rc) {
    switch (rc) {
        case kExitOk:
            return "ok";
        case kExitFailure:
            return "failed";
        case kExitUsage:
            return "refused";
        case kExitNoProgrammer:
            return "no programmer";
        case kExitOutput:
            return "output failed";
        case kExitInterrupted:
            return "interrupted";
        default:
            return "failed";
    }
}

nlohmann::ordered_json SlotFields(const SlotRun& run) {
    return {{"slot", run.binding.slot},
            {"port",
             run.port.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(run.port)},
            {"serial", run.serial.empty() ? nlohmann::ordered_json(nullptr)
                                          : nlohmann::ordered_json(run.serial)}};
}

// The station and the slots the call selects; kExitOk, or the exit code
// after a message on err.
int ChooseSlots(const Options& options, HidSeam& seam, FILE* err, std::vector<SlotRun>* runs) {
    const auto refuse = [err](const std::string& text, int rc) {
        std::fprintf(err, "qrv-writer-cli: %s\n", text.c_str());
        return rc;
    };
    const auto present = ListProgrammers(seam);
    if (!present) return refuse("the list of HID interfaces is unavailable", kExitNoProgrammer);
    std::string error;
    std::optional<Station> station;
    if (options.stationFile) {
        station = ReadStationFile(*options.stationFile, &error);
        if (!station) return refuse(error, kExitUsage);
    } else {
        station = StationFromPresent(*present);
        if (station->slots.empty()) return refuse("no programmer attached", kExitNoProgrammer);
    }
    std::vector<int> chosen;
    if (options.slotList) {
        const auto list = ParseSlotList(*options.slotList, *station, &error);
        if (!list) return refuse(error, kExitUsage);
        chosen = *list;
    } else {
        for (const SlotBinding& b : station->slots) chosen.push_back(b.slot);
    }
    const SlotMap map = AssignSlots(*station, *present);
    for (const SlotState& state : map.slots) {
        if (std::find(chosen.begin(), chosen.end(), state.binding.slot) == chosen.end()) continue;
        SlotRun run;
        run.binding = state.binding;
        run.port = state.binding.port;
        run.serial = state.binding.serial;
        run.problem = state.problem;
        if (state.programmer && state.programmer->identity) {
            run.port = state.programmer->identity->port;
            run.serial = state.programmer->identity->serial;
        }
        runs->push_back(std::move(run));
    }
    for (const AttachedProgrammer& p : map.unassigned)
        std::fprintf(err, "qrv-writer-cli: the programmer at %s is in no slot (unassigned)\n",
                     ProgrammerName(p).c_str());
    return kExitOk;
}

// The streams every slot writes to, each line under its lock.
struct SharedStreams {
    FILE* out;
    FILE* err;
    std::mutex outLock, errLock;
};

// One slot's run, on its own thread: its streams, its seam and its session.
void RunSlot(SlotRun& run, const Options& options, HidSeam& shared, SharedStreams& streams) {
    const std::string prefix = "[" + std::to_string(run.binding.slot) + "] ";
    // JSON lines stay JSON: they carry the slot in their fields.
    SlotStream slotOut(streams.out, options.json ? std::string() : prefix, streams.outLock);
    SlotStream slotErr(streams.err, prefix, streams.errLock);
    if (!slotOut.File() || !slotErr.File()) {
        run.rc = kExitOutput;
        return;
    }
    if (!run.problem.empty())
        std::fprintf(slotErr.File(), "qrv-writer-cli: %s\n", run.problem.c_str());
    SlotSeam slotSeam(shared, run.binding);
    Context context(options, slotSeam, slotOut.File(), slotErr.File());
    context.slot = SlotFields(run);
    run.rc = RunCommands(context);
}

// How each slot ended, in slot order, after every slot's own lines.
void PrintSummary(const std::vector<SlotRun>& runs, bool json, FILE* out) {
    for (const SlotRun& run : runs) {
        if (json) {
            nlohmann::ordered_json o = {{"command", "station"}, {"programmer", nullptr}};
            const nlohmann::ordered_json fields = SlotFields(run);
            for (const auto& [key, value] : fields.items()) o[key] = value;
            o["exit"] = run.rc;
            o["result"] = Verdict(run.rc);
            PrintJsonObject(out, o);
        } else {
            std::fprintf(out, "[%d] %s %s: %s\n", run.binding.slot,
                         run.port.empty() ? "-" : run.port.c_str(),
                         run.serial.empty() ? "-" : run.serial.c_str(), Verdict(run.rc));
        }
    }
    std::fflush(out);
}

}  // namespace

int RunStation(const Options& options, HidSeam& seam, FILE* out, FILE* err) {
    SharedSeam shared(seam);
    std::vector<SlotRun> runs;
    if (const int rc = ChooseSlots(options, shared, err, &runs); rc != kExitOk) {
        if (options.json)
            PrintJsonObject(out, {{"command", nullptr},
                                  {"programmer", nullptr},
                                  {"error", "no slot to run"},
                                  {"exit", rc},
                                  {"class", rc == kExitUsage ? "usage" : "no-programmer"}});
        return rc;
    }
    // The files are checked once, before any slot sends anything.
    {
        Context checker(options, shared, out, err);
        if (const int rc = CheckFiles(checker); rc != kExitOk) return rc;
    }
    SharedStreams streams{out, err, {}, {}};
    std::vector<std::thread> threads;
    threads.reserve(runs.size());
    for (SlotRun& run : runs)
        threads.emplace_back(
            [&run, &options, &shared, &streams] { RunSlot(run, options, shared, streams); });
    for (std::thread& t : threads) t.join();
    PrintSummary(runs, options.json, out);
    int worst = kExitOk;
    for (const SlotRun& run : runs) worst = std::max(worst, run.rc);
    return worst;
}

}  // namespace qrv::cli
