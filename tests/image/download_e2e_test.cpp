// Downloads end to end: the session with its reader thread against the
// simulated programmer, and `qrv-writer-cli download FILE`.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "cli/cli.h"
#include "common/atomic_file.h"
#include "config/config_session.h"
#include "sim/sim_seam.h"
#include "tests/image/loader_fixture.h"
#include "tests/support/cli_run.h"
#include "tests/support/scripted.h"
#include "tests/support/temp_file.h"

namespace qrv::test {
namespace {

std::vector<std::string> Contiguous(int recordLength, int begin, int end) {
    std::vector<std::string> lines = {":020000040000FA"};
    for (int a = begin; a < end; a += recordLength)
        lines.push_back(DataRecord(a, Counting(std::min(recordLength, end - a), a * 3 + 1)));
    lines.push_back(":00000001FF");
    return lines;
}

std::vector<uint8_t> ConfigBlock() {
    std::vector<uint8_t> block = {0x00, 0x00, 0x7F, 0xFF, 0x85};
    for (char c : std::string("QM-017ABCDE")) block.push_back(static_cast<uint8_t>(c));
    block.insert(block.end(), {0x5A, 0x12, 0x03, 0x01, 0x0D});
    return block;
}

std::vector<std::string> Production() {
    const auto block = ConfigBlock();
    std::vector<std::string> lines = {":10000022414D4312", ":05000022415344330241420C",
                                      ":15000022515256" + HexBytes(block.data(), block.size())};
    const auto image = Contiguous(16, 0, 0x800);
    lines.insert(lines.end(), image.begin(), image.end());
    return lines;
}

// Waits until the simulated programmer has handled what it was sent and
// `holds` is true of it (the host does not wait for replies that never come).
template <typename Holds>
bool Eventually(sim::SimSeam& seam, Holds holds) {
    for (int i = 0; i < 5000; ++i) {
        if (seam.WithDevice([&](sim::SimProgrammer& d) { return holds(d); })) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::size_t AbortsReceived(const sim::SimProgrammer& d) {
    return static_cast<std::size_t>(
        std::count_if(d.Received().begin(), d.Received().end(),
                      [](const Report& r) { return r[3] == CMD_DOWNLOAD_ABORT; }));
}

sim::SimProgrammer Snapshot(sim::SimSeam& seam) {
    return seam.WithDevice([](sim::SimProgrammer& d) { return d; });
}

sim::SimOptions Quick(int resendEvery = 0) {
    sim::SimOptions o;
    o.latencyUs = 0;
    o.resendEvery = resendEvery;
    return o;
}

struct Simulated {
    explicit Simulated(sim::SimOptions options) : seam(options) {
        s.hooks.ShowOptionChooserAfterDownload = [this] { ++chooserShown; };
    }
    sim::SimSeam seam;
    ScriptedInteraction ui;
    InstantClock clock;
    MainSession s{seam, ui, clock};
    int chooserShown = 0;

    void Download(const std::string& path) {
        s.FormCreate();
        Pump(s);
        ui.openAnswers.push_back(path);
        ASSERT_EQ(s.BitBtn1Click(), ImportResult::Requested);
        Pump(s);
    }
    // A copy of the device's state, taken under its lock.
    sim::SimProgrammer Device() {
        return seam.WithDevice([](sim::SimProgrammer& d) { return d; });
    }

    void ExpectStored(const std::vector<std::string>& lines) {
        const Memory expected = ExpectedMemory(lines);
        const sim::SimProgrammer device = Device();
        for (std::size_t a = 0; a < 0x10000; ++a)
            ASSERT_EQ(device.Storage()[a], expected.written[a] ? expected.bytes[a] : 0xFF) << a;
        EXPECT_TRUE(device.ProtocolErrors().empty())
            << ::testing::PrintToString(device.ProtocolErrors());
        EXPECT_EQ(s.form.Edit3.text, H4(device.StoredChecksum()) + "H");
        EXPECT_TRUE(s.form.Edit1.visible);
        EXPECT_FALSE(s.form.ProgressBar5.visible);
    }
};

TEST(DownloadEndToEnd, PlainImageIsStoredAndTheChooserShown) {
    const auto lines = Contiguous(16, 0x0010, 0x4000);
    Simulated t(Quick());
    t.Download(WriteTempFile("e2e-plain.hex", lines));
    EXPECT_EQ(t.Device().CompletedDownloads(), 1);
    t.ExpectStored(lines);
    EXPECT_EQ(t.chooserShown, 1);
    // The status read after the download gives the stored length.
    EXPECT_EQ(t.s.StoredLength, 0x4000);
    EXPECT_EQ(t.s.form.ProgressBar5.position, t.s.form.ProgressBar5.max);
}

TEST(DownloadEndToEnd, RecordsOf255BytesUnderResendRequests) {
    const auto lines = Contiguous(255, 0, 0x10000);
    Simulated t(Quick(5));
    t.Download(WriteTempFile("e2e-255.hex", lines));
    EXPECT_GT(t.Device().ResendRequests(), 100);
    EXPECT_EQ(t.Device().CompletedDownloads(), 1);
    t.ExpectStored(lines);
}

TEST(DownloadEndToEnd, ShuffledRecordsWithGapsUnderResendRequests) {
    std::mt19937 random(5);
    std::vector<std::string> lines;
    for (int a = 0; a < 0x6000;) {
        const int length = static_cast<int>(random() % 256);  // records without data too
        std::vector<uint8_t> data(static_cast<std::size_t>(length));
        for (uint8_t& b : data) b = static_cast<uint8_t>(random());
        lines.push_back(DataRecord(a, data));
        a += length + static_cast<int>(random() % 70);
    }
    std::shuffle(lines.begin(), lines.end(), random);
    Simulated t(Quick(3));
    t.Download(WriteTempFile("e2e-shuffled.hex", lines));
    EXPECT_EQ(t.Device().CompletedDownloads(), 1);
    t.ExpectStored(lines);
}

TEST(DownloadEndToEnd, ProductionFileRecordsReachTheProgrammer) {
    const auto lines = Production();
    Simulated t(Quick(4));
    t.Download(WriteTempFile("e2e-production.hex", lines));
    t.ExpectStored(lines);
    ASSERT_TRUE(t.Device().Config().has_value());
    const auto block = ConfigBlock();
    EXPECT_TRUE(std::equal(block.begin(), block.end(), t.Device().Config()->block.begin()));
    ASSERT_TRUE(t.Device().UserCode().has_value());
    EXPECT_EQ(t.Device().UserCode()->size(), 5u);
    EXPECT_EQ(t.Device().FileKind(), 0x5A);
    EXPECT_EQ(t.chooserShown, 0);
    EXPECT_FALSE(t.s.form.Button3.enabled);
}

// The round trip: a production file exported by the configuration window,
// imported by the main window; the programmer stores its records and image,
// and the automatic run takes the file's steps.
TEST(DownloadEndToEnd, ExportedProductionFileIsStoredAndRuns) {
    const auto image = Contiguous(16, 0, 0x800);
    StreamInteraction quiet;
    ConfigSession config(quiet);
    config.FormCreate();
    config.ComboBox4Click(1);  // QM-002
    ASSERT_TRUE(config.OpenSourceFile(WriteTempFile("rt-source.hex", image), nullptr));
    for (Toggle* step : {&config.form.CheckBox6, &config.form.CheckBox7, &config.form.CheckBox8})
        step->Click();  // erase, "user option" (the main window's program box), verify
    config.form.CheckBox1.Click();
    config.Edit1Change("SN123");
    const std::string file = ::testing::TempDir() + "rt-production.hex";
    ASSERT_EQ(config.ExportProductionFileTo(file), ExportResult::Written);

    Simulated t(Quick(3));
    t.Download(file);
    t.ExpectStored(image);
    const auto block = config.settings.Block();
    ASSERT_TRUE(t.Device().Config());
    EXPECT_TRUE(std::equal(block.begin(), block.end(), t.Device().Config()->block.begin()));
    EXPECT_EQ(t.Device().UserCode(), (std::vector<uint8_t>{0x33, 2, 'S', 'N', 123}));
    EXPECT_EQ(t.chooserShown, 0);

    t.s.Button2Click();  // "自动编程", without the configuration window
    Pump(t.s);
    const sim::SimProgrammer device = t.Device();
    EXPECT_EQ(device.SuccessCount(), 1u);
    const Memory expected = ExpectedMemory(image);
    for (std::size_t a = 0; a < 0x800; ++a) ASSERT_EQ(device.Chip().flash[a], expected.bytes[a]);
    EXPECT_EQ(device.Chip().protection & kReadProtect, kReadProtect);
    EXPECT_TRUE(device.ProtocolErrors().empty());
}

TEST(DownloadEndToEnd, DownloadErrorIsShownAndAborted) {
    sim::SimOptions options = Quick();
    options.downloadErrorAt = 3;
    Simulated t(options);
    t.Download(WriteTempFile("e2e-error.hex", Contiguous(16, 0, 0x1000)));
    EXPECT_EQ(t.s.form.RichEdit1.lines, std::vector<std::string>{"下载文件出错，请重新下载文件!"});
    EXPECT_TRUE(Eventually(t.seam, [](const sim::SimProgrammer& d) {
        return !d.DownloadInProgress() && AbortsReceived(d) == 1;
    }));
    EXPECT_EQ(t.Device().CompletedDownloads(), 0);
    EXPECT_TRUE(t.Device().ProtocolErrors().empty());
}

// ---- qrv-writer-cli download FILE -------------------------------------------

using test::ToolRun;

ToolRun RunTool(const std::vector<std::string>& args, HidSeam& seam) {
    return test::RunTool(args, &seam);
}

TEST(CliDownload, PrintsTheStoredChecksumAndExitsZero) {
    sim::SimSeam seam(Quick(7));
    const auto lines = Contiguous(16, 0, 0x2000);
    const ToolRun r = RunTool({"download", WriteTempFile("cli-plain.hex", lines)}, seam);
    EXPECT_EQ(r.rc, 0) << r.err;
    const sim::SimProgrammer device = Snapshot(seam);
    EXPECT_EQ(r.out, "checksum: " + H4(device.StoredChecksum()) + "H\n");
    EXPECT_EQ(device.CompletedDownloads(), 1);
    EXPECT_TRUE(device.RecordedOf(CMD_SET_OPTION).empty());
    EXPECT_TRUE(device.ProtocolErrors().empty());
}

TEST(CliDownload, OptionWordIsSentAfterAPlainImage) {
    sim::SimSeam seam(Quick());
    const ToolRun r = RunTool({"--option-word", "0x2B200", "download",
                               WriteTempFile("cli-option.hex", Contiguous(16, 0, 0x100))},
                              seam);
    EXPECT_EQ(r.rc, 0) << r.err;
    ASSERT_TRUE(seam.Flush());
    const auto sent = Snapshot(seam).RecordedOf(CMD_SET_OPTION);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].argument, 0x2B200u);
}

TEST(CliDownload, OptionWordIsNotSentAfterAProductionFile) {
    sim::SimSeam seam(Quick());
    const ToolRun r = RunTool(
        {"--option-word=0x1", "download", WriteTempFile("cli-production.hex", Production())}, seam);
    EXPECT_EQ(r.rc, 0) << r.err;
    const sim::SimProgrammer device = Snapshot(seam);
    EXPECT_TRUE(device.RecordedOf(CMD_SET_OPTION).empty());
    EXPECT_EQ(device.FileKind(), 0x5A);
}

TEST(CliDownload, BadOptionWordIsBadUsage) {
    sim::SimSeam seam(Quick());
    for (const char* bad : {"0x", "0x123456789", "12ab", "", "4294967296"})
        EXPECT_EQ(RunTool({"--option-word", bad, "download", "x.hex"}, seam).rc, 2) << bad;
}

TEST(CliDownload, UnreadableFileExitsTwo) {
    sim::SimSeam seam(Quick());
    const ToolRun r = RunTool({"download", ::testing::TempDir() + "missing.hex"}, seam);
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("missing.hex"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
}

TEST(CliDownload, RefusedAndMalformedFilesAreBadInputAndReachNothing) {
    sim::SimSeam seam(Quick());
    auto refused = Production();
    refused.erase(refused.begin());  // no marker record: the configuration is refused
    const std::size_t before = Snapshot(seam).Received().size();
    ToolRun r = RunTool({"download", WriteTempFile("cli-refused.hex", refused)}, seam);
    // The whole-file check knows the header order: bad input, refused before
    // the programmer is connected.
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("line 1"), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(seam).Received().size(), before);
    EXPECT_EQ(AbortsReceived(Snapshot(seam)), 0u);

    // A malformed file is bad input, refused before the programmer is even
    // connected: it hears nothing of it.
    auto cut = Contiguous(16, 0, 0x400);
    cut[10].resize(15);
    const std::size_t heard = Snapshot(seam).Received().size();
    r = RunTool({"download", WriteTempFile("cli-cut.hex", cut)}, seam);
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("文件格式出错!"), std::string::npos);
    EXPECT_NE(r.err.find("line 11: "), std::string::npos) << r.err;
    const sim::SimProgrammer device = Snapshot(seam);
    EXPECT_EQ(device.Received().size(), heard);
    EXPECT_TRUE(device.ProtocolErrors().empty());
}

TEST(CliDownload, HostileFilesAreRefusedAndChangeNothing) {
    const std::string dir = ::testing::TempDir();
    const std::string fifo = dir + "hostile.fifo";
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = dir + "hostile-big.hex";
    {
        std::ofstream out(big, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(kMaxInputFileSize));
        out.put('\n');
    }
    auto badSum = Contiguous(16, 0, 0x100);
    badSum[3].back() = badSum[3].back() == '0' ? '1' : '0';
    struct Case {
        std::string name;
        std::string path;
        int rc;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"device", "/dev/zero", 2, "not a regular file"},
        {"fifo", fifo, 2, "not a regular file"},
        {"directory", dir, 2, "directory"},
        {"larger than 16 MiB", big, 2, "larger than 16 MiB"},
        {"no data", WriteTempFile("hostile-nodata.hex", {":020000040000FA", ":00000001FF"}), 2,
         "no data record"},
        {"past 64 KiB", WriteTempFile("hostile-past.hex", {DataRecord(0xFFF8, Counting(16))}), 2,
         "line 1: data up to FFF8H"},
        {"extended address",
         WriteTempFile("hostile-ext.hex", {":020000040001F9", DataRecord(0, Counting(16))}), 2,
         "line 1: extended linear address 0001H"},
        {"not a record", WriteTempFile("hostile-text.hex", {DataRecord(0, Counting(16)), "hello"}),
         2, "line 2: not a record"},
        {"bad checksum", WriteTempFile("hostile-sum.hex", badSum), 2, "line 4: record checksum"},
    };
    for (const Case& c : cases) {
        sim::SimSeam seam(Quick());
        const ToolRun r = RunTool({"--timeout", "2", "download", c.path}, seam);
        EXPECT_EQ(r.rc, c.rc) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << ": " << r.err;
        const sim::SimProgrammer device = Snapshot(seam);
        // Checked before connecting: the programmer hears nothing at all.
        EXPECT_TRUE(device.Received().empty()) << c.name;
    }
    // With --ignore-checksums a file whose only fault is its checksums downloads.
    sim::SimSeam seam(Quick());
    const ToolRun r = RunTool({"--ignore-checksums", "download", cases.back().path}, seam);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Snapshot(seam).CompletedDownloads(), 1);
    std::remove(fifo.c_str());
    std::remove(big.c_str());
}

