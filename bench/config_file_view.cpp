// Opening a 64 KiB image of 16-byte records (4,096 rows) in the configuration
// window's file view: the scan alone, and the whole open (read, split, scan,
// option word, grid) through the window's model.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/config_session.h"
#include "config/file_view.h"
#include "tests/support/hex_lines.h"

namespace {

std::vector<std::string> Image64K() {
    std::vector<std::string> lines;
    for (int address = 0; address < 0x10000; address += 16) {
        std::vector<uint8_t> data;
        for (int i = 0; i < 16; ++i) data.push_back(static_cast<uint8_t>(address + i * 7));
        lines.push_back(qrv::test::DataRecord(address, data));
    }
    lines.push_back(":00000001FF");
    return lines;
}

void BM_ScanFileView(benchmark::State& state) {
    const auto lines = Image64K();
    for (auto _ : state) benchmark::DoNotOptimize(qrv::ScanFileView(lines));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lines.size()));
}
BENCHMARK(BM_ScanFileView)->Unit(benchmark::kMillisecond);

void BM_OpenSourceFile(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() / "qrv-config-bench-64k.hex";
    {
        std::ofstream out(path, std::ios::binary);
        for (const auto& line : Image64K()) out << line << "\r\n";
    }
    qrv::StreamInteraction dialogs;
    qrv::ConfigSession session(dialogs);
    session.FormCreate();
    for (auto _ : state) {
        std::string error;
        if (!session.OpenSourceFile(path.string(), &error)) state.SkipWithError(error.c_str());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_OpenSourceFile)->Unit(benchmark::kMillisecond);

}  // namespace
