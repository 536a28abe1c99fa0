// The production log (--log), the JSON output (--json) and --version, on the
// simulated and on a scripted programmer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "common/atomic_file.h"
#include "common/production_log.h"
#include "image/production_export.h"
#include "sim/sim_seam.h"
#include "tests/mainwin/session_fixture.h"
#include "tests/support/cli_run.h"

namespace qrv {
namespace {

using test::RunTool;

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string TempPath(const std::string& name) {
    const std::string path = ::testing::TempDir() + name;
    std::remove(path.c_str());
    return path;
}

TEST(CsvLine, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(CsvLine({"plain", "a,b", "say \"hi\"", "two\nlines", ""}),
              "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\r\n");
}

TEST(ProductionLogFile, TenRunsLeaveAHeaderAndTenLines) {
    const std::string log = TempPath("runs.csv");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(RunTool({"--simulate=latency-us=0", "--log", log, "auto"}).rc, 0);
        EXPECT_EQ(RunTool({"--simulate=latency-us=0,fail=verify", "--log", log, "auto"}).rc, 1);
    }
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0],
              "time,programmer,model,checksum,steps,outcome,failed step,message,passed,failed,"
              "option,protect\r");
    int passed = 0, failed = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        passed += lines[i].find(",erase+program+verify,passed,,,") != std::string::npos;
        failed += lines[i].find(",erase+program+verify,failed,verify,,") != std::string::npos;
        EXPECT_NE(lines[i].find(",sim:qrv-programmer,"), std::string::npos) << lines[i];
    }
    EXPECT_EQ(passed, 5);
    EXPECT_EQ(failed, 5);
}

TEST(ProductionLogFile, ARunWithoutResultIsLoggedWithTheReason) {
    test::FakeSeam seam;
    test::FakeDevice& dev = seam.Add(test::FakeInterface{"/dev/hidraw7"});
    dev.Push([] {
        Report r = test::MakeReply(RPL_STATUS, {{26, 0xFF}, {61, 'A'}, {63, '3'}, {64, '6'}});
        return std::vector<uint8_t>(r.begin(), r.end());
    }());
    const std::string log = TempPath("silent.csv");
    EXPECT_EQ(RunTool({"--log", log, "--timeout", "0.2", "erase"}, &seam).rc, 3);
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(",erase,no result,,the programmer did not answer for 0.2 s,"),
              std::string::npos)
        << lines[1];
}

TEST(ProductionLogFile, WrongChipRunsAndStepsAreLogged) {
    std::array<uint8_t, kConfigBlockSize> block{};
    block[3] = 0x0F;
    const std::string model = "QM-012-64HS";
    std::copy(model.begin(), model.end(), block.begin() + 5);
    block[16] = 0x5A;
    block[20] = 0x0D;  // blank, erase, verify
    const uint8_t data[16] = {1, 2, 3};
    const auto lines = ProductionFileLines(1, UserCode{}, block,
                                           {IntelHexDataRecord(0, data, 16), kIntelHexEndOfFile});
    const std::string file = ::testing::TempDir() + "wrong-model.hex";
    ASSERT_TRUE(WriteFileAtomically(file, JoinCrLf(*lines), nullptr));
    const std::string log = TempPath("wm.csv");
    for (const char* command : {"auto", "verify"})
        EXPECT_EQ(RunTool({"--simulate=wrong-model,latency-us=0", "--log", log, "download", file,
                           command})
                      .rc,
                  1);
    const auto logged = Lines(log);
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_NE(
        logged[1].find(",QM-012-64HS,0006H,blank+erase+program+verify,failed,,芯片与烧录型号不同,"),
        std::string::npos)
        << logged[1];
    EXPECT_NE(logged[2].find(",verify,failed,,芯片与烧录型号不同,"), std::string::npos)
        << logged[2];
}