// Production files whose header records the programmer would refuse are
// refused whole, by `info` and by `download`, before anything is sent.
TEST(CliDownload, HeaderRecordsOutOfOrderAreRefusedBeforeAnythingIsSent) {
    const auto block = ConfigBlock();
    const std::string marker = ":10000022414D4312";
    const std::string userCode = ":05000022415344330241420C";
    const std::string config = ":15000022515256" + HexBytes(block.data(), block.size());
    const std::string data = DataRecord(0, Counting(16));
    struct Case {
        std::string name;
        std::vector<std::string> lines;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"configuration twice", {marker, config, config, data}, "line 3: a second configuration"},
        {"user code after configuration",
         {marker, config, userCode, data},
         "line 3: user code record after the configuration record"},
        {"no marker", {userCode, config, data}, "line 1: user code record, but the first line"},
        {"marker after user code",
         {userCode, marker, config, data},
         "line 1: user code record, but the first line"},
        {"marker, configuration, marker, configuration",
         {marker, config, marker, config, data},
         "line 4: a second configuration record"},
    };
    for (const Case& c : cases) {
        const std::string path = WriteTempFile("order.hex", c.lines);
        const ToolRun info = test::RunTool({"info", path});
        EXPECT_NE(info.rc, 0) << c.name;
        EXPECT_NE(info.err.find(c.says), std::string::npos) << c.name << ": " << info.err;

        sim::SimSeam seam(Quick());
        const ToolRun r = RunTool({"--timeout", "2", "download", path}, seam);
        EXPECT_EQ(r.rc, 2) << c.name;  // bad input, found before connecting
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << ": " << r.err;
        const sim::SimProgrammer device = Snapshot(seam);
        EXPECT_TRUE(device.Received().empty()) << c.name;
        EXPECT_FALSE(device.Config().has_value()) << c.name;
    }

    // A blank line before the marker record is skipped like any blank line.
    auto lines = Production();
    lines.insert(lines.begin(), "");
    const std::string path = WriteTempFile("order-blank.hex", lines);
    EXPECT_EQ(test::RunTool({"info", path}).rc, 0);
    sim::SimSeam seam(Quick());
    const ToolRun r = RunTool({"download", path}, seam);
    EXPECT_EQ(r.rc, 0) << r.err;
    const sim::SimProgrammer device = Snapshot(seam);
    EXPECT_EQ(device.CompletedDownloads(), 1);
    ASSERT_TRUE(device.Config().has_value());
    EXPECT_TRUE(std::equal(block.begin(), block.end(), device.Config()->block.begin()));
    ASSERT_TRUE(device.UserCode().has_value());
    const Memory expected = ExpectedMemory(lines);
    for (std::size_t a = 0; a < 0x800; ++a) ASSERT_EQ(device.Storage()[a], expected.bytes[a]) << a;
}

