// qrv-writer-cli: arguments, output formats and exit codes, on a scripted
// programmer and on the simulated one.
#include "cli/cli.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "common/atomic_file.h"
#include "common/hex.h"
#include "sim/sim_seam.h"
#include "tests/mainwin/session_fixture.h"
#include "tests/support/cli_run.h"

namespace qrv {
namespace {

using test::MakeReply;

using test::RunTool;
using test::ToolRun;

std::vector<uint8_t> Bytes(const Report& r) {
    return {r.begin(), r.end()};
}

Report CurrentStatus() {
    return MakeReply(RPL_STATUS, {{7, 0x10},
                                  {8, 0x00},
                                  {9, 0xBE},
                                  {10, 0xEF},
                                  {12, 0x07},
                                  {21, 12},
                                  {25, 3},
                                  {26, 0xFF},
                                  {61, 'A'},
                                  {63, '3'},
                                  {64, '6'}});
}

Report Outcome(uint8_t code, int status, unsigned count = 0) {
    return MakeReply(code, {{6, status}, {7, int(count >> 8)}, {8, int(count & 0xFF)}});
}

// A programmer that answers from a script, whatever it is sent.
struct Scripted : ::testing::Test {
    test::FakeSeam seam;
    test::FakeDevice& dev = seam.Add(test::FakeInterface{"/dev/hidraw7"});
    void Script(std::initializer_list<Report> replies) {
        for (const Report& r : replies) dev.Push(Bytes(r));
    }
    std::vector<uint8_t> SentCodes() {
        std::vector<uint8_t> codes;
        for (const Report& r : dev.Written()) codes.push_back(r[3]);
        return codes;
    }
};

TEST(CliArguments, BadUsageExitsTwoWithAReason) {
    EXPECT_EQ(RunTool({}).rc, 2);
    ToolRun r = RunTool({"--simulate", "frobnicate"});
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("unknown command 'frobnicate'"), std::string::npos);
    for (auto bad : {"0", "-1", "x", "", "1e9"}) {
        ToolRun t = RunTool({"--simulate", "--timeout", bad, "status"});
        EXPECT_EQ(t.rc, 2) << bad;
        EXPECT_NE(t.err.find("--timeout"), std::string::npos) << bad;
    }
    EXPECT_EQ(RunTool({"--simulate", "status", "--timeout"}).rc, 2);
    EXPECT_EQ(RunTool({"--device"}).rc, 2);
    EXPECT_EQ(RunTool({"--simulate=no-such-option", "status"}).rc, 2);
}

TEST(CliArguments, HelpListsEveryCommand) {
    ToolRun r = RunTool({"--help"});
    EXPECT_EQ(r.rc, 0);
    for (const cli::Command& c : cli::Commands())
        EXPECT_NE(r.out.find(std::string("  ") + c.name), std::string::npos) << c.name;
}

TEST(CliArguments, OptionsTakeTheirValueEitherWay) {
    auto o = cli::ParseArguments({"--timeout=2.5", "--device", "/dev/hidraw3", "auto", "status"},
                                 stdout, stderr);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->timeout.count(), 2500);
    EXPECT_EQ(*o->device, "/dev/hidraw3");
    ASSERT_EQ(o->commands.size(), 2u);
    EXPECT_EQ(o->commands[0].name, "auto");
    EXPECT_EQ(o->commands[1].name, "status");
}

