#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/cli.h"
#include "config_test_support.h"

namespace qrv {
namespace {

using test::DataRecord;
using test::kEof;
using test::ScratchDir;

struct Output {
    int rc = 0;
    std::string out, err;
};

Output RunInfo(const std::string& path) {
    char* outBuf = nullptr;
    char* errBuf = nullptr;
    std::size_t outLen = 0, errLen = 0;
    FILE* out = open_memstream(&outBuf, &outLen);
    FILE* err = open_memstream(&errBuf, &errLen);
    Output o;
    o.rc = cli::RunCli({"info", path}, out, err);
    std::fclose(out);
    std::fclose(err);
    o.out.assign(outBuf, outLen);
    o.err.assign(errBuf, errLen);
    std::free(outBuf);
    std::free(errBuf);
    return o;
}

TEST(InfoCommand, PrintsEndChecksumAndOptionWord) {
    ScratchDir dir;
    const std::string path = dir.Write("a.hex", DataRecord(0x0000, {1, 2, 3, 4}) + "\r\n" +
                                                    DataRecord(0x0100, {0x57, 0x03, 0x55, 0x55}) +
                                                    "\r\n" + kEof + "\r\n");
    const Output o = RunInfo(path);
    EXPECT_EQ(o.rc, 0);
    // 1+2+3+4, 0xFC bytes of 0xFF, 0x57+0x03+0x55+0x55
    EXPECT_EQ(o.out, "end: 0103H\nchecksum: FC12H\noption-word: 0x55550357\n");
    EXPECT_EQ(o.err, "");
}

TEST(InfoCommand, NoOptionRecordNoOptionLine) {
    ScratchDir dir;
    const Output o = RunInfo(
        dir.Write("b.hex", DataRecord(0x1000, std::vector<uint8_t>(16)) + "\n" + kEof + "\n"));
    EXPECT_EQ(o.rc, 0);
    EXPECT_EQ(o.out, "end: 100FH\nchecksum: F000H\n");
}

TEST(InfoCommand, AZeroLengthRecordGivesTheProgrammersChecksum) {
    ScratchDir dir;
    std::vector<uint8_t> bytes(16);
    for (int i = 0; i < 16; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
    const Output o =
        RunInfo(dir.Write("z.hex", DataRecord(0, bytes) + "\n:00220000DE\n" + kEof + "\n"));
    EXPECT_EQ(o.rc, 0);
    EXPECT_EQ(o.out, "end: 000FH\nchecksum: 0078H\n");
}

TEST(InfoCommand, UnreadableFileExitsTwo) {
    ScratchDir dir;
    for (const std::string& path : {dir.Path("missing.hex"), dir.Path("")}) {
        const Output o = RunInfo(path);
        EXPECT_EQ(o.rc, 2);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err.rfind("qrv-writer-cli: info: ", 0), 0u) << o.err;
    }
}

}  // namespace
}  // namespace qrv
