// The production log (--log), the JSON output (--json) and --version, on the
// simulated and on a scripted programmer.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/atomic_file.h"
#include "common/production_log.h"
#include "image/production_export.h"
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
        logged[1].find(",QM-012-64HS,0006,blank+erase+program+verify,failed,,芯片与烧录型号不同,"),
        std::string::npos)
        << logged[1];
    EXPECT_NE(logged[2].find(",verify,failed,,芯片与烧录型号不同,"), std::string::npos)
        << logged[2];
}

using LogSession = test::SessionTest;

TEST_F(LogSession, ALogThatCannotBeWrittenIsReportedOnceAndRunsGoOn) {
    Connect();
    s.SetProductionLog(ProductionLog("/nonexistent-dir/log.csv"));
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
