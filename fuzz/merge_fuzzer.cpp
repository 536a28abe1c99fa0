// The merge: HEX files laid over one another in the configuration window's
// merge mode ("合并文件"), one series. The input: a byte whose bits say which
// files have their record lengths and checksums put right first (so that
// mutated files get merged often), then the files, separated by NUL bytes (at
// most eight). Invariants: a well-formed file is merged; a merged
// file is one the import accepts as well; a refused file leaves the merged
// image as it was; the merged image is each merged file's span (its lowest to
// one past its highest data byte, 0xFF where it writes nothing) over the
// earlier ones, the first on 0xFF; the binary output is the merged image, and
// the HEX output reads back to it (the last record filled up with 0xFF),
// passes the import's check and, downloaded into the simulated programmer,
// stores exactly the merged bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/atomic_file.h"
#include "config/config_session.h"
#include "fuzz/download_run.h"
#include "image/hex_check.h"

namespace {

using namespace qrv;
using namespace qrv::fuzz;

constexpr int kMaxFiles = 8;

// The merged image of the files merged so far, kept independently.
struct Model {
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kMergeSize, 0xFF);
    unsigned length = 0;
    int files = 0;

    void LayOver(const std::vector<HexRecord>& records) {
        std::vector<uint8_t> scratch(kMergeSize, 0xFF);
        unsigned low = kMergeSize, high = 0;
        for (const HexRecord& r : records) {
            if (r.data.empty()) continue;
            std::copy(r.data.begin(), r.data.end(), scratch.begin() + r.address);
            low = std::min(low, r.address);
            high = std::max(high, r.address + static_cast<unsigned>(r.data.size()));
        }
        if (files++ == 0) {
            buffer.assign(kMergeSize, 0xFF);
            length = 0;
        }
        std::copy(scratch.begin() + low, scratch.begin() + high, buffer.begin() + low);
        length = std::max(length, high);
    }
};

void CheckOutputs(const ConfigSession& session, const Model& model) {
    const MergeImage& merge = session.merge;
    if (static_cast<unsigned>(merge.MergedLength) != model.length)
        Fail("the merged length is the furthest end of the files",
             std::to_string(merge.MergedLength) + " instead of " + std::to_string(model.length));
    if (merge.MergeBuffer != model.buffer) Fail("each file's span lies over the earlier files");
    const std::string binary = merge.Binary();
    if (binary.size() != model.length ||
        !std::equal(binary.begin(), binary.end(), model.buffer.begin(),
                    [](char c, uint8_t b) { return static_cast<uint8_t>(c) == b; }))
        Fail("the binary output is the merged image");

    // The HEX output: 16-byte records from 0 without gaps, then the end record.
    const std::string hex = merge.HexText();
    const std::vector<std::string> lines = TextLines(hex);
    if (CheckHexLines(lines)) Fail("the merged HEX file passes the import's check");
    const auto records = DownloadableRecords(lines, true);
    Check(records.has_value(), "the merged HEX file reads back");
    const unsigned padded = (model.length + 15) / 16 * 16;
    std::vector<uint8_t> back;
    for (const HexRecord& r : *records) {
        if (r.address != back.size() || r.data.size() != 16)
            Fail("the merged HEX file has 16-byte records from 0 without gaps");
        back.insert(back.end(), r.data.begin(), r.data.end());
    }
    if (back.size() != padded ||
        !std::equal(back.begin(), back.begin() + model.length, model.buffer.begin()) ||
        !std::all_of(back.begin() + model.length, back.end(), [](uint8_t b) { return b == 0xFF; }))
        Fail("the merged HEX file reads back to the merged image");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const uint8_t repair = TakeByte(data, size);
    std::string_view input(reinterpret_cast<const char*>(data), size);
    StreamInteraction interaction;
    ConfigSession session(interaction);
    session.Random = [] { return 0x1234u; };
    session.FormCreate();
    session.form.CheckBox20.Click();  // "合并": merge mode, a new series
    Model model;

    for (int n = 0; n < kMaxFiles && !input.empty(); ++n) {
        const std::size_t end = std::min(input.find('\0'), input.size());
        const std::string text = (repair >> n) & 1 ? RepairRecords(input.substr(0, end))
                                                   : std::string(input.substr(0, end));
        input.remove_prefix(std::min(end + 1, input.size()));

        const std::vector<uint8_t> before = session.merge.MergeBuffer;
        const MergeResult result = session.MergeFileFrom(InputFile(text));
        const std::vector<std::string> lines = TextLines(text);
        if (result != MergeResult::Merged) {
            if (WellFormedImage(lines)) Fail("a well-formed file is merged");
            if (session.merge.MergeBuffer != before) Fail("a file not merged changes nothing");
            continue;
        }
        const auto records = DownloadableRecords(lines, true);
        Check(records.has_value(), "a merged file is one the import accepts");
        model.LayOver(*records);
        CheckOutputs(session, model);
    }
    if (model.files == 0) return 0;

    // The merged HEX file, downloaded into the programmer, stores the merged bytes.
    DownloadRun run;
    Check(run.Download(session.merge.HexText(), false).has_value(),
          "the merged HEX file downloads");
    const unsigned padded = (model.length + 15) / 16 * 16;
    Check(run.Device().ImageLength() == padded, "the programmer stores the whole merged image");
    if (!std::equal(model.buffer.begin(), model.buffer.begin() + model.length,
                    run.Device().Storage().begin()))
        Fail("the programmer stores the merged bytes");
    return 0;
}
