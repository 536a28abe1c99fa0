// qrv-writer-cli export and merge: what they write and how they refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/atomic_file.h"
#include "config_test_support.h"
#include "tests/support/cli_run.h"

namespace qrv {
namespace {

using test::DataRecord;
using test::kEof;
using test::RunTool;
using test::ScratchDir;
using test::ToolRun;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Files {
    ScratchDir dir;
    std::string source =
        dir.Write("src.hex", DataRecord(0x0000, {1, 2, 3, 4}) + "\n" +
                                 DataRecord(0x0100, {0x57, 0x03, 0x55, 0x55}) + "\n" + kEof + "\n");
    std::string other = dir.Write("other.hex", DataRecord(0x2000, {9, 8}) + "\n");
};

TEST(ExportCommand, ReproducibleWithBothMarkersAndTheFileAfterTheModel) {
    Files f;
    const std::vector<std::string> args = {
        "export",    f.source,   "-o",       f.dir.Path("out.hex"), "--model",      "qm-002",
        "--voltage", "3V",       "--wdt-on", "--auto-steps",        "verify,erase", "--user-code",
        "7654321",   "--marker", "65535",    "--file-marker",       "254"};
    const ToolRun first = RunTool(args);
    ASSERT_EQ(first.rc, 0) << first.err;
    EXPECT_EQ(first.out,
              "written: " + f.dir.Path("out.hex") + "\nmarker: 65535\nfile-marker: 254\n");
    const std::string written = Read(f.dir.Path("out.hex"));
    EXPECT_EQ(written.substr(0, 49), ":10000022414D4365535\r\n:05000022415344330074CBB1\r\n");
    // The file's end (0x0103) over the model's 0x3FFF; 3 V; the option word's
    // bits less the unticked WDT box; marker 254; erase and verify.
    EXPECT_NE(written.find(":150000225152560000010303"), std::string::npos);
    EXPECT_NE(written.find("FE2000030C\r\n"), std::string::npos) << written;
    ASSERT_EQ(RunTool(args).rc, 0);
    EXPECT_EQ(Read(f.dir.Path("out.hex")), written);
}

// A source within the import's 16 MiB whose production file would not be:
// its LF line ends become CR LF. Nothing is written.
TEST(ExportCommand, AProductionFileLargerThanTheImportReadsIsRefused) {
    Files f;
    std::string source = DataRecord(0x0000, {1, 2, 3, 4}) + "\n";
    const std::string line = std::string(15, 'x') + "\n";
    while (source.size() + line.size() <= kMaxInputFileSize) source += line;
    const std::string path = f.dir.Write("big.hex", source);
    const std::string out = f.dir.Path("big-out.hex");
    const ToolRun r = RunTool({"export", path, "-o", out, "--model", "qm-002"});
    EXPECT_NE(r.rc, 0);
    EXPECT_NE(r.err.find("量产文件过大"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("larger than the 16 MiB"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(ExportCommand, AZeroLengthRecordMovesNoEnd) {
    Files f;
    const std::string source =
        f.dir.Write("zero.hex", DataRecord(0x0000, {1, 2, 3, 4}) + "\n:00220000DE\n" + kEof + "\n");
    const ToolRun r = RunTool({"export", source, "-o", f.dir.Path("zero-out.hex"), "--model",
                               "qm-002", "--marker", "1", "--file-marker", "2"});
    ASSERT_EQ(r.rc, 0) << r.err;
    // The configuration record's end is the last data byte, 0003.
    EXPECT_NE(Read(f.dir.Path("zero-out.hex")).find(":150000225152560000000305"),
              std::string::npos);
}

TEST(ExportCommand, RefusalsExitTwoWithTheReason) {
    Files f;
    const std::string out = f.dir.Path("x.hex");
    const struct {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{"export", f.source, "-o", out, "--user-code", "12AB"}, "用户信息代码出错!"},
        {{"export", f.dir.Path("none.hex"), "-o", out}, "无法读取文件!"},
        {{"export", f.source, "-o", f.dir.Path("no/x.hex")}, "保存文件错误!"},
        {{"export", f.source, "-o", out, "--model", "QM-010", "--swd", "pa01"}, "--swd"},
        {{"export", f.source, "-o", out, "--model", "QM-024", "--data-flash", "1K"}, "data flash"},
        {{"export", f.source, "-o", out, "--marker", "65536"}, "--marker"},
        {{"export", f.source, "-o", out, "--file-marker", "0"}, "--file-marker"},
        {{"export", f.source}, "-o"},
        {{"merge", f.source, f.dir.Write("big.hex", DataRecord(0xFFFF, {1, 2})), "-o", out},
         "0x10000"},
        {{"merge", f.dir.Path("none.hex"), "-o", out}, "文件长度不对!"},
    };
    for (const auto& c : cases) {
        const ToolRun r = RunTool(c.args);
        EXPECT_EQ(r.rc, 2) << c.reason;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.reason;
    }
}

TEST(MergeCommand, FormatFromTheNameOrTheOptionAndTheNameAsGiven) {
    Files f;
    const struct {
        const char* name;
        std::vector<std::string> extra;
        bool bin;
    } cases[] = {{"IMAGE.BIN", {}, true},
                 {"image", {}, false},
                 {"image.bin", {"--format", "hex"}, false},
                 {"image.out", {"--format", "bin"}, true}};
    for (const auto& c : cases) {
        std::vector<std::string> args = {"merge", f.source, f.other, "-o", f.dir.Path(c.name)};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ToolRun r = RunTool(args);
        ASSERT_EQ(r.rc, 0) << r.err;
        const std::string written = Read(f.dir.Path(c.name));
        EXPECT_EQ(written.size(), c.bin ? 0x2002u : 0x201u * 45 + 13) << c.name;
        EXPECT_EQ(written[0] == ':', !c.bin) << c.name;
        std::filesystem::remove(f.dir.Path(c.name));
    }
}

TEST(MergeCommand, IgnoreChecksumsMergesAFileWhoseOnlyFaultIsItsChecksums) {
    Files f;
    // The record's checksum should be E2.
    const std::string bad =
        f.dir.Write("bad.hex", std::string(":0400100001020304F0\r\n") + kEof + "\n");
    const std::string out = f.dir.Path("merged.bin");
    const ToolRun refused = RunTool({"merge", bad, "-o", out});
    EXPECT_EQ(refused.rc, 2);
    EXPECT_NE(refused.err.find("record checksum F0"), std::string::npos) << refused.err;
    const ToolRun r = RunTool({"merge", bad, "-o", out, "--ignore-checksums"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Read(out), std::string(0x10, '\xFF') + "\x01\x02\x03\x04");
}

}  // namespace
}  // namespace qrv