TEST(CliSimulated, TraceShowsTheStatusFrameAndTheStatusLines) {
    ToolRun r = RunTool({"--simulate=latency-us=0", "--trace", "status"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out,
              "caption:  QRV MCU Writer V3.6\nmodel: \nchecksum: 0000H\npassed: 0\nfailed: 0\n");
    const std::string frame =
        "> 003A063500000000000000003B" + std::string(2 * (kReportSize - 13), '0') + "\n";
    EXPECT_EQ(r.err.substr(0, frame.size()), frame);
    // One line per report: the command and the status reply.
    const auto second = r.err.find('\n') + 1;
    EXPECT_EQ(r.err.substr(second, 4), "< 00");
    EXPECT_EQ(r.err.size(), 2 * (2 + 130 + 1));
}

TEST(CliSimulated, ListShowsTheProgrammerAndDevicePicksIt) {
    ToolRun list = RunTool({"--simulate", "list"});
    EXPECT_EQ(list.rc, 0);
    EXPECT_EQ(list.out, "0 sim:qrv-programmer 0483:5750\n");
    EXPECT_EQ(RunTool({"--simulate=latency-us=0", "--device", "sim:qrv-programmer", "status"}).rc,
              0);
    ToolRun other = RunTool({"--simulate", "--device", "/dev/hidraw9", "status"});
    EXPECT_EQ(other.rc, 3);
    EXPECT_NE(other.err.find("no programmer at /dev/hidraw9"), std::string::npos);
}

TEST(CliSimulated, AutoPassesWithTheDefaultSteps) {
    ToolRun r = RunTool({"--simulate=latency-us=0", "auto"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out,
              "erase: passed\nprogram: passed\nverify: passed\nresult: 编程成功 (passed: 1)\n");
}

TEST(CliSimulated, AFailingVerifyExitsOneWithTheFailure) {
    ToolRun r = RunTool({"--simulate=fail=verify,latency-us=0", "auto"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out,
              "erase: passed\nprogram: passed\nverify: failed\nresult: 编程失败 (failed: 1)\n");
}

TEST(CliSimulated, NoChipExitsOneWithTheMessage) {
    ToolRun r = RunTool({"--simulate=no-chip,latency-us=0", "auto"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.err, "qrv-writer-cli: 没有检测到芯片，请放入芯片!\n");
}

TEST(CliSimulated, StepsChooseTheRunAndCountersCarryOver) {
    ToolRun r =
        RunTool({"--simulate=latency-us=0", "--steps", "blank,program", "auto", "auto", "status"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out,
              "blank: passed\nprogram: passed\nresult: 编程成功 (passed: 1)\n"
              "blank: passed\nprogram: passed\nresult: 编程成功 (passed: 2)\n"
              "caption:  QRV MCU Writer V3.6\nmodel: \nchecksum: 0000H\npassed: 2\nfailed: 0\n");
}

TEST(CliSimulated, ASingleFailingStepExitsOne) {
    ToolRun r = RunTool({"--simulate=fail=erase,latency-us=0", "erase", "program"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "erase: failed\n");
}

TEST(CliArguments, CommandsKeepTheirOrderRepeatsAndArguments) {
    auto o = cli::ParseArguments(
        {"download", "a.hex", "status", "download", "b.hex", "status", "--trace"}, stdout, stderr);
    ASSERT_TRUE(o);
    std::vector<std::string> seen;
    for (const cli::Invocation& c : o->commands) seen.push_back(c.name + ":" + c.argument);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"download:a.hex", "status:", "download:b.hex", "status:"}));
    EXPECT_TRUE(o->trace);  // an option of the whole call after the commands
}

TEST_F(Scripted, ABadArgumentAtTheEndSendsNothing) {
    Script({CurrentStatus()});
    ToolRun r = RunTool({"auto", "program", "--steps", "flash"}, &seam);
    EXPECT_EQ(r.rc, 2);
    EXPECT_TRUE(dev.Written().empty());
    EXPECT_EQ(RunTool({"auto", "download"}, &seam).rc, 2);
    EXPECT_TRUE(dev.Written().empty());
}

TEST(CliArguments, StepsTakeTheStepNames) {
    auto o = cli::ParseArguments({"--steps=verify,erase", "auto"}, stdout, stderr);
    ASSERT_TRUE(o);
    EXPECT_EQ(*o->steps, kStepFlagVerify | kStepFlagErase);
    for (auto bad : {"", "verify,", "Verify", "program,flash"})
        EXPECT_EQ(RunTool({"--simulate", "--steps", bad, "auto"}).rc, 2) << bad;
}

TEST(CliNoProgrammer, NothingAttachedExitsThree) {
    test::FakeSeam empty;
    ToolRun r = RunTool({"status"}, &empty);
    EXPECT_EQ(r.rc, 3);
    EXPECT_NE(r.err.find("no programmer found"), std::string::npos);
    EXPECT_EQ(RunTool({"list"}, &empty).rc, 3);
}

TEST_F(Scripted, ListSkipsOtherDevices) {
    seam.Add(test::FakeInterface{"/dev/hidraw8", 0x046D, 0xC077});
    seam.Add(test::FakeInterface{"/dev/hidraw9"});
    ToolRun r = RunTool({"list"}, &seam);
    EXPECT_EQ(r.out, "0 /dev/hidraw7 0483:5750\n1 /dev/hidraw9 0483:5750\n");
}

TEST_F(Scripted, NoAnswerWithinTheTimeoutExitsThree) {
    ToolRun r = RunTool({"--timeout", "0.2", "status"}, &seam);
    EXPECT_EQ(r.rc, 3);
    EXPECT_NE(r.err.find("did not answer for 0.2 s"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
}

TEST_F(Scripted, SeveralCommandsRunInOrderOnOneConnection) {
    Script({CurrentStatus(), Outcome(RPL_ERASE, 0, 0x800), Outcome(RPL_ERASE, 1),
            Outcome(RPL_BLANK_CHECK, 1), Outcome(RPL_ERASE, 1), Outcome(RPL_PROGRAM, 0, 0x400),
            Outcome(RPL_PROGRAM, 1), Outcome(RPL_VERIFY, 1),
            MakeReply(RPL_AUTO_RESULT, {{6, 0}, {7, 0}, {8, 13}}),
            MakeReply(RPL_CHECKSUM, {{7, 0x12}, {8, 0xAB}})});
    ToolRun r = RunTool({"erase", "auto", "checksum"}, &seam);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out,
              "erase: passed\n"
              "blank: passed\nerase: passed\nprogram: passed\nverify: passed\n"
              "result: 编程成功 (passed: 13)\n"
              "checksum: 12AB H\n");
    EXPECT_EQ(SentCodes(),
              (std::vector<uint8_t>{CMD_STATUS, CMD_ERASE, CMD_AUTO_PROGRAM, CMD_READ_CHECKSUM}));
    // The run carries the steps the status selected, and the end address.
    const Report run = dev.Written()[2];
    EXPECT_EQ(run[8], 0x17);
    EXPECT_EQ(run[6], 0x10);
}

TEST_F(Scripted, ByDefaultEraseAndVerifyJoinTheStepsOfThePlainImage) {
    Report status = CurrentStatus();
    status[12] = 0x01;
    Script({status, MakeReply(RPL_AUTO_RESULT)});
    EXPECT_EQ(RunTool({"auto"}, &seam).rc, 0);
    EXPECT_EQ(dev.Written()[1][8],
              kStepFlagBlankCheck | kStepFlagErase | kStepFlagProgram | kStepFlagVerify);
}

TEST_F(Scripted, AProductionFileKeepsItsOwnSteps) {
    Report status = CurrentStatus();
    status[12] = 0x04;
    status[26] = 0x01;
    Script({status, MakeReply(RPL_AUTO_RESULT)});
    EXPECT_EQ(RunTool({"auto"}, &seam).rc, 0);
    EXPECT_EQ(dev.Written()[1][8], kStepFlagProgram | kStepFlagVerify);
}

TEST_F(Scripted, StepsAreRefusedWhenAProductionFileDecidesThem) {
    Report status = CurrentStatus();
    status[26] = 0x01;
    Script({status});
    ToolRun r = RunTool({"--steps", "program", "auto"}, &seam);
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("production file"), std::string::npos);
    EXPECT_EQ(SentCodes(), std::vector<uint8_t>{CMD_STATUS});
}

TEST_F(Scripted, AStepWhoseFailMarkShowsExitsOneAndStopsTheCall) {
    Script({CurrentStatus(), Outcome(RPL_VERIFY, 2)});
    ToolRun r = RunTool({"verify", "checksum"}, &seam);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "verify: failed\n");
    EXPECT_EQ(SentCodes(), (std::vector<uint8_t>{CMD_STATUS, CMD_VERIFY}));
}

TEST_F(Scripted, AFailedRunPrintsTheFailureCounterAndExitsOne) {
    Script({CurrentStatus(), Outcome(RPL_PROGRAM, 1), Outcome(RPL_VERIFY, 2),
            MakeReply(RPL_AUTO_RESULT, {{6, 1}, {7, 0}, {8, 4}})});
    ToolRun r = RunTool({"auto"}, &seam);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "program: passed\nverify: failed\nresult: 编程失败 (failed: 4)\n");
}

TEST_F(Scripted, NoChipEndsTheRunWithItsMessage) {
    Script({CurrentStatus(), MakeReply(RPL_NO_CHIP)});
    ToolRun r = RunTool({"auto", "status"}, &seam);
    EXPECT_EQ(r.rc, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("没有检测到芯片，请放入芯片!"), std::string::npos);
}

TEST_F(Scripted, TheResultThatFollowsAChipMessageIsStillShown) {
    Script({CurrentStatus(), MakeReply(RPL_MODEL_MISMATCH),
            MakeReply(RPL_AUTO_RESULT, {{6, 1}, {7, 0}, {8, 1}})});
    ToolRun r = RunTool({"auto"}, &seam);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "result: 编程失败 (failed: 1)\n");
    EXPECT_NE(r.err.find("芯片与烧录型号不同"), std::string::npos);
}