// A plain image of 16 bytes, for downloads.
std::string SmallImage() {
    const uint8_t data[16] = {1, 2, 3};
    const std::string file = ::testing::TempDir() + "small-image.hex";
    EXPECT_TRUE(WriteFileAtomically(
        file, JoinCrLf({IntelHexDataRecord(0, data, 16), kIntelHexEndOfFile}), nullptr));
    return file;
}

// A log that cannot be opened is bad usage, found before anything reaches the
// programmer: nothing is sent, nothing stored, no chip counted.
TEST(ProductionLogFile, ALogThatCannotBeOpenedStopsTheCallBeforeAnythingIsSent) {
    const std::string fifo = TempPath("fifo-log.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& log : {std::string("/nonexistent-dir/log.csv"), fifo}) {
        SCOPED_TRACE(log);
        sim::SimSeam seam(sim::SimOptions{.latencyUs = 0});
        const auto r = RunTool({"--log", log, "--json", "download", SmallImage(), "auto"}, &seam);
        EXPECT_EQ(r.rc, 2);
        EXPECT_NE(r.err.find("cannot open the production log " + log), std::string::npos) << r.err;
        EXPECT_EQ(nlohmann::json::parse(r.out)["class"], "usage");
        seam.WithDevice([](sim::SimProgrammer& d) {
            EXPECT_TRUE(d.Received().empty());
            EXPECT_EQ(d.SuccessCount() + d.FailureCount(), 0u);
        });
    }
}

// A line that cannot be written later does not stop the line: the run is
// done and counted, and the call ends with 4 once it is over.
TEST(ProductionLogFile, ALineThatCannotBeWrittenEndsTheCallWithFour) {
    // A log of earlier lines that has reached the file size limit; the tool's
    // own output stays far below it.
    const std::string log = TempPath("limited.csv");
    std::string earlier = CsvLine({"time", "programmer"});
    while (earlier.size() < 8000) earlier += CsvLine({"2026-12-09T13:30:00+00:00", "earlier"});
    ASSERT_TRUE(WriteFileAtomically(log, earlier, nullptr));
    sim::SimSeam seam(sim::SimOptions{.latencyUs = 0});
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = earlier.size() + 20;  // less than a line
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto r = RunTool({"--log", log, "--json", "auto", "status"}, &seam);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(r.rc, 4) << r.err;
    EXPECT_NE(r.err.find("cannot write the production log " + log), std::string::npos) << r.err;
    // Both commands ran.
    EXPECT_NE(r.out.find("\"command\":\"status\""), std::string::npos) << r.out;
    std::istringstream lines(r.out);
    std::string last;
    for (std::string line; std::getline(lines, line);) last = line;
    const auto error = nlohmann::json::parse(last);
    EXPECT_EQ(error["exit"], 4);
    EXPECT_EQ(error["class"], "output");
    seam.WithDevice([](sim::SimProgrammer& d) { EXPECT_EQ(d.SuccessCount(), 1u); });
    std::ifstream in(log, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), earlier);
}

// Results that stdout does not take fail the call, as a log line does.
TEST(CliOutput, AStdoutThatFailsEndsTheCallWithFour) {
    const std::vector<std::vector<std::string>> calls = {
        {"download", SmallImage()}, {"--json", "status"}, {"--version"}};
    for (const auto& args : calls) {
        SCOPED_TRACE(args.front());
        sim::SimSeam seam(sim::SimOptions{.latencyUs = 0});
        FILE* full = std::fopen("/dev/full", "w");
        ASSERT_NE(full, nullptr);
        FILE* err = std::tmpfile();
        const int rc = cli::RunCli(args, full, err, &seam);
        std::fclose(full);
        const std::string message = test::ReadAll(err);
        EXPECT_EQ(rc, 4);
        EXPECT_NE(message.find("cannot write the results to stdout"), std::string::npos) << message;
    }
    // The download itself was done.
    sim::SimSeam seam(sim::SimOptions{.latencyUs = 0});
    FILE* full = std::fopen("/dev/full", "w");
    FILE* err = std::tmpfile();
    EXPECT_EQ(cli::RunCli({"download", SmallImage()}, full, err, &seam), 4);
    std::fclose(full);
    std::fclose(err);
    seam.WithDevice([](sim::SimProgrammer& d) { EXPECT_EQ(d.StoredChecksum(), 6); });
}

