// Host time of a file download: a 64 KiB image packed block by block against
// an in-process programmer that stores every block at once (no latency).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/hex.h"
#include "image/hex_loader.h"
#include "mainwin/protocol.h"

namespace {

using namespace qrv;

class NoInteraction : public Interaction {
  public:
    void ShowMessage(const std::string&) override {}
    void Warning(const std::string&) override {}
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&, const std::string&) override {
        return std::nullopt;
    }
};

// The loader's host with an in-process programmer behind WriteHostReport: it
// stores each block and remembers whether the download ended.
class InProcessHost : public LoaderHost {
  public:
    ReportBuffer& Buffer() override { return buffer; }
    DownloadValues Values() override {
        return {StartAddress, EndAddress, ImageLength, TransferOffset};
    }
    LoaderControls Controls() override {
        return {Edit1,     Edit2,     ProgressBar5, Memo2,   CheckBox1, CheckBox2,
                CheckBox3, CheckBox4, Button3,      Button4, Button5,   Button6};
    }
    Interaction& UserInteraction() override { return interaction; }
    void WriteHostReport() override {
        const uint8_t* r = buffer.HostReport();
        if (r[3] == CMD_WRITE_BLOCK) {
            const int address = r[4] * 256 + r[5];
            for (int i = 0; i < r[2]; ++i)
                storage[static_cast<std::size_t>((address + i) & 0xFFFF)] = r[6 + i];
            ++blocks;
        } else if (r[3] == CMD_DOWNLOAD_END || r[3] == CMD_DOWNLOAD_ABORT) {
            ended = true;
        }
    }
    void SendCommand(uint8_t code, uint32_t argument) override {
        BuildShortCommand(buffer.HostReport(), code, argument, static_cast<unsigned>(EndAddress));
        WriteHostReport();
    }

    ReportBuffer buffer;
    int StartAddress = 0, EndAddress = 0, ImageLength = 0, TransferOffset = 0;
    TextBox Edit1, Edit2;
    ProgressBar ProgressBar5;
    LineList Memo2;
    Toggle CheckBox1, CheckBox2, CheckBox3, CheckBox4;
    Widget Button3, Button4, Button5, Button6;
    NoInteraction interaction;
    std::array<uint8_t, 0x10000> storage{};
    long blocks = 0;
    bool ended = false;
};

// A 64 KiB image in records of recordLength bytes, as an Intel HEX file's lines.
std::vector<std::string> Image64K(int recordLength) {
    std::vector<std::string> lines = {":020000040000FA"};
    for (int address = 0; address < 0x10000; address += recordLength) {
        const int length = std::min(recordLength, 0x10000 - address);
        std::vector<uint8_t> bytes = {static_cast<uint8_t>(length),
                                      static_cast<uint8_t>(address >> 8),
                                      static_cast<uint8_t>(address), 0x00};
        for (int i = 0; i < length; ++i) bytes.push_back(static_cast<uint8_t>(address * 3 + i));
        unsigned sum = 0;
        for (uint8_t b : bytes) sum += b;
        bytes.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
        std::string line = ":";
        line += HexBytes(bytes.data(), bytes.size());
        lines.push_back(std::move(line));
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

}  // namespace

BENCHMARK_MAIN();