TEST_F(Scripted, StatusAfterAnotherCommandAsksAgain) {
    Report later = CurrentStatus();
    later[21] = 14;
    Script({CurrentStatus(), MakeReply(RPL_STORAGE_ERASED), later});
    ToolRun r = RunTool({"erase-storage", "status"}, &seam);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out,
              "erase-storage: 擦除整片FLASH成功!\n"
              "caption:  QRV MCU Writer V3.6\nmodel: \nchecksum: BEEFH\npassed: 14\nfailed: 3\n");
    EXPECT_EQ(SentCodes(), (std::vector<uint8_t>{CMD_STATUS, CMD_ERASE_STORAGE, CMD_STATUS}));
}

TEST_F(Scripted, ACorruptedStatusIsWaitedOutUntilAGoodOne) {
    Report bad = CurrentStatus();
    bad[61] = 'B';
    bad[2] = 0x77;  // not the XOR of bytes 3..64
    Report good = bad;
    good[21] = 99;
    uint8_t x = 0;
    for (std::size_t k = 3; k < kReportSize; ++k) x ^= good[k];
    good[2] = x;
    Script({bad, good});
    ToolRun r = RunTool({"--timeout", "5", "status"}, &seam);
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("passed: 99\n"), std::string::npos);
    EXPECT_EQ(SentCodes(), (std::vector<uint8_t>{CMD_STATUS, CMD_STATUS}));
}

