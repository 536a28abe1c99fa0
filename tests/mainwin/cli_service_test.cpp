// qrv-writer-cli's calibrate and chooser-word: what the programmer records,
// the words printed, and the input refused before anything is sent.
#include <gtest/gtest.h>

#include "sim/sim_seam.h"
#include "tests/support/cli_run.h"
#include "tests/support/fake_hid.h"

namespace qrv {
namespace {

using test::RunTool;

TEST(CliCalibrate, EachTargetIsRecordedByTheProgrammer) {
    const std::pair<const char*, uint32_t> targets[] = {
        {"8M", 8}, {"20M", 32}, {"cancel", 170}, {"16000", 0x23}};
    for (auto [target, argument] : targets) {
        sim::SimSeam seam(sim::SimOptions{.latencyUs = 0});
        ASSERT_EQ(RunTool({"calibrate", target}, &seam).rc, 0) << target;
        ASSERT_TRUE(seam.Flush()) << target;
        const std::vector<sim::RecordedCommand> sent =
            seam.WithDevice([](auto& d) { return d.RecordedOf(CMD_OSC_CALIBRATE); });
        ASSERT_EQ(sent.size(), 1u) << target;
        EXPECT_EQ(sent[0].argument, argument) << target;
        EXPECT_TRUE(seam.ProtocolErrors().empty()) << target;  // bounds and trim checked
    }
}

TEST(CliCalibrate, RefusedTargetsExitTwoAndSendNothing) {
    for (const char* target : {"1A000", "200001", "20001", "", "8m", "1400x"}) {
        test::FakeSeam seam;
        test::FakeDevice& dev = seam.Add(test::FakeInterface{"/dev/hidraw3"});
        const test::ToolRun r = RunTool({"calibrate", target}, &seam);
        EXPECT_EQ(r.rc, 2) << target;
        EXPECT_NE(r.err.find("频率值输入出错！"), std::string::npos) << target;
        EXPECT_TRUE(dev.Written().empty()) << target;
    }
}

TEST(CliChooserWord, PrintsTheWordTheChooserSends) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--model", "QM-001", "--vdd-5v", "--hard-lock", "2K"}, "0x00010044\n"},
        {{"--model", "QM-084", "--hard-lock", "4K"}, "0x00000484\n"},
        {{"--model", "QM-010", "--hard-lock", "2K", "--wdt-off"}, "0x00001044\n"},
        {{"--model", "QM-001", "--pc-not-io", "--data-flash", "1K"}, "0x00022108\n"},
    };
    for (const auto& [choices, word] : cases) {
        std::vector<std::string> args = {"chooser-word"};
        args.insert(args.end(), choices.begin(), choices.end());
        const test::ToolRun r = RunTool(args);
        EXPECT_EQ(r.rc, 0) << r.err;
        EXPECT_EQ(r.out, word) << choices[1];
    }
    for (std::vector<std::string> refused :
         {std::vector<std::string>{"chooser-word"},
          {"chooser-word", "--model", "QM-999"},
          {"chooser-word", "--model", "QM-084", "--hard-lock", "1K"},
          {"chooser-word", "--model", "QM-084", "--swd-alternative"},
          {"chooser-word", "--model", "QM-001", "--pin-not-io", "--pc-not-io"}})
        EXPECT_EQ(RunTool(refused).rc, 2) << refused.back();
}

}  // namespace
}  // namespace qrv
