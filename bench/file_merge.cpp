// Merging eight 64 KiB HEX files (16-byte records, each 0x0000-0xFFEF) and
// building the HEX output: the merge alone on texts in memory, and the
// window's model reading the files from disk.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/config_session.h"
#include "image/merge.h"
#include "tests/support/hex_lines.h"

namespace {

constexpr int kFiles = 8;

std::string File64K(unsigned seed) {
    std::string text;
    for (unsigned address = 0; address < 0xFFF0; address += 16) {
        std::vector<uint8_t> data;
        for (unsigned i = 0; i < 16; ++i)
            data.push_back(static_cast<uint8_t>(address * 3 + i * 7 + seed * 13));
        text += qrv::test::DataRecord(static_cast<int>(address), data) + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

void BM_MergeEightFiles(benchmark::State& state) {
    std::vector<std::string> texts;
    for (int k = 0; k < kFiles; ++k) texts.push_back(File64K(static_cast<unsigned>(k)));
    for (auto _ : state) {
        qrv::MergeImage merge;
        for (int k = 0; k < kFiles; ++k) {
            const auto span = merge.ReadFile(texts[static_cast<std::size_t>(k)], nullptr);
            if (!span) state.SkipWithError("refused");
            merge.LayOver(*span, k == 0);
        }
        benchmark::DoNotOptimize(merge.HexText());
    }
}
BENCHMARK(BM_MergeEightFiles)->Unit(benchmark::kMillisecond);

void BM_MergeEightFilesInTheWindow(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() / "qrv-merge-bench";
    std::filesystem::create_directories(dir);
    std::vector<std::string> paths;
    for (int k = 0; k < kFiles; ++k) {
        paths.push_back((dir / ("f" + std::to_string(k) + ".hex")).string());
        std::ofstream(paths.back(), std::ios::binary) << File64K(static_cast<unsigned>(k));
    }
    qrv::StreamInteraction dialogs;
    qrv::ConfigSession session(dialogs);
    session.FormCreate();
    for (auto _ : state) {
        session.form.CheckBox20.SetChecked(false);
        session.form.CheckBox20.SetChecked(true);
        for (const std::string& path : paths)
            if (session.MergeFileFrom(path) != qrv::MergeResult::Merged)
                state.SkipWithError("not merged");
        benchmark::DoNotOptimize(session.merge.HexText());
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_MergeEightFilesInTheWindow)->Unit(benchmark::kMillisecond);

}  // namespace
