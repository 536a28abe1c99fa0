// Time of the service functions:
// - the read-back of a 64 KiB chip (4096 blocks of 16 bytes): each block
//   handed to the session, turned into its line in Memo2, and the lines
//   written to a file as "save" writes them (the host's time per block);
// - the replacement of the programmer's firmware (972 blocks) through the
//   session and its reader thread against the simulated programmer with its
//   default 1 ms per reply, as the ratio of the update time to its floor of
//   972 blocks x 1 ms.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "protocol/reports.h"
#include "session/session.h"
#include "sim/programmer.h"
#include "sim/sim_seam.h"

namespace {

using namespace qrv;

// A programmer that takes every report and answers nothing: the benchmark
// hands the replies over itself.
class SilentSeam : public HidSeam {
  public:
    std::optional<std::vector<std::string>> Enumerate() override {
        return std::vector<std::string>{"silent"};
    }
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess) override {
        if (path != "silent") return nullptr;
        return std::make_unique<Handle>();
    }

  private:
    class Handle : public HidHandle {
      public:
        const std::string& Path() const override { return path_; }
        bool Attributes(uint16_t* vendorId, uint16_t* productId) override {
            *vendorId = kProgrammerVendorId;
            *productId = kProgrammerProductId;
            return true;
        }
        bool InputReportLength(uint16_t* length) override {
            *length = kReportSize;
            return true;
        }
        bool Write(const uint8_t*, std::size_t) override { return true; }
        int Read(uint8_t*, std::size_t, int) override { return 0; }

      private:
        std::string path_ = "silent";
    };
};

void BM_ChipReadBack64K(benchmark::State& state) {
    // The blocks the simulated programmer sends for a 64 KiB chip.
    sim::SimOptions options;
    options.latencyUs = 0;
    sim::SimProgrammer device(options);
    for (std::size_t i = 0; i < sim::kStoreSize; ++i)
        device.MutableChip().flash[i] = static_cast<uint8_t>(i * 7);
    Report readChip{};
    BuildShortCommand(readChip.data(), CMD_READ_CHIP, 0, 0);
    const std::vector<Report> blocks = device.Handle(readChip);

    SilentSeam seam;
    StreamInteraction interaction;
    InstantClock clock;
    MainSession session(seam, interaction, clock);
    if (session.Link().FindProgrammer() != ProgrammerLink::kFound) {
        state.SkipWithError("the programmer was not found");
        return;
    }
    session.ImageLength = static_cast<int>(sim::kStoreSize);
    const std::string path = "/tmp/qrv-chip-read-back-bench.hex";
    long handled = 0;
    for (auto _ : state) {
        session.Button9Click();
        for (const Report& block : blocks) session.OnReply(block);
        std::string error;
        if (!session.SaveMemo2(path, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        handled += static_cast<long>(blocks.size());
    }
    state.counters["blocks"] = static_cast<double>(blocks.size());
    state.counters["per_block"] = benchmark::Counter(
        static_cast<double>(handled), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    std::remove(path.c_str());
}
BENCHMARK(BM_ChipReadBack64K)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// One firmware replacement ("Update" up to RPL_DOWNLOAD_DONE) per iteration.
void BM_FirmwareUpdateSimulated1ms(benchmark::State& state) {
    constexpr int kLatencyUs = 1000;
    sim::SimOptions options;
    options.latencyUs = kLatencyUs;
    options.oldFirmware = true;
    sim::SimSeam seam(options);
    StreamInteraction interaction;
    InstantClock clock;
    MainSession session(seam, interaction, clock);
    session.SetFirmwareImage(sim::TestFirmwareImage());
    const auto dispatch = [&session](const Report& r) { session.OnReply(r); };
    session.FormCreate();
    while (session.Channel().WaitAndDispatch(std::chrono::milliseconds(100), dispatch)) {
    }
    long blocks = 0;
    long updateBlocks = 0;
    bool done = false;
    session.ReplyHandled = [&](const Report& r) {
        const uint8_t code = ReportCode(r.data());
        if (code == RPL_DOWNLOAD_DONE || code == RPL_DOWNLOAD_ERROR) done = true;
    };
    session.Trace = [&](const uint8_t* report, bool sent) {
        if (sent && ReportCode(report) == CMD_WRITE_BLOCK) ++updateBlocks;
    };
    for (auto _ : state) {
        done = false;
        updateBlocks = 0;
        if (session.Button16Click() != UpdateResult::Requested) {
            state.SkipWithError("the update was not requested");
            break;
        }
        while (!done) {
            if (!session.Channel().WaitAndDispatch(std::chrono::seconds(5), dispatch)) {
                state.SkipWithError("the simulated programmer stopped answering");
                break;
            }
        }
        blocks += updateBlocks;
    }
    if (!seam.ProtocolErrors().empty()) state.SkipWithError(seam.ProtocolErrors().front().c_str());
    state.counters["blocks"] = static_cast<double>(updateBlocks);
    state.counters["ratio_to_floor"] =
        benchmark::Counter(static_cast<double>(blocks) * kLatencyUs * 1e-6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FirmwareUpdateSimulated1ms)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