TEST(CliDownload, LinesEndedByCrAloneAreLines) {
    const auto lines = Contiguous(16, 0, 0x100);
    std::string text;
    for (const std::string& line : lines) text += line + "\r";
    const std::string path = ::testing::TempDir() + "cr-only.hex";
    std::ofstream(path, std::ios::binary) << text;
    sim::SimSeam seam(Quick());
    EXPECT_EQ(RunTool({"download", path}, seam).rc, 0);
    const Memory expected = ExpectedMemory(lines);
    const sim::SimProgrammer device = Snapshot(seam);
    for (std::size_t a = 0; a < 0x100; ++a) ASSERT_EQ(device.Storage()[a], expected.bytes[a]) << a;
}

TEST(CliDownload, ProgrammerErrorExitsOne) {
    sim::SimOptions options = Quick();
    options.downloadErrorAt = 2;
    sim::SimSeam seam(options);
    const ToolRun r =
        RunTool({"download", WriteTempFile("cli-error.hex", Contiguous(16, 0, 0x400))}, seam);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("下载文件出错，请重新下载文件!"), std::string::npos);
}

TEST(CliDownload, TraceShowsEveryReport) {
    sim::SimSeam seam(Quick());
    const ToolRun r = RunTool(
        {"--trace", "download", WriteTempFile("cli-trace.hex", Contiguous(16, 0, 0x80))}, seam);
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.err.find("> 003A047F"), std::string::npos);
    EXPECT_NE(r.err.find("> 003A3B20"), std::string::npos);  // a full block
    EXPECT_NE(r.err.find("< 003B0026"), std::string::npos);
}

