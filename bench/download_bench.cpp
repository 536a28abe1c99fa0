// Time of a file download of a 64 KiB image, in records of 16 and of 255 bytes:
// - the packer alone against an in-process programmer that stores every block
//   at once (the host's time per block);
// - the session (dispatcher, packer, trace) against the simulated
//   programmer's device logic called in-process, each reply handed straight
//   to the session (the host's time per block);
// - the whole session with its reader thread and reply hand-off against the
//   simulated programmer on its own thread, without latency (time per block);
// - the same against the simulated programmer with its default 1 ms per
//   reply, as the ratio of the download time to its floor of blocks x 1 ms.
//   The simulator times each reply from the arrival of its command with fine
//   timer slack; the FineTimers variant also gives the host's threads (reader,
//   dispatcher) a timer slack of 1 ns, so that its ratio shows what the
//   kernel's default slack adds on the host side.
#include <benchmark/benchmark.h>
#include <sys/prctl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "image/hex_loader.h"
#include "protocol/reports.h"
#include "session/session.h"
#include "sim/sim_seam.h"
#include "tests/support/hex_lines.h"
#include "tests/support/in_process_seam.h"
#include "tests/support/temp_file.h"

namespace {

using namespace qrv;

// The loader's host with an in-process programmer behind WriteHostReport: it
// stores each block and remembers whether the download ended.
class InProcessHost : public LoaderHost {
  public:
    ReportBuffer& Buffer() override { return buffer; }
    DownloadValues Values() override {
        return {StartAddress, EndAddress, ImageLength, TransferOffset};
    }
    void WriteHostReport() override {
        const uint8_t* r = buffer.HostReport();
        const uint8_t code = ReportCode(r);
        if (code == CMD_WRITE_BLOCK) {
            const WriteBlockFields block = DecodeWriteBlock(r);
            for (std::size_t i = 0; i < block.payload.size(); ++i)
                storage[(block.address + i) & 0xFFFF] = block.payload[i];
            ++blocks;
        } else if (code == CMD_DOWNLOAD_END || code == CMD_DOWNLOAD_ABORT) {
            ended = true;
        }
    }
    // The trace line costs what the session's does.
    void ImageLoaded() override { Memo2.lines.clear(); }
    void ReportSent(const uint8_t* report) override {
        Memo2.lines.push_back(HexBytes(report, kReportSize));
    }
    void HeaderModel(const std::string& /*model*/) override {}
    void StepsDecided(uint8_t /*autoSteps*/) override {}
    void DownloadEndSent() override {}
    // As the session does: the programmer is told to leave its download state.
    void DownloadAbandoned(LoaderRefusal why) override {
        interaction.Message(Severity::Warning, why == LoaderRefusal::HeaderRefused
                                                   ? kFileRefusedText
                                                   : kFormatErrorText);
        buffer.HeaderAccepted() = 0;
        BuildShortCommand(buffer.HostReport(), CMD_DOWNLOAD_ABORT, 0,
                          static_cast<unsigned>(EndAddress));
        WriteHostReport();
    }