// Ctrl-C or SIGTERM during a run: the run is logged without a result, the
// JSON error line follows, and the tool exits 130.
TEST(CliInterrupt, AnInterruptedRunIsLoggedAndExits130) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string log = TempPath("interrupted.csv");
        const std::string out = TempPath("interrupted.out");
        const std::string err = TempPath("interrupted.err");
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        std::vector<std::string> args = {
            QRV_CLI_BINARY, "--simulate=latency-us=100000", "--trace", "--log", log, "--json",
            "auto"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, QRV_CLI_BINARY, &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        // The run is under way once the second report (after the status
        // request) has been sent.
        for (int i = 0; i < 500; ++i) {
            int sent = 0;
            for (const std::string& line : Lines(err)) sent += line.rfind("> ", 0) == 0;
            if (sent >= 2) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ::kill(pid, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 130);
        const auto logged = Lines(log);
        ASSERT_EQ(logged.size(), 2u);
        EXPECT_NE(logged[1].find(",erase+program+verify,no result,,interrupted,"),
                  std::string::npos)
            << logged[1];
        const auto printed = Lines(out);
        ASSERT_FALSE(printed.empty());
        const auto error = nlohmann::json::parse(printed.back());
        EXPECT_EQ(error["command"], "auto");
        EXPECT_EQ(error["error"], "interrupted");
        EXPECT_EQ(error["exit"], 130);
        EXPECT_EQ(error["class"], "interrupted");
    }
}

