// Station mode against 1, 8 and 16 simulated programmers at their default 1 ms
// per reply, through the tool's own path (RunCli with --all: one session,
// reader and slot thread per programmer):
// - StationDownload: a 64 KiB image (16-byte records) downloaded to all of
//   them at once;
// - StationAuto: the automatic run (erase, program, verify) on all of them,
//   the image stored beforehand (outside the time);
// - LoneProgrammerDownload: the same download to one programmer without
//   --all (no slot thread), the reference for the host's CPU per block.
// Each benchmark's time is the wall time of one call (manual time: the setup
// is left out). Counters:
// - ratio_to_1: that time over the time of the same benchmark with one
//   programmer, earlier in the same run (the station's overhead of parallel
//   slots; 1.00 is perfect);
// - host_us_per_block: the host's CPU time per block, where a block is one
//   CMD_WRITE_BLOCK with its acknowledgement for the download and one reply
//   read for the automatic run. The host's CPU is the process's CPU time
//   (CLOCK_PROCESS_CPUTIME_ID, which keeps the time of the slot and reader
//   threads after they end) less the CPU time of the simulator's device
//   threads, read from each one's thread CPU clock: the threads of the process
//   other than the benchmark's own, taken after the station is made and before
//   the call starts;
// - sim_us_per_block: the device threads' CPU time per block, for comparison;
// - blocks, replies: per programmer.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "protocol/reports.h"
#include "sim/station_seam.h"
#include "tests/support/hex_lines.h"
#include "tests/support/temp_file.h"

namespace {

using namespace qrv;

std::vector<std::string> Image64K() {
    std::vector<std::string> lines = {":020000040000FA"};
    for (int address = 0; address < 0x10000; address += 16) {
        std::vector<uint8_t> data;
        for (int i = 0; i < 16; ++i) data.push_back(static_cast<uint8_t>(address * 3 + i));
        lines.push_back(test::DataRecord(address, data));
    }
    lines.emplace_back(":00000001FF");
    return lines;
}

// The station's seam, counting the reports the host reads.
class CountingHandle : public HidHandle {
  public:
    CountingHandle(std::unique_ptr<HidHandle> inner, std::atomic<long>& reads)
        : inner_(std::move(inner)), reads_(reads) {}
    const std::string& Path() const override { return inner_->Path(); }
    bool Attributes(uint16_t* v, uint16_t* p) override { return inner_->Attributes(v, p); }
    bool InputReportLength(uint16_t* length) override { return inner_->InputReportLength(length); }
    bool Write(const uint8_t* report, std::size_t length) override {
        return inner_->Write(report, length);
    }
    int Read(uint8_t* buf, std::size_t length, int timeoutMs) override {
        const int n = inner_->Read(buf, length, timeoutMs);
        if (n > 0) reads_.fetch_add(1, std::memory_order_relaxed);
        return n;
    }

  private:
    std::unique_ptr<HidHandle> inner_;
    std::atomic<long>& reads_;
};

class CountingSeam : public HidSeam {
  public:
    explicit CountingSeam(HidSeam& inner) : inner_(inner) {}
    std::optional<std::vector<std::string>> Enumerate() override { return inner_.Enumerate(); }
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override {
        auto handle = inner_.Open(path, access);
        return handle ? std::make_unique<CountingHandle>(std::move(handle), reads) : nullptr;
    }
    bool ListedIds(const std::string& path, uint16_t* v, uint16_t* p) override {
        return inner_.ListedIds(path, v, p);
    }
    std::string OpenError() const override { return inner_.OpenError(); }
    std::optional<HidIdentity> Identity(const std::string& path) override {
        return inner_.Identity(path);
    }
    std::atomic<long> reads{0};

