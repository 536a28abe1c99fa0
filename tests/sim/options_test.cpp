// The OPTIONS of --simulate[=OPTIONS].
#include "sim/options.h"

#include <gtest/gtest.h>

#include <string>

namespace qrv::sim {
namespace {

TEST(SimOptionsParse, EmptyTextKeepsTheDefaults) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(ParseSimOptions("", &o, &error));
    EXPECT_EQ(o.latencyUs, 1000);
    EXPECT_FALSE(o.noChip);
    EXPECT_FALSE(o.wrongModel);
    EXPECT_EQ(o.failStep, ChipStep::None);
    EXPECT_EQ(o.resendEvery, 0);
    EXPECT_EQ(o.downloadErrorAt, 0);
    EXPECT_FALSE(o.badStatus);
    EXPECT_FALSE(o.oldFirmware);
    EXPECT_EQ(o.bytesPerSecond, 0);
    EXPECT_TRUE(error.empty());
}

TEST(SimOptionsParse, EveryOptionTogether) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(ParseSimOptions(
        "no-chip,wrong-model,fail=verify,resend-every=7,download-error-at=3,bad-status,"
        "old-firmware,latency-us=0,speed=4096",
        &o, &error))
        << error;
    EXPECT_TRUE(o.noChip);
    EXPECT_TRUE(o.wrongModel);
    EXPECT_EQ(o.failStep, ChipStep::Verify);
    EXPECT_EQ(o.resendEvery, 7);
    EXPECT_EQ(o.downloadErrorAt, 3);
    EXPECT_TRUE(o.badStatus);
    EXPECT_TRUE(o.oldFirmware);
    EXPECT_EQ(o.latencyUs, 0);
    EXPECT_EQ(o.bytesPerSecond, 4096);
}

TEST(SimOptionsParse, EachFailingStep) {
    const std::pair<const char*, ChipStep> cases[] = {{"fail=blank", ChipStep::BlankCheck},
                                                      {"fail=erase", ChipStep::Erase},
                                                      {"fail=program", ChipStep::Program},
                                                      {"fail=verify", ChipStep::Verify}};
    for (const auto& [text, step] : cases) {
        SimOptions o;
        std::string error;
        ASSERT_TRUE(ParseSimOptions(text, &o, &error)) << text;
        EXPECT_EQ(o.failStep, step) << text;
    }
}

TEST(SimOptionsParse, EmptyItemsAreSkipped) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(ParseSimOptions(",no-chip,,", &o, &error));
    EXPECT_TRUE(o.noChip);
}

// Each bad text is refused, its message names the offending item, and the
// message is the one shown to the user.
TEST(SimOptionsParse, BadOptionsAreRefusedWithAMessageNamingThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"no-chips", "unknown simulator option 'no-chips' (see --help)"},
        {"fail=write",
         "simulator option 'fail' needs blank, erase, program or verify: 'fail=write'"},
        {"fail", "simulator option 'fail' needs blank, erase, program or verify: 'fail'"},
        {"no-chip=1", "simulator option 'no-chip' takes no value: 'no-chip=1'"},
        {"resend-every=0",
         "simulator option 'resend-every' needs a whole number of at least 1: 'resend-every=0'"},
        {"resend-every",
         "simulator option 'resend-every' needs a whole number of at least 1: "
         "'resend-every'"},
        {"download-error-at=x",
         "simulator option 'download-error-at' needs a whole number of at least 1: "
         "'download-error-at=x'"},
        {"latency-us=-1",
         "simulator option 'latency-us' needs a whole number of at least 0: 'latency-us=-1'"},
        {"latency-us=99999999999",
         "simulator option 'latency-us' needs a whole number of at least 0: "
         "'latency-us=99999999999'"},
        {"latency-us=5us",
         "simulator option 'latency-us' needs a whole number of at least 0: 'latency-us=5us'"},
        {"speed=", "simulator option 'speed' needs a whole number of at least 0: 'speed='"},
        {"no-chip, bad-status", "unknown simulator option ' bad-status' (see --help)"},
    };
    for (const auto& [text, message] : cases) {
        SimOptions o;
        std::string error;
        EXPECT_FALSE(ParseSimOptions(text, &o, &error)) << text;
        EXPECT_EQ(error, message) << text;
    }
}

TEST(SimOptionsParse, HelpNamesEveryOption) {
    const std::string help = SimOptionsHelp();
    for (const char* name : {"--simulate[=OPTIONS]", "no-chip", "wrong-model", "fail=STEP", "blank",
                             "erase", "program", "verify", "resend-every=N", "download-error-at=N",
                             "bad-status", "old-firmware", "latency-us=N", "speed=N"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
}

}  // namespace
}  // namespace qrv::sim