// A spreadsheet keeps every value of the log as it stands: checksums that
// look like numbers ("1E10", "0123") are written so that they stay text. The
// log is read with Gnumeric's ssconvert, where the machine has it.
TEST(ProductionLogFile, ASpreadsheetKeepsTheValues) {
    if (std::system("command -v ssconvert >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ssconvert (Gnumeric) is not installed";
    const std::string log = TempPath("sheet.csv");
    // Images whose checksums are 1E10H and 0123H.
    std::vector<uint8_t> ff(16, 0xFF);
    std::vector<uint8_t> rest(ff);
    rest[14] = 0x2E;
    rest[15] = 0x00;
    const std::vector<std::vector<std::string>> images = {
        {IntelHexDataRecord(0, ff.data(), 16), IntelHexDataRecord(16, rest.data(), 16),
         kIntelHexEndOfFile},
        {IntelHexDataRecord(0, std::vector<uint8_t>{0xFF, 0x24}.data(), 2), kIntelHexEndOfFile}};
    for (const auto& image : images) {
        const std::string file = ::testing::TempDir() + "sheet.hex";
        ASSERT_TRUE(WriteFileAtomically(file, JoinCrLf(image), nullptr));
        ASSERT_EQ(RunTool({"--simulate=latency-us=0", "--log", log, "--option-word", "0",
                           "download", file, "auto"})
                      .rc,
                  0);
    }
    auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find(",1E10H,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(",0123H,"), std::string::npos) << lines[2];
    const std::string converted = TempPath("sheet-converted.csv");
    ASSERT_EQ(std::system(("ssconvert --import-type=Gnumeric_stf:stf_csvtab '" + log + "' '" +
                           converted + "' >/dev/null 2>&1")
                              .c_str()),
              0);
    // No field here holds a comma or a quote: the export quotes only fields
    // with a space, and its quotes are left out of the comparison.
    auto read = Lines(converted);
    ASSERT_EQ(read.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].empty() && lines[i].back() == '\r') lines[i].pop_back();
        std::erase(read[i], '"');
        EXPECT_EQ(read[i], lines[i]);
    }
}

// read-chip and read-cache replace a read-only file only with --force.
TEST(CliOutput, AReadOnlyFileIsReplacedOnlyWithForce) {
    const std::string file = TempPath("read-only-chip.hex");
    ASSERT_TRUE(WriteFileAtomically(file, "before\r\n", nullptr));
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    const auto refused = RunTool({"--simulate=latency-us=0", "read-chip", file});
    EXPECT_EQ(refused.rc, 2);
    EXPECT_NE(refused.err.find("it is read-only (--force replaces it)"), std::string::npos)
        << refused.err;
    std::string text;
    ASSERT_TRUE(ReadWholeFile(file, &text, nullptr));
    EXPECT_EQ(text, "before\r\n");
    const auto forced = RunTool({"--simulate=latency-us=0", "--force", "read-chip", file});
    EXPECT_EQ(forced.rc, 0) << forced.err;
    ASSERT_TRUE(ReadWholeFile(file, &text, nullptr));
    EXPECT_EQ(text.rfind(":10000000FFFFFFFF", 0), 0u) << text.substr(0, 60);
    std::remove(file.c_str());
}

// merge (and export) replace a read-only output only with --force.
TEST(CliOutput, AReadOnlyMergeOutputIsReplacedOnlyWithForce) {
    const std::string output = TempPath("read-only-merge.bin");
    ASSERT_TRUE(WriteFileAtomically(output, "before", nullptr));
    ASSERT_EQ(::chmod(output.c_str(), 0444), 0);
    const std::string input = SmallImage();
    const auto refused = RunTool({"merge", input, "-o", output});
    EXPECT_NE(refused.rc, 0);
    EXPECT_NE(refused.err.find("it is read-only"), std::string::npos) << refused.err;
    std::string text;
    ASSERT_TRUE(ReadWholeFile(output, &text, nullptr));
    EXPECT_EQ(text, "before");
    const auto forced = RunTool({"--force", "merge", input, "-o", output});
    EXPECT_EQ(forced.rc, 0) << forced.err;
    ASSERT_TRUE(ReadWholeFile(output, &text, nullptr));
    EXPECT_EQ(text.substr(0, 3), std::string("\x01\x02\x03"));
    std::remove(output.c_str());
}

using LogSession = test::SessionTest;

TEST_F(LogSession, ALogThatCannotBeWrittenIsReportedOnceAndRunsGoOn) {
    Connect();
    s.SetProductionLog(ProductionLog("/nonexistent-dir/log.csv"));
    // Said at start-up, and not again at each run.
    s.CheckProductionLog();
    EXPECT_EQ(ui.messages.size(), 1u);
    s.form.CheckBox3.Click();
    for (int i = 0; i < 2; ++i) {
        s.Button2Click();
        Reply(test::MakeReply(RPL_AUTO_RESULT, {{8, 1}}));
        s.RunTimerExpired();  // no option results follow
    }
    EXPECT_EQ(Written().size(), 2u);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("/nonexistent-dir/log.csv"), std::string::npos);
}

TEST(JsonOutput, EveryLineIsAnObjectAndErrorsCarryTheirClass) {
    const auto ok = RunTool({"--simulate=latency-us=0", "--json", "status", "auto"});
    EXPECT_EQ(ok.rc, 0);
    std::istringstream lines(ok.out);
    std::vector<nlohmann::json> objects;
    for (std::string line; std::getline(lines, line);)
        objects.push_back(nlohmann::json::parse(line));
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects.front()["command"], "status");
    EXPECT_EQ(objects.back()["result"], "passed");
    EXPECT_EQ(objects.back()["passed"], 1);

    const auto bad = RunTool({"--simulate=no-chip,latency-us=0", "--json", "auto"});
    EXPECT_EQ(bad.rc, 1);
    const auto error = nlohmann::json::parse(bad.out);
    EXPECT_EQ(error["class"], "failure");
    EXPECT_EQ(error["exit"], 1);
    EXPECT_EQ(error["error"], kNoChip);
}

TEST(Version, NamesTheProgramAndTheFirmware) {
    const auto r = RunTool({"--version"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, std::string("qrv-writer-cli ") + kProgramVersion +
                         "\nexpects programmer firmware 3.6\n");
}

}  // namespace
}  // namespace qrv
