// The run in progress and its production log line: how a run ends without
// its result, the option and protection results that belong to it, and what
// the line carries.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/mainwin/session_fixture.h"

namespace qrv {
namespace {

using test::MakeReply;

struct Run : test::SessionTest {
    // One file per test: ctest runs the tests of this fixture side by side.
    std::string log = ::testing::TempDir() + "run-test-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".csv";
    std::vector<int> timer;  // every StartRunTimer call
    void SetUp() override {
        std::remove(log.c_str());
        Connect();
        s.SetProductionLog(ProductionLog(log));
        s.hooks.StartRunTimer = [this](int ms) { timer.push_back(ms); };
        s.form.CheckBox3.Click();  // the program step
    }
    // The log's lines after the header.
    std::vector<std::string> Lines() {
        std::ifstream in(log, std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        if (!lines.empty()) lines.erase(lines.begin());
        return lines;
    }
};

TEST_F(Run, ASilentProgrammerEndsTheRunAfterTenSecondsWithoutAReply) {
    ASSERT_EQ(s.Button2Click(), RunStart::Started);
    EXPECT_EQ(timer, std::vector<int>{10000});
    Reply(MakeReply(RPL_PROGRAM, {{6, 0}, {8, 0x40}}));  // progress: it is not silent
    EXPECT_EQ(timer, (std::vector<int>{10000, 10000}));
    s.RunTimerExpired();
    EXPECT_EQ(timer.back(), 0);
    EXPECT_EQ(s.form.Panel1.caption, "编程未完成");
    EXPECT_EQ(s.form.Panel1.color, colors::clRed);
    EXPECT_FALSE(s.CurrentRun());
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_NE(Lines()[0].find(",program,no result,,the programmer did not answer for 10 s,"),
              std::string::npos)
        << Lines()[0];
}

TEST_F(Run, OptionAndProtectionResultsJoinTheRunsLine) {
    struct Case {
        std::vector<Report> replies;
        bool settle;  // the line waits for the settle time
        const char* line;
    } cases[] = {
        {{MakeReply(RPL_AUTO_RESULT, {{8, 1}}), MakeReply(RPL_OPTION_RESULT, {{6, 1}}),
          MakeReply(RPL_PROTECT_RESULT, {{6, 1}})},
         false,
         ",program,passed,,,1,0,passed,passed\r"},
        {{MakeReply(RPL_AUTO_RESULT, {{8, 2}}), MakeReply(RPL_OPTION_RESULT, {{6, 2}})},
         true,
         ",program,failed,option,User option编程失败,2,0,failed,\r"},
        // Results first, as some programmers send them.
        {{MakeReply(RPL_OPTION_RESULT, {{6, 1}}), MakeReply(RPL_PROTECT_RESULT, {{6, 2}}),
          MakeReply(RPL_AUTO_RESULT, {{8, 3}})},
         false,
         ",program,failed,protect,程序/数据保护失败!,3,0,passed,failed\r"},
        // Another reply: no option results are coming.
        {{MakeReply(RPL_AUTO_RESULT, {{6, 1}, {8, 1}}), MakeReply(RPL_CHECKSUM)},
         false,
         ",program,failed,,,3,1,,\r"},
    };
    std::size_t logged = 0;
    for (const Case& c : cases) {
        ASSERT_EQ(s.Button2Click(), RunStart::Started);
        for (const Report& r : c.replies) Reply(r);
        EXPECT_EQ(Lines().size(), logged + (c.settle ? 0 : 1)) << c.line;
        if (c.settle) {
            EXPECT_EQ(timer.back(), 300);
            s.RunTimerExpired();
        }
        ASSERT_EQ(Lines().size(), ++logged) << c.line;
        const std::string line = Lines().back();
        EXPECT_EQ(line.substr(line.size() - std::string(c.line).size()), c.line);
    }
}

TEST_F(Run, AWrongChipEndsTheRunAndTheStep) {
    for (bool step : {false, true}) {
        ASSERT_EQ(step ? s.RunSingleStep(3) : s.Button2Click(), RunStart::Started);
        Reply(MakeReply(RPL_MODEL_MISMATCH));
        EXPECT_FALSE(s.CurrentRun());
        EXPECT_EQ(s.form.Panel1.caption, "编程未完成");
        EXPECT_NE(Lines().back().find(std::string(step ? ",verify" : ",program") +
                                      ",failed,,芯片与烧录型号不同,"),
                  std::string::npos)
            << Lines().back();
    }
    EXPECT_EQ(ui.messages, std::vector<std::string>(2, kModelMismatch));
}

TEST_F(Run, TheLineCarriesTheStoredChecksumAndTheWholeModel) {
    Report status =
        MakeReply(RPL_STATUS, {{9, 0x67}, {10, 0xB6}, {26, 0x5A}, {61, 'A'}, {63, '3'}, {64, '6'}});
    const std::string model = "QM-012-64HS";
    std::copy(model.begin(), model.end(), status.begin() + 50);
    Reply(status);
    Reply(MakeReply(RPL_CHECKSUM, {{7, 0x11}, {8, 0x11}}));  // the chip's, not the image's
    ASSERT_EQ(s.Button2Click(), RunStart::Started);
    Reply(MakeReply(RPL_AUTO_RESULT, {{8, 1}}));
    s.RunTimerExpired();
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_NE(Lines()[0].find(",QM-012-64HS,67B6H,"), std::string::npos) << Lines()[0];
}

}  // namespace
}  // namespace qrv