  private:
    HidSeam& inner_;
};

double Seconds(clockid_t clock) {
    timespec t{};
    if (clock_gettime(clock, &t) != 0) return -1;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The CPU clock of another thread of this process, by its thread ID (as
// pthread_getcpuclockid makes it: the ID inverted, shifted, with the
// per-thread and scheduler-time bits).
clockid_t ThreadClock(pid_t tid) {
    return static_cast<clockid_t>((~tid << 3) | 6);
}

// The threads of the process other than the calling one: here the device
// threads of the simulated programmers.
std::vector<clockid_t> OtherThreads() {
    std::vector<clockid_t> clocks;
    const auto self = static_cast<pid_t>(syscall(SYS_gettid));
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return clocks;
    while (const dirent* e = readdir(dir)) {
        const pid_t tid = static_cast<pid_t>(std::atol(e->d_name));
        if (tid > 0 && tid != self) clocks.push_back(ThreadClock(tid));
    }
    closedir(dir);
    return clocks;
}

double Sum(const std::vector<clockid_t>& clocks) {
    double total = 0;
    for (clockid_t c : clocks) total += std::max(0.0, Seconds(c));
    return total;
}

// Lone: the download to a lone programmer without --all (no slot thread), the
// reference for the host's CPU per block.
enum class Kind { Download, Auto, Lone };

// The mean wall time of each kind with one programmer, for ratio_to_1.
std::map<Kind, double>& OneProgrammer() {
    static std::map<Kind, double> times;
    return times;
}

int Call(const std::vector<std::string>& args, HidSeam& seam) {
    FILE* out = std::fopen("/dev/null", "w");
    FILE* err = std::tmpfile();
    const int rc = cli::RunCli(args, out, err, &seam);
    if (rc != cli::kExitOk) {
        std::rewind(err);
        char line[512];
        while (std::fgets(line, sizeof line, err)) std::fputs(line, stderr);
    }
    std::fclose(out);
    std::fclose(err);
    return rc;
}

void StationRun(benchmark::State& state, Kind kind) {
    const int count = static_cast<int>(state.range(0));
    const std::string image = test::WriteTempFile("qrv-station-bench.hex", Image64K());
    double wall = 0, host = 0, device = 0;
    long blocks = 0, replies = 0, iterations = 0;
    for (auto _ : state) {
        sim::StationOptions options;
        options.count = count;
        sim::SimStationSeam station(options);
        CountingSeam seam(station);
        if (kind == Kind::Auto) {
            // The image stored at once, then the default latency again.
            for (int k = 1; k <= count; ++k)
                station.Programmer(k).WithDevice(
                    [](sim::SimProgrammer& d) { d.MutableOptions().latencyUs = 0; });
            if (Call({"--all", "download", image}, seam) != cli::kExitOk) {
                state.SkipWithError("the image was not stored");
                break;
            }
            for (int k = 1; k <= count; ++k)
                station.Programmer(k).WithDevice([](sim::SimProgrammer& d) {
                    d.MutableOptions().latencyUs = sim::SimOptions{}.latencyUs;
                    d.ClearLogs();
                });
            seam.reads = 0;
        }
        const std::vector<clockid_t> devices = OtherThreads();
        const double device0 = Sum(devices);
        const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto start = std::chrono::steady_clock::now();
        const int rc = kind == Kind::Download ? Call({"--all", "download", image}, seam)
                       : kind == Kind::Auto   ? Call({"--all", "auto"}, seam)
                                              : Call({"download", image}, seam);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
        const double deviceCpu = Sum(devices) - device0;
        state.SetIterationTime(seconds);
        if (rc != cli::kExitOk) {
            state.SkipWithError("a slot failed");
            break;
        }
        long written = 0;
        for (int k = 1; k <= count; ++k)
            written += station.Programmer(k).WithDevice([](sim::SimProgrammer& d) {
                long n = 0;
                for (const Report& r : d.Received()) n += ReportCode(r.data()) == CMD_WRITE_BLOCK;
                return n;
            });
        wall += seconds;
        host += cpu - deviceCpu;
        device += deviceCpu;
        blocks += written;
        replies += seam.reads;
        ++iterations;
    }
    std::remove(image.c_str());
    if (iterations == 0) return;
    const double meanWall = wall / static_cast<double>(iterations);
    if (count == 1 && kind != Kind::Lone) OneProgrammer()[kind] = meanWall;
    if (const auto one = OneProgrammer().find(kind); one != OneProgrammer().end())
        state.counters["ratio_to_1"] = meanWall / one->second;
    const double perBlock = static_cast<double>(kind == Kind::Auto ? replies : blocks);
    state.counters["host_us_per_block"] = host / perBlock * 1e6;
    state.counters["sim_us_per_block"] = device / perBlock * 1e6;
    state.counters["blocks"] =
        static_cast<double>(blocks) / static_cast<double>(iterations * count);
    state.counters["replies"] =
        static_cast<double>(replies) / static_cast<double>(iterations * count);
}

void BM_StationDownload(benchmark::State& state) {
    StationRun(state, Kind::Download);
}
BENCHMARK(BM_StationDownload)
    ->Arg(1)
    ->Arg(8)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

void BM_StationAuto(benchmark::State& state) {
    StationRun(state, Kind::Auto);
}
BENCHMARK(BM_StationAuto)
    ->Arg(1)
    ->Arg(8)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

void BM_LoneProgrammerDownload(benchmark::State& state) {
    StationRun(state, Kind::Lone);
}
BENCHMARK(BM_LoneProgrammerDownload)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