    ReportBuffer buffer;
    int StartAddress = 0, EndAddress = 0, ImageLength = 0, TransferOffset = 0;
    LineList Memo2;
    StreamInteraction interaction;
    std::array<uint8_t, 0x10000> storage{};
    long blocks = 0;
    bool ended = false;
};

// A 64 KiB image in records of recordLength bytes, as an Intel HEX file's lines.
std::vector<std::string> Image64K(int recordLength) {
    std::vector<std::string> lines = {":020000040000FA"};
    for (int address = 0; address < 0x10000; address += recordLength) {
        std::vector<uint8_t> data;
        const int length = std::min(recordLength, 0x10000 - address);
        for (int i = 0; i < length; ++i) data.push_back(static_cast<uint8_t>(address * 3 + i));
        lines.push_back(test::DataRecord(address, data));
    }
    lines.push_back(":00000001FF");
    return lines;
}

// One whole download per iteration: every acknowledgement gets its report,
// trace line included. The counter "per_block" is the host's time per block.
void BM_DownloadPacker(benchmark::State& state) {
    const std::vector<std::string> lines = Image64K(static_cast<int>(state.range(0)));
    InProcessHost host;
    HexLoader loader(host);
    long blocks = 0;
    for (auto _ : state) {
        // The import (taking over the lines, the request) is not part of the
        // time per block.
        state.PauseTiming();
        host.ended = false;
        host.blocks = 0;
        loader.ResetForImport();
        loader.Load(ImageBuffer(lines));
        loader.SendDownloadRequest();
        state.ResumeTiming();
        while (!host.ended) loader.SendNextBlock();
        blocks += host.blocks;
        benchmark::DoNotOptimize(host.storage.data());
    }
    state.counters["blocks"] = static_cast<double>(host.blocks);
    state.counters["per_block"] = benchmark::Counter(
        static_cast<double>(blocks), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DownloadPacker)
    ->Arg(16)
    ->Arg(255)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// The import dialog answered with one file; message boxes ignored.
class FileInteraction : public StreamInteraction {
  public:
    explicit FileInteraction(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> OpenFile(const std::string&) override { return path_; }

  private:
    std::string path_;
};

std::string WriteImageFile(int recordLength) {
    return test::WriteTempFile("qrv-download-bench-" + std::to_string(recordLength) + ".hex",
                               Image64K(recordLength));
}

// Downloads through MainSession over the simulated programmer, one whole
// download ("导入文件" up to RPL_DOWNLOAD_DONE) per iteration.
void DownloadThroughSession(benchmark::State& state, int latencyUs, bool fineTimers = false) {
    const std::string path = WriteImageFile(static_cast<int>(state.range(0)));
    // Threads inherit the timer slack of the thread that starts them.
    const int previousSlack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (fineTimers) prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    sim::SimOptions options;
    options.latencyUs = latencyUs;
    sim::SimSeam seam(options);
    FileInteraction interaction(path);
    InstantClock clock;
    MainSession session(seam, interaction, clock);
    const auto dispatch = [&session](const Report& r) { session.OnReply(r); };
    session.FormCreate();
    while (session.Channel().WaitAndDispatch(std::chrono::milliseconds(100), dispatch)) {
    }
    long blocks = 0;
    long downloadBlocks = 0;
    bool done = false;
    session.ReplyHandled = [&](const Report& r) {
        if (ReportCode(r.data()) == RPL_DOWNLOAD_DONE) done = true;
    };
    session.Trace = [&](const uint8_t* report, bool sent) {
        if (sent && ReportCode(report) == CMD_WRITE_BLOCK) ++downloadBlocks;
    };
    for (auto _ : state) {
        done = false;
        downloadBlocks = 0;
        if (session.BitBtn1Click() != ImportResult::Requested) {
            state.SkipWithError("the import was not requested");
            break;
        }
        while (!done) {
            if (!session.Channel().WaitAndDispatch(std::chrono::seconds(5), dispatch)) {
                state.SkipWithError("the simulated programmer stopped answering");
                break;
            }
        }
        blocks += downloadBlocks;
    }
    state.counters["blocks"] = static_cast<double>(downloadBlocks);
    state.counters["per_block"] = benchmark::Counter(
        static_cast<double>(blocks), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    if (latencyUs > 0) {
        // Download time over its floor: one reply of latencyUs per block.
        state.counters["ratio_to_floor"] =
            benchmark::Counter(static_cast<double>(blocks) * latencyUs * 1e-6,
                               benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }
    std::remove(path.c_str());
    if (fineTimers && previousSlack > 0)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previousSlack), 0, 0, 0);
}

void BM_DownloadSessionInProcess(benchmark::State& state) {
    const std::string path = WriteImageFile(static_cast<int>(state.range(0)));
    sim::SimOptions options;
    options.latencyUs = 0;
    sim::SimProgrammer device(options);
    // The simulated programmer's device logic behind the seam: a write is
    // handled at once and its replies wait in a queue for the loop below.
    test::InProcessSeam seam(&device);
    seam.keepWritten = false;
    FileInteraction interaction(path);
    InstantClock clock;
    MainSession session(seam, interaction, clock);
    // Connected without a reader: the loop below hands each reply over.
    if (session.Link().FindProgrammer() != ProgrammerLink::kFound) {
        state.SkipWithError("the in-process programmer was not found");
        return;
    }
    long blocks = 0;
    long downloadBlocks = 0;
    session.Trace = [&](const uint8_t* report, bool sent) {
        if (sent && ReportCode(report) == CMD_WRITE_BLOCK) ++downloadBlocks;
    };
    for (auto _ : state) {
        downloadBlocks = 0;
        seam.replies.clear();
        session.BitBtn1Click();
        bool done = false;
        while (!done && !seam.replies.empty()) {
            const Report reply = seam.replies.front();
            seam.replies.pop_front();
            session.OnReply(reply);
            done = ReportCode(reply.data()) == RPL_DOWNLOAD_DONE;
        }
        if (!done) {
            state.SkipWithError("the download did not finish");
            break;
        }
        blocks += downloadBlocks;
    }
    state.counters["blocks"] = static_cast<double>(downloadBlocks);
    state.counters["per_block"] = benchmark::Counter(
        static_cast<double>(blocks), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    std::remove(path.c_str());
}
BENCHMARK(BM_DownloadSessionInProcess)
    ->Arg(16)
    ->Arg(255)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

void BM_DownloadSession(benchmark::State& state) {
    DownloadThroughSession(state, 0);
}
BENCHMARK(BM_DownloadSession)
    ->Arg(16)
    ->Arg(255)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_DownloadSimulated1ms(benchmark::State& state) {
    DownloadThroughSession(state, 1000);
}
BENCHMARK(BM_DownloadSimulated1ms)
    ->Arg(16)
    ->Arg(255)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

void BM_DownloadSimulated1msFineTimers(benchmark::State& state) {
    DownloadThroughSession(state, 1000, true);
}
BENCHMARK(BM_DownloadSimulated1msFineTimers)
    ->Arg(16)
    ->Arg(255)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