TEST_F(Scripted, OptionAndProtectionResultsArePrintedInEitherOrder) {
    const Report passed = MakeReply(RPL_AUTO_RESULT, {{6, 0}, {8, 1}});
    const Report optionOk = MakeReply(RPL_OPTION_RESULT, {{6, 1}});
    const Report optionBad = MakeReply(RPL_OPTION_RESULT, {{6, 2}});
    const Report protectBad = MakeReply(RPL_PROTECT_RESULT, {{6, 2}});
    const Report protectOk = MakeReply(RPL_PROTECT_RESULT, {{6, 1}});
    struct Case {
        std::vector<Report> replies;
        int rc;
        std::string out;
    };
    const std::string result = "result: 编程成功 (passed: 1)\n";
    const std::vector<Case> cases = {
        {{passed, optionOk, protectOk},
         0,
         result + "option: User option编程成功\nprotect: 程序/数据保护成功!\n"},
        {{passed, optionBad}, 1, result + "option: User option编程失败\n"},
        {{protectBad, passed}, 1, "protect: 程序/数据保护失败!\n" + result},
    };
    for (const Case& c : cases) {
        test::FakeSeam fresh;
        test::FakeDevice& d = fresh.Add(test::FakeInterface{"/dev/hidraw7"});
        d.Push(Bytes(CurrentStatus()));
        for (const Report& r : c.replies) d.Push(Bytes(r));
        const ToolRun r = RunTool({"auto"}, &fresh);
        EXPECT_EQ(r.rc, c.rc) << c.out;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(CliSimulated, AStatusThatStaysCorruptedExitsThree) {
    ToolRun r = RunTool({"--simulate=corrupt-status,latency-us=0", "--timeout", "5", "status"});
    EXPECT_EQ(r.rc, 3);
    EXPECT_NE(r.err.find("status cannot be read"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST(CliNoProgrammer, AProgrammerThatCannotBeOpenedIsListedWithTheReason) {
    test::FakeSeam seam;
    test::FakeInterface p{"/dev/hidraw3"};
    p.readOpenFails = true;
    seam.Add(p);
    ToolRun list = RunTool({"list"}, &seam);
    EXPECT_EQ(list.rc, 3);
    EXPECT_EQ(list.out,
              "0 /dev/hidraw3 0483:5750 cannot be opened for reading: Permission denied\n");
    EXPECT_NE(list.err.find("60-qrv-writer.rules"), std::string::npos);
    ToolRun status = RunTool({"status"}, &seam);
    EXPECT_EQ(status.rc, 3);
    EXPECT_NE(status.err.find("/dev/hidraw3 无法打开(读取): Permission denied"), std::string::npos)
        << status.err;
}

std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        objects.push_back(nlohmann::json::parse(line));
    return objects;
}

// An image of `count` bytes from address 0, written as a HEX file.
std::string HexFile(const std::string& name, unsigned count) {
    std::vector<std::string> lines;
    for (unsigned a = 0; a < count; a += 16) {
        std::vector<uint8_t> data;
        for (unsigned i = a; i < std::min(a + 16, count); ++i)
            data.push_back(static_cast<uint8_t>(i * 5 + 3));
        lines.push_back(IntelHexDataRecord(a, data.data(), static_cast<unsigned>(data.size())));
    }
    lines.emplace_back(kIntelHexEndOfFile);
    const std::string path = testing::TempDir() + "qrv-cli-" + name;
    EXPECT_TRUE(WriteFileAtomically(path, JoinCrLf(lines), nullptr));
    return path;
}

TEST(CliJson, TheStoredChecksumIsFourHexDigitsWhereverItIsPrinted) {
    sim::SimSeam seam(sim::SimOptions{.latencyUs = 0});
    const std::string file = HexFile("checksum.hex", 0x120);
    const ToolRun r = RunTool({"--json", "download", file, "status"}, &seam);
    ASSERT_EQ(r.rc, 0) << r.err;
    const auto objects = JsonLines(r.out);
    ASSERT_EQ(objects.size(), 2u) << r.out;
    const std::string stored = H4(seam.WithDevice([](auto& d) { return d.StoredChecksum(); }));
    for (const auto& o : objects) {
        EXPECT_EQ(o["checksum"], stored) << o;
        EXPECT_EQ(o["programmer"], "sim:qrv-programmer") << o;
    }
    EXPECT_EQ(objects[1]["firmware"], "3.6");
}

TEST(CliJson, ARunCarriesBothCountersAndAFailureSaysWhatFailed) {
    struct Case {
        const char* sim;
        int rc;
        int passed, failed;
        const char* error;
    } cases[] = {
        {"--simulate=latency-us=0", 0, 1, 0, nullptr},
        {"--simulate=fail=verify,latency-us=0", 1, 0, 1, "verify: failed"},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunTool({c.sim, "--json", "auto"});
        EXPECT_EQ(r.rc, c.rc) << c.sim;
        const auto objects = JsonLines(r.out);
        ASSERT_FALSE(objects.empty()) << c.sim;
        const nlohmann::json* result = nullptr;
        for (const auto& o : objects)
            if (o.contains("result")) result = &o;
        ASSERT_TRUE(result) << r.out;
        EXPECT_EQ((*result)["passed"], c.passed) << c.sim;
        EXPECT_EQ((*result)["failed"], c.failed) << c.sim;
        if (!c.error) continue;
        EXPECT_EQ(objects.back()["error"], c.error) << c.sim;
        EXPECT_EQ(objects.back()["command"], "auto") << c.sim;
        EXPECT_EQ(objects.back()["programmer"], "sim:qrv-programmer") << c.sim;
    }
}

TEST(CliJson, ARefusedCommandLineNamesNoCommandAndNoProgrammer) {
    const ToolRun r = RunTool({"--json", "--simulate", "frobnicate"});
    EXPECT_EQ(r.rc, 2);
    const auto error = nlohmann::json::parse(r.out);
    EXPECT_TRUE(error.at("command").is_null());
    EXPECT_TRUE(error.at("programmer").is_null());
    EXPECT_FALSE(error["error"].get<std::string>().empty());
}

TEST(CliBadInput, ABadFileIsRefusedBeforeConnectingAndExitsTwo) {
    const std::string bad = testing::TempDir() + "qrv-cli-bad.hex";
    ASSERT_TRUE(WriteFileAtomically(bad, ":10000000ZZ\r\n", nullptr));
    const std::string missing = testing::TempDir() + "qrv-cli-missing.hex";
    for (const std::string& file : {bad, missing}) {
        // Without a programmer, and with one that must be left untouched.
        test::FakeSeam none;
        const ToolRun alone = RunTool({"download", file}, &none);
        EXPECT_EQ(alone.rc, 2) << file << alone.err;
        test::FakeSeam seam;
        test::FakeDevice& dev = seam.Add(test::FakeInterface{"/dev/hidraw7"});
        const ToolRun r = RunTool({"download", file}, &seam);
        EXPECT_EQ(r.rc, 2) << file << r.err;
        EXPECT_TRUE(dev.Written().empty()) << file;
        EXPECT_EQ(RunTool({"info", file}).rc, 2) << file;
    }
}

TEST(CliMessages, EveryLineOnErrCarriesTheToolsName) {
    const std::string bad = testing::TempDir() + "qrv-cli-bad2.hex";
    ASSERT_TRUE(WriteFileAtomically(bad, ":10000000ZZ\r\n", nullptr));
    const std::vector<std::vector<std::string>> calls = {
        {"--simulate=no-chip,latency-us=0", "auto"},
        {"--simulate=latency-us=0", "--steps", "blank", "download", bad},
        {"--simulate=latency-us=0", "frobnicate"},
        {"--simulate=latency-us=0", "--device", "/dev/none", "status"},
        {"--simulate=latency-us=0", "info", bad},
    };
    for (const auto& args : calls) {
        const ToolRun r = RunTool(args);
        EXPECT_FALSE(r.err.empty()) << args.back();
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);)
            EXPECT_EQ(line.rfind("qrv-writer-cli: ", 0), 0u) << args.back() << ": " << line;
    }
}

TEST(CliArguments, ValuesThatWouldBeMisreadAreRefusedWithTheReason) {
    const std::string source = HexFile("empty-values.hex", 0x20);
    const std::string output = testing::TempDir() + "qrv-cli-empty-values-out.hex";
    std::remove(output.c_str());
    std::remove("status");
    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        // An unset shell variable: the next argument is no value.
        {{"--simulate=latency-us=0", "--log=", "status", "auto"}, "--log needs"},
        {{"--simulate=latency-us=0", "--steps=", "auto"}, "--steps needs"},
        {{"export", source, "-o", output, "--user-code="}, "--user-code needs a value"},
        {{"export", source, "-o", output, "--user-code", ""}, "--user-code needs a value"},
        {{"--simulate", "--device", "A", "--device", "B", "status"},
         "--device was given more than once"},
        {{"--simulate", "downlod", "x.hex"},
         "unknown command 'downlod' (did you mean 'download'?)"},
        {{"--simulate", "--jsn", "status"}, "unknown option '--jsn' (did you mean '--json'?)"},
        {{"--simulate", "read-chip", "--rw", "x.hex"}, "(did you mean '--raw'?)"},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunTool(c.args);
        EXPECT_EQ(r.rc, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    // Nothing ran: no log was opened under a command's name, no file written.
    EXPECT_FALSE(std::filesystem::exists("status"));
    std::remove("status");
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(Scripted, ATimeOutIsSaidOnce) {
    const ToolRun r = RunTool({"--timeout", "0.2", "status"}, &seam);
    EXPECT_EQ(r.rc, 3);
    EXPECT_EQ(r.err, "qrv-writer-cli: the programmer did not answer for 0.2 s\n");
}

}  // namespace
}  // namespace qrv