TEST(CliDownload, ProgrammingAfterADownloadInOneCallProgramsTheImage) {
    // Each command sends the steps it would send alone, though the import
    // unticked the step boxes; resend requests repeat the cleared reports.
    const auto lines = Contiguous(16, 0, 0x800);
    const std::string file = WriteTempFile("cli-download-program.hex", lines);
    const Memory expected = ExpectedMemory(lines);
    const std::vector<std::vector<std::string>> calls = {
        {"download", file, "auto"},
        {"--steps", "erase,program", "download", file, "auto"},
        {"download", file, "erase", "program", "verify"},
    };
    for (const auto& call : calls) {
        sim::SimSeam seam(Quick(3));
        const ToolRun r = RunTool(call, seam);
        EXPECT_EQ(r.rc, 0) << r.err;
        const sim::SimProgrammer device = Snapshot(seam);
        for (std::size_t a = 0; a < 0x800; ++a)
            ASSERT_EQ(device.Chip().flash[a], expected.bytes[a]) << call.back() << " at " << a;
        EXPECT_GT(device.ResendRequests(), 0);
        EXPECT_TRUE(device.ProtocolErrors().empty())
            << ::testing::PrintToString(device.ProtocolErrors());
    }
}

TEST(CliDownload, UnpluggingDuringADownloadEndsItWithExitThree) {
    sim::SimOptions options = Quick();
    options.latencyUs = 2000;
    sim::SimSeam seam(options);
    std::thread unplug([&seam] {
        Eventually(seam, [](const sim::SimProgrammer& d) { return d.DownloadInProgress(); });
        seam.Unplug();
    });
    const ToolRun r =
        RunTool({"download", WriteTempFile("cli-unplug.hex", Contiguous(16, 0, 0x4000))}, seam);
    unplug.join();
    EXPECT_EQ(r.rc, 3);
    EXPECT_NE(r.err.find(kDownloadInterrupted), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(seam).CompletedDownloads(), 0);
}

}  // namespace
}  // namespace qrv::test
