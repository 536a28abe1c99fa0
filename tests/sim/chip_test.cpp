// The virtual chip: the single steps, the automatic run with its counters and
// option programming, the chip read-backs, the chip misbehaviours and the time
// a step takes at a given programming speed.
#include <gtest/gtest.h>

#include <numeric>

#include "tests/sim/host.h"

namespace qrv::sim {
namespace {

using test::Be16;
using test::Bytes;
using test::Codes;
using test::RunCounter;
using test::Short;

// A stored image of `length` bytes (i * 3 + 1 at address i), downloaded in
// 59-byte blocks.
void StoreImage(test::Host& host, unsigned length) {
    std::vector<std::pair<unsigned, std::vector<uint8_t>>> blocks;
    for (unsigned a = 0; a < length; a += 59) {
        std::vector<uint8_t> data;
        for (unsigned i = a; i < std::min(a + 59, length); ++i)
            data.push_back(static_cast<uint8_t>(i * 3 + 1));
        blocks.emplace_back(a, data);
    }
    host.Download(blocks, length - 1);
}

// Progress replies of one step: every reply but the last has status 0 and a
// rising count; returns the last reply.
Report CheckStep(const std::vector<Report>& replies, std::size_t& i, uint8_t code,
                 unsigned length) {
    unsigned previous = 0;
    for (; i < replies.size() && replies[i][3] == code && replies[i][6] == 0; ++i) {
        EXPECT_GT(Be16(replies[i], 7), previous);
        previous = Be16(replies[i], 7);
    }
    EXPECT_LT(i, replies.size());
    if (i >= replies.size()) return Report{};
    EXPECT_EQ(replies[i][3], code);
    if (replies[i][6] == 1) {
        EXPECT_EQ(previous, std::min(length, 0xFFFFu));
    }
    return replies[i++];
}

struct Chip : ::testing::Test {
    SimProgrammer dev{SimOptions{0}};
    test::Host host{dev};
};

TEST_F(Chip, StepsReportRisingProgressUpToTheImageLengthThenPass) {
    StoreImage(host, 3000);
    const auto replies = host.Send(Short(CMD_BLANK_CHECK, 0x10));
    // Pages of 1024 bytes: 1024, 2048, 3000, then the outcome.
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(Be16(replies[0], 7), 1024u);
    EXPECT_EQ(Be16(replies[1], 7), 2048u);
    EXPECT_EQ(Be16(replies[2], 7), 3000u);
    std::size_t i = 0;
    const Report outcome = CheckStep(replies, i, RPL_BLANK_CHECK, 3000);
    EXPECT_EQ(outcome[6], 1);
    EXPECT_EQ(Be16(outcome, 7), 3000u);
}

TEST_F(Chip, ProgramThenVerifyPassesAndTheChipHoldsTheImage) {
    StoreImage(host, 500);
    std::size_t i = 0;
    EXPECT_EQ(CheckStep(host.Send(Short(CMD_PROGRAM)), i, RPL_PROGRAM, 500)[6], 1);
    i = 0;
    EXPECT_EQ(CheckStep(host.Send(Short(CMD_VERIFY)), i, RPL_VERIFY, 500)[6], 1);
    for (unsigned a = 0; a < 500; ++a)
        ASSERT_EQ(dev.Chip().flash[a], static_cast<uint8_t>(a * 3 + 1));
    EXPECT_EQ(dev.Chip().flash[500], 0xFF);
    const Report sum = host.One(Short(CMD_READ_CHECKSUM), RPL_CHECKSUM);
    EXPECT_EQ(Be16(sum, 7), dev.StoredChecksum());
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST_F(Chip, ProgrammedChipIsNotBlankAndErasedChipIs) {
    StoreImage(host, 100);
    host.Send(Short(CMD_PROGRAM));
    auto replies = host.Send(Short(CMD_BLANK_CHECK));
    EXPECT_EQ(replies.back()[3], RPL_BLANK_CHECK);
    EXPECT_EQ(replies.back()[6], 2);
    EXPECT_EQ(Be16(replies.back(), 7), 0u);  // the first byte is programmed
    replies = host.Send(Short(CMD_ERASE));
    EXPECT_EQ(replies.back()[6], 1);
    replies = host.Send(Short(CMD_BLANK_CHECK));
    EXPECT_EQ(replies.back()[6], 1);
}

TEST_F(Chip, VerifyOfABlankChipFailsAtTheFirstDifference) {
    host.Download({{0x500, {0xFF, 0xFF, 0x00}}}, 0x502);
    const auto replies = host.Send(Short(CMD_VERIFY));
    // Progress for the first page, then the failure at 0x502.
    ASSERT_EQ(Codes(replies), (std::vector<uint8_t>{RPL_VERIFY, RPL_VERIFY}));
    EXPECT_EQ(replies[0][6], 0);
    EXPECT_EQ(Be16(replies[0], 7), 1024u);
    EXPECT_EQ(replies[1][6], 2);
    EXPECT_EQ(Be16(replies[1], 7), 0x502u);
}

TEST_F(Chip, ProgramCannotSetBitsWithoutErase) {
    StoreImage(host, 10);
    dev.MutableChip().flash[4] = 0x00;
    const auto replies = host.Send(Short(CMD_PROGRAM));
    EXPECT_EQ(replies.back()[6], 2);
    EXPECT_EQ(Be16(replies.back(), 7), 4u);
}

TEST_F(Chip, WithNothingStoredTheStepsCoverTheWholeChip) {
    const auto replies = host.Send(Short(CMD_ERASE));
    ASSERT_EQ(replies.size(), 65u);  // 64 pages and the outcome
    EXPECT_EQ(Be16(replies[62], 7), 63u * 1024);
    EXPECT_EQ(Be16(replies[63], 7), 0xFFFFu);  // 65536 does not fit 16 bits
    EXPECT_EQ(replies[64][6], 1);
    const Report sum = host.One(Short(CMD_READ_CHECKSUM), RPL_CHECKSUM);
    EXPECT_EQ(Be16(sum, 7), (0x10000u * 0xFF) & 0xFFFF);
}

// --- The automatic run ------------------------------------------------------

TEST_F(Chip, AutomaticRunDoesTheSelectedStepsInOrderAndCountsAPass) {
    StoreImage(host, 2048);
    const auto replies = host.Send(Short(CMD_AUTO_PROGRAM, 0x17));
    std::size_t i = 0;
    EXPECT_EQ(CheckStep(replies, i, RPL_BLANK_CHECK, 2048)[6], 1);
    EXPECT_EQ(CheckStep(replies, i, RPL_ERASE, 2048)[6], 1);
    EXPECT_EQ(CheckStep(replies, i, RPL_PROGRAM, 2048)[6], 1);
    EXPECT_EQ(CheckStep(replies, i, RPL_VERIFY, 2048)[6], 1);
    ASSERT_EQ(i + 1, replies.size());
    EXPECT_EQ(replies[i][3], RPL_AUTO_RESULT);
    EXPECT_EQ(replies[i][6], 0);
    EXPECT_EQ(RunCounter(replies[i]), 1u);
    EXPECT_EQ(dev.SuccessCount(), 1u);
    EXPECT_EQ(dev.FailureCount(), 0u);

    // A second run gets a new chip, so its blank check passes too.
    const auto again = host.Send(Short(CMD_AUTO_PROGRAM, 0x17));
    EXPECT_EQ(again.back()[6], 0);
    EXPECT_EQ(RunCounter(again.back()), 2u);
}

TEST_F(Chip, RunCounterIsSentInTheHostsByteOrder) {
    StoreImage(host, 10);
    dev.SetCounters(0x0200012B, 0x0000FFFF);
    auto replies = host.Send(Short(CMD_AUTO_PROGRAM, 0x10));
    const Report pass = replies.back();
    EXPECT_EQ(pass[7], 0x01);
    EXPECT_EQ(pass[8], 0x2C);
    EXPECT_EQ(pass[9], 0x00);
    EXPECT_EQ(pass[10], 0x02);
    EXPECT_EQ(RunCounter(pass), 33554732u);

    dev.MutableOptions().failStep = ChipStep::Program;
    replies = host.Send(Short(CMD_AUTO_PROGRAM, 0x10));
    EXPECT_EQ(replies.back()[6], 1);
    EXPECT_EQ(RunCounter(replies.back()), 65536u);
    EXPECT_EQ(replies.back()[9], 0x01);
    const Report status = host.One(Short(CMD_STATUS), RPL_STATUS);
    EXPECT_EQ(test::Be32(status, 18), 0x0200012Cu);
    EXPECT_EQ(test::Be32(status, 22), 0x00010000u);
}

struct StepCase {
    ChipStep step;
    uint8_t command;
    uint8_t code;  // its outcome reply
};

class FailingStep : public ::testing::TestWithParam<StepCase> {};

TEST_P(FailingStep, RunStopsAtTheFailedStepAndCountsAFailure) {
    const auto [step, command, code] = GetParam();
    SimOptions o{0};
    o.failStep = step;
    SimProgrammer dev(o);
    test::Host host{dev};
    StoreImage(host, 4096);
    const auto replies = host.Send(Short(CMD_AUTO_PROGRAM, 0x17));
    ASSERT_GE(replies.size(), 2u);
    const Report& failed = replies[replies.size() - 2];
    EXPECT_EQ(failed[3], code);
    EXPECT_EQ(failed[6], 2);
    EXPECT_EQ(Be16(failed, 7), 2048u);  // half-way through the image
    for (std::size_t i = 0; i + 2 < replies.size(); ++i) EXPECT_NE(replies[i][6], 2);
    // No step after the failed one ran.
    const std::vector<uint8_t> order = {RPL_BLANK_CHECK, RPL_ERASE, RPL_PROGRAM, RPL_VERIFY};
    const auto failedAt = std::find(order.begin(), order.end(), code);
    for (const Report& r : replies) {
        if (r[3] != RPL_AUTO_RESULT) {
            EXPECT_LE(std::find(order.begin(), order.end(), r[3]), failedAt);
        }
    }
    EXPECT_EQ(replies.back()[3], RPL_AUTO_RESULT);
    EXPECT_EQ(replies.back()[6], 1);
    EXPECT_EQ(RunCounter(replies.back()), 1u);
    EXPECT_EQ(dev.FailureCount(), 1u);
    EXPECT_EQ(dev.SuccessCount(), 0u);

    // The single step fails the same way.
    const auto single = host.Send(Short(command));
    EXPECT_EQ(single.back()[3], code);
    EXPECT_EQ(single.back()[6], 2);
}

INSTANTIATE_TEST_SUITE_P(EachStep, FailingStep,
                         ::testing::Values(StepCase{ChipStep::BlankCheck, CMD_BLANK_CHECK,
                                                    RPL_BLANK_CHECK},
                                           StepCase{ChipStep::Erase, CMD_ERASE, RPL_ERASE},
                                           StepCase{ChipStep::Program, CMD_PROGRAM, RPL_PROGRAM},
                                           StepCase{ChipStep::Verify, CMD_VERIFY, RPL_VERIFY}),
                         [](const ::testing::TestParamInfo<StepCase>& param) {
                             return std::string(CommandName(param.param.command)).substr(4);
                         });

TEST_F(Chip, ProductionRunProgramsOptionsAndProtection) {
    // autoSteps bit 1: program the user option; optionBits 0x03: read and debug protection.
    const auto config = test::ConfigBlock("QRV32K-S001", 0x21, 0x13, 0x02, 0x04, 0x02);
    host.DownloadProduction(config, {{0, {1, 2, 3}}}, 2);
    const auto replies = host.Send(Short(CMD_AUTO_PROGRAM, 0x10));
    // By default the results follow the run's result, so the panel ends on them.
    EXPECT_EQ(Codes(replies), (std::vector<uint8_t>{RPL_PROGRAM, RPL_PROGRAM, RPL_AUTO_RESULT,
                                                    RPL_OPTION_RESULT, RPL_PROTECT_RESULT}));
    EXPECT_EQ(replies[3][6], 1);
    EXPECT_EQ(replies[4][6], 1);
    EXPECT_EQ(dev.Chip().optionWord, 0x020413u);
    EXPECT_EQ(dev.Chip().protection, 0x03);
    dev.MutableOptions().optionResultsFirst = true;
    EXPECT_EQ(Codes(host.Send(Short(CMD_AUTO_PROGRAM, 0x10))),
              (std::vector<uint8_t>{RPL_PROGRAM, RPL_PROGRAM, RPL_OPTION_RESULT, RPL_PROTECT_RESULT,
                                    RPL_AUTO_RESULT}));
}

TEST_F(Chip, OptionProgrammingWithoutProtectionSendsOnlyTheOptionResult) {
    host.DownloadProduction(test::ConfigBlock("QRV32K-S001", 0x21, 0x10, 0x03), {{0, {1}}}, 0);
    const auto replies = host.Send(Short(CMD_AUTO_PROGRAM, 0x11));
    EXPECT_EQ(Codes(replies),
              (std::vector<uint8_t>{RPL_BLANK_CHECK, RPL_BLANK_CHECK, RPL_PROGRAM, RPL_PROGRAM,
                                    RPL_AUTO_RESULT, RPL_OPTION_RESULT}));
}

TEST_F(Chip, NoOptionProgrammingAfterAFailedStep) {
    host.DownloadProduction(test::ConfigBlock("QRV32K-S001", 0x21, 0x01, 0x02), {{0, {1}}}, 0);
    dev.MutableOptions().failStep = ChipStep::Verify;
    const auto replies = host.Send(Short(CMD_AUTO_PROGRAM, 0x14));
    EXPECT_EQ(Codes(replies),
              (std::vector<uint8_t>{RPL_PROGRAM, RPL_PROGRAM, RPL_VERIFY, RPL_AUTO_RESULT}));
    EXPECT_EQ(dev.Chip().optionWord, 0xFFFFFFFFu);
}

TEST_F(Chip, EraseClearsTheOptionWordAndProtection) {
    host.DownloadProduction(test::ConfigBlock("QRV32K-S001", 0x21, 0x01, 0x02), {{0, {1}}}, 0);
    host.Send(Short(CMD_AUTO_PROGRAM, 0x10));
    EXPECT_EQ(dev.Chip().protection, 0x01);
    host.Send(Short(CMD_ERASE));
    EXPECT_EQ(dev.Chip().protection, 0);
    EXPECT_EQ(dev.Chip().optionWord, 0xFFFFFFFFu);
}

// --- Chip misbehaviours ---------------------------------------------------------

TEST(ChipMisbehaviour, NoChipAnswersEveryChipCommandWithNoChip) {
    SimOptions o{0};
    o.noChip = true;
    SimProgrammer dev(o);
    test::Host host{dev};
    for (uint8_t code : {CMD_BLANK_CHECK, CMD_ERASE, CMD_PROGRAM, CMD_VERIFY, CMD_AUTO_PROGRAM,
                         CMD_READ_CHECKSUM, CMD_READ_CHIP})
        host.One(Short(code), RPL_NO_CHIP);
    EXPECT_EQ(dev.SuccessCount() + dev.FailureCount(), 0u);
    // Commands that do not touch the chip still work.
    host.One(Short(CMD_STATUS), RPL_STATUS);
    host.One(Short(CMD_ERASE_STORAGE), RPL_STORAGE_ERASED);
}

TEST(ChipMisbehaviour, WrongModelIsReportedAgainstAStoredConfiguration) {
    SimOptions o{0};
    o.wrongModel = true;
    SimProgrammer dev(o);
    test::Host host{dev};
    // A plain image names no model: the chip cannot differ from it.
    host.Download({{0, {1}}}, 0);
    EXPECT_EQ(host.Send(Short(CMD_AUTO_PROGRAM, 0x10)).back()[3], RPL_AUTO_RESULT);
    host.DownloadProduction(test::ConfigBlock(), {{0, {1}}}, 0);
    for (uint8_t code : {CMD_BLANK_CHECK, CMD_ERASE, CMD_PROGRAM, CMD_VERIFY, CMD_AUTO_PROGRAM,
                         CMD_READ_CHECKSUM, CMD_READ_CHIP})
        host.One(Short(code), RPL_MODEL_MISMATCH);
    EXPECT_EQ(dev.SuccessCount(), 1u);
    EXPECT_EQ(dev.FailureCount(), 0u);
}

// --- Chip read-back -------------------------------------------------------------

TEST_F(Chip, ReadChipSendsTheImageRangeInSixteenByteBlocks) {
    StoreImage(host, 40);
    host.Send(Short(CMD_PROGRAM));
    const auto replies = host.Send(Short(CMD_READ_CHIP));
    ASSERT_EQ(Codes(replies),
              (std::vector<uint8_t>{RPL_CHIP_BLOCK, RPL_CHIP_BLOCK, RPL_CHIP_BLOCK}));
    EXPECT_EQ(replies[0][2], 16);
    EXPECT_EQ(Be16(replies[1], 4), 16u);
    EXPECT_EQ(replies[1][6], 0);  // the record type of the host's line
    EXPECT_EQ(replies[1][7], static_cast<uint8_t>(16 * 3 + 1));
    EXPECT_EQ(replies[2][2], 8);
    EXPECT_EQ(Be16(replies[2], 4), 32u);
    EXPECT_EQ(replies[2][14], static_cast<uint8_t>(39 * 3 + 1));
    EXPECT_EQ(replies[2][15], 0);
}

TEST_F(Chip, ReadChipWithNothingStoredReadsTheWholeChip) {
    const auto replies = host.Send(Short(CMD_READ_CHIP));
    ASSERT_EQ(replies.size(), 4096u);
    EXPECT_EQ(Be16(replies.back(), 4), 0xFFF0u);
    EXPECT_EQ(replies.back()[22], 0xFF);
}

// --- Time -------------------------------------------------------------------------

TEST(ChipTime, EveryReplyWaitsTheLatencyAndStepsTheirProgrammingTime) {
    SimOptions o{250};
    o.bytesPerSecond = 1024 * 1000;  // one page per millisecond
    SimProgrammer dev(o);
    test::Host host{dev};
    StoreImage(host, 1536);
    const auto status = dev.HandleTimed(Short(CMD_STATUS));
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].delayUs, 250u);
    const auto step = dev.HandleTimed(Short(CMD_PROGRAM));
    ASSERT_EQ(step.size(), 3u);
    EXPECT_EQ(step[0].delayUs, 250u + 1000u);  // 1024 bytes
    EXPECT_EQ(step[1].delayUs, 250u + 500u);   // 512 bytes
    EXPECT_EQ(step[2].delayUs, 250u);          // the outcome
}

}  // namespace
}  // namespace qrv::sim
