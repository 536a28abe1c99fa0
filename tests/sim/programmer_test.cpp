// The simulated programmer's status, its strict checks of command frames, the
// commands it only records, and the resend and status misbehaviours.
#include <gtest/gtest.h>

#include "tests/sim/host.h"

namespace qrv::sim {
namespace {

using test::Be16;
using test::Be32;
using test::Short;

uint8_t Xor3To64(const Report& r) {
    uint8_t x = 0;
    for (std::size_t k = 3; k <= 64; ++k) x ^= r[k];
    return x;
}

TEST(SimStatus, FreshProgrammerReportsEveryField) {
    SimProgrammer dev(SimOptions{0});
    test::Host host{dev};
    const Report r = host.One(Short(CMD_STATUS), RPL_STATUS);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[1], ';');
    EXPECT_EQ(Be16(r, 5), 0u);
    EXPECT_EQ(Be16(r, 7), 0u);
    EXPECT_EQ(Be16(r, 9), 0u);
    EXPECT_EQ(r[12], 0);
    EXPECT_EQ(r[62], 0);
    EXPECT_EQ(Be32(r, 18), 0u);
    EXPECT_EQ(Be32(r, 22), 0u);
    EXPECT_EQ(r[26], 0xFF);
    EXPECT_EQ(r[61], 'A');
    EXPECT_EQ(r[63], '3');
    EXPECT_EQ(r[64], '6');
    EXPECT_EQ(r[2], Xor3To64(r));
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST(SimStatus, CountersGoHighByteFirst) {
    SimProgrammer dev(SimOptions{0});
    dev.SetCounters(0x01020304, 0xA0B0C0D0);
    const Report r = test::Host{dev}.One(Short(CMD_STATUS), RPL_STATUS);
    EXPECT_EQ(Be32(r, 18), 0x01020304u);
    EXPECT_EQ(Be32(r, 22), 0xA0B0C0D0u);
    EXPECT_EQ(r[2], Xor3To64(r));
}

TEST(SimStatus, ProductionFileShowsModelStepsKindLengthAndChecksum) {
    SimProgrammer dev(SimOptions{0});
    test::Host host{dev};
    // autoSteps: blank check (bit 0), erase (bit 2), verify (bit 3).
    const auto config = test::ConfigBlock("QRV64K-H010", 0x37, 0, 0x0D);
    host.DownloadProduction(config, {{0, {1, 2, 3, 4}}}, 3);
    const Report r = host.One(Short(CMD_STATUS), RPL_STATUS);
    EXPECT_EQ(Be16(r, 7), 4u);
    EXPECT_EQ(Be16(r, 9), 10u);
    EXPECT_EQ(r[12], 0x01 | 0x02 | 0x04);
    EXPECT_EQ(r[62], 0x01 | 0x02 | 0x04);
    EXPECT_EQ(r[26], 0x37);
    EXPECT_EQ(std::string(r.begin() + 50, r.begin() + 61), "QRV64K-H010");
    EXPECT_EQ(r[2], Xor3To64(r));
}

TEST(SimStatus, OldFirmwareReportsThreeFiveUntilReplaced) {
    SimOptions o{0};
    o.oldFirmware = true;
    SimProgrammer dev(o);
    const Report r = test::Host{dev}.One(Short(CMD_STATUS), RPL_STATUS);
    EXPECT_EQ(r[63], '3');
    EXPECT_EQ(r[64], '5');
    EXPECT_EQ(dev.FirmwareVersion(), "3.5");
}

TEST(SimStatus, BadStatusIsANonAProgrammerWhoseOddRepliesAreCorrupted) {
    SimOptions o{0};
    o.badStatus = true;
    SimProgrammer dev(o);
    test::Host host{dev};
    const Report first = host.One(Short(CMD_STATUS), RPL_STATUS);
    const Report second = host.One(Short(CMD_STATUS), RPL_STATUS);
    const Report third = host.One(Short(CMD_STATUS), RPL_STATUS);
    EXPECT_NE(first[61], 'A');
    EXPECT_NE(second[61], 'A');
    EXPECT_NE(first[2], Xor3To64(first));
    EXPECT_EQ(second[2], Xor3To64(second));
    EXPECT_NE(third[2], Xor3To64(third));
    // Only the checksum field is damaged; the good reply holds the true value.
    EXPECT_EQ(Be16(second, 9), 0u);
    EXPECT_EQ(dev.StatusReplies(), 3);
}

// --- Strictness of frames -------------------------------------------------

TEST(SimFrames, ShortCommandWithWrongChecksumIsRecordedAndDropped) {
    SimProgrammer dev(SimOptions{0});
    Report r = Short(CMD_STATUS);
    r[12] ^= 1;
    EXPECT_TRUE(dev.Handle(r).empty());
    ASSERT_EQ(dev.ProtocolErrors().size(), 1u);
    EXPECT_EQ(dev.ProtocolErrors()[0].rfind("CMD_STATUS: checksum byte", 0), 0u)
        << dev.ProtocolErrors()[0];
}

TEST(SimFrames, ChecksumCoversBytesTwoToEightOnly) {
    SimProgrammer dev(SimOptions{0});
    // Bytes 9..11 of the argument are outside the checksum; 13..64 are leftovers.
    Report r = Short(CMD_SET_OPTION, 0xFFFFFF00, 0x1234);
    for (std::size_t k = 13; k < kReportSize; ++k) r[k] = 0xEE;
    EXPECT_TRUE(dev.Handle(r).empty());
    EXPECT_TRUE(dev.ProtocolErrors().empty());
    ASSERT_EQ(dev.RecordedOf(CMD_SET_OPTION).size(), 1u);
    EXPECT_EQ(dev.RecordedOf(CMD_SET_OPTION)[0].argument, 0xFFFFFF00u);
}

TEST(SimFrames, ShortCommandWithWrongLengthOrAddressIsAnError) {
    SimProgrammer dev(SimOptions{0});
    Report r = Short(CMD_STATUS);
    r[2] = 5;
    r[12] = static_cast<uint8_t>(r[12] - 1);
    EXPECT_TRUE(dev.Handle(r).empty());
    Report s = Short(CMD_STATUS);
    s[5] = 1;
    s[12] = static_cast<uint8_t>(s[12] + 1);
    EXPECT_TRUE(dev.Handle(s).empty());
    EXPECT_EQ(dev.ProtocolErrors().size(), 2u);
}

TEST(SimFrames, ReportWithoutMarkerOrWithReportIdIsAnError) {
    SimProgrammer dev(SimOptions{0});
    Report r = Short(CMD_STATUS);
    r[1] = ';';
    EXPECT_TRUE(dev.Handle(r).empty());
    Report s = Short(CMD_STATUS);
    s[0] = 2;
    EXPECT_TRUE(dev.Handle(s).empty());
    EXPECT_TRUE(dev.Handle(Report{}).empty());
    EXPECT_EQ(dev.ProtocolErrors().size(), 3u);
    EXPECT_EQ(dev.StatusReplies(), 0);
}

TEST(SimFrames, UnknownCommandIsAnError) {
    SimProgrammer dev(SimOptions{0});
    EXPECT_TRUE(dev.Handle(Short(0x44)).empty());
    ASSERT_EQ(dev.ProtocolErrors().size(), 1u);
    EXPECT_EQ(dev.ProtocolErrors()[0], "command 0x44: unknown command code");
}

TEST(SimFrames, ArgumentsTheHostNeverSendsAreErrorsButStillActedOn) {
    SimProgrammer dev(SimOptions{0});
    test::Host host{dev};
    host.One(Short(CMD_STATUS, 1), RPL_STATUS);
    // Program is 0x10, not 0x08.
    const auto replies = host.Send(Short(CMD_AUTO_PROGRAM, 0x08));
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies.back()[3], RPL_AUTO_RESULT);
    EXPECT_EQ(dev.ProtocolErrors().size(), 2u);
    host.Send(Short(CMD_BLANK_CHECK, 0x17));
    host.Send(Short(CMD_AUTO_PROGRAM, 0x17));
    EXPECT_EQ(dev.ProtocolErrors().size(), 2u);
}

// --- Commands the device only records ---------------------------------------

TEST(SimRecorded, OptionModeEepromAndCalibrationAreRecordedWithoutReply) {
    SimProgrammer dev(SimOptions{0});
    test::Host host{dev};
    EXPECT_TRUE(host.Send(Short(CMD_SET_OPTION, 0x00005555)).empty());
    EXPECT_TRUE(host.Send(Short(CMD_USER_OPTION)).empty());
    EXPECT_TRUE(host.Send(Short(CMD_WRITER_MODE, 0x8FFF)).empty());
    EXPECT_TRUE(host.Send(Short(CMD_EEPROM_READ, 0x02A3)).empty());
    EXPECT_TRUE(host.Send(Short(CMD_EEPROM_WRITE, 0x0100)).empty());
    EXPECT_TRUE(host.Send(Short(CMD_OSC_CALIBRATE, 170)).empty());
    ASSERT_EQ(dev.Recorded().size(), 6u);
    EXPECT_EQ(dev.Recorded()[0].code, CMD_SET_OPTION);
    EXPECT_EQ(dev.Recorded()[0].argument, 0x5555u);
    EXPECT_EQ(dev.Recorded()[2].argument, 0x8FFFu);
    EXPECT_EQ(dev.Recorded()[3].report[8], 0xA3);
    EXPECT_EQ(dev.Recorded()[3].report[9], 0x02);
    EXPECT_EQ(dev.RecordedOf(CMD_OSC_CALIBRATE).at(0).argument, 170u);
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST(SimRecorded, ValuesOutsideTheHostsListsAreErrors) {
    SimProgrammer dev(SimOptions{0});
    test::Host host{dev};
    host.Send(Short(CMD_WRITER_MODE, 0xBFFF));   // 48K is 0x8FFF
    host.Send(Short(CMD_EEPROM_READ, 0x03A0));   // no type 3
    host.Send(Short(CMD_EEPROM_WRITE, 0x01A8));  // addresses end at 0xA7
    host.Send(Short(CMD_OSC_CALIBRATE, 20));     // 8, 32 or 170
    host.Send(Short(CMD_USER_OPTION, 1));
    EXPECT_EQ(dev.ProtocolErrors().size(), 5u);
    EXPECT_EQ(dev.Recorded().size(), 5u);
}

Report CustomCalibration(int f, int lower, int upper, int trim) {
    Report r{};
    r[1] = ':';
    r[2] = 9;
    r[3] = CMD_OSC_CALIBRATE;
    r[8] = 0x23;
    auto le = [&r](std::size_t k, int v) {
        r[k] = static_cast<uint8_t>(v);
        r[k + 1] = static_cast<uint8_t>(v >> 8);
    };
    le(9, f);
    le(11, lower);
    le(13, upper);
    le(15, trim);
    return r;
}

TEST(SimRecorded, CustomCalibrationIsCheckedAgainstItsFrequency) {
    SimProgrammer dev(SimOptions{0});
    test::Host host{dev};
    EXPECT_TRUE(host.Send(CustomCalibration(20000, 35964, 36036, 511)).empty());
    EXPECT_TRUE(host.Send(CustomCalibration(14000, 51428, 51502, 11)).empty());
    EXPECT_TRUE(host.Send(CustomCalibration(16000, 45000, 45056, 178)).empty());
    EXPECT_TRUE(dev.ProtocolErrors().empty());
    ASSERT_EQ(dev.RecordedOf(CMD_OSC_CALIBRATE).size(), 3u);
    EXPECT_EQ(dev.RecordedOf(CMD_OSC_CALIBRATE)[0].argument, 0x23u);
    EXPECT_EQ(dev.RecordedOf(CMD_OSC_CALIBRATE)[2].report[9], 0x80);  // 16000 = 0x3E80

    host.Send(CustomCalibration(16000, 45000, 45056, 179));
    host.Send(CustomCalibration(13999, 0, 0, 0));
    EXPECT_EQ(dev.ProtocolErrors().size(), 2u);
}

// --- RPL_RESEND ---------------------------------------------------------------

TEST(SimResend, EveryNthReportIsAskedForAgainAndTheRepeatIsActedOn) {
    SimOptions o{0};
    o.resendEvery = 2;
    SimProgrammer dev(o);
    test::Host host{dev};
    host.One(Short(CMD_STATUS), RPL_STATUS);         // report 1
    host.One(Short(CMD_STATUS), RPL_RESEND);         // report 2
    host.One(Short(CMD_STATUS), RPL_STATUS);         // its repeat: not counted
    host.One(Short(CMD_STATUS), RPL_STATUS);         // report 3
    host.One(Short(CMD_ERASE_STORAGE), RPL_RESEND);  // report 4
    host.One(Short(CMD_ERASE_STORAGE), RPL_STORAGE_ERASED);
    EXPECT_EQ(dev.ResendRequests(), 2);
    EXPECT_EQ(dev.StatusReplies(), 3);
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

TEST(SimResend, AnAllZeroRepeatIsAnErrorAndIsNotActedOn) {
    SimOptions o{0};
    o.resendEvery = 2;
    SimProgrammer dev(o);
    test::Host host{dev};
    host.One(test::FileRequest(), RPL_DOWNLOAD_READY);
    host.One(test::Begin(), RPL_RESEND);
    EXPECT_TRUE(dev.Handle(Report{}).empty());
    ASSERT_EQ(dev.ProtocolErrors().size(), 1u);
    EXPECT_NE(dev.ProtocolErrors()[0].find("all-zero"), std::string::npos);
}

TEST(SimResend, DifferentRepeatIsAnError) {
    SimOptions o{0};
    o.resendEvery = 1;
    SimProgrammer dev(o);
    test::Host host{dev};
    host.One(Short(CMD_STATUS), RPL_RESEND);
    host.One(Short(CMD_ERASE_STORAGE), RPL_STORAGE_ERASED);
    ASSERT_EQ(dev.ProtocolErrors().size(), 1u);
    EXPECT_NE(dev.ProtocolErrors()[0].find("RPL_RESEND"), std::string::npos);
}

TEST(SimResend, DownloadWithResendsStoresTheSameImage) {
    SimOptions o{0};
    o.resendEvery = 3;
    SimProgrammer dev(o);
    test::Host host{dev};
    auto send = [&](const Report& r) {
        auto replies = host.Send(r);
        if (replies.size() == 1 && replies[0][3] == RPL_RESEND) replies = host.Send(r);
        return replies;
    };
    EXPECT_EQ(test::Codes(send(test::FileRequest())), std::vector<uint8_t>{RPL_DOWNLOAD_READY});
    EXPECT_EQ(test::Codes(send(test::Begin())), std::vector<uint8_t>{RPL_BLOCK_ACK});
    for (unsigned i = 0; i < 8; ++i) {
        const auto replies = send(test::Block(i * 59, test::Bytes(59, static_cast<uint8_t>(i))));
        ASSERT_EQ(test::Codes(replies), std::vector<uint8_t>{RPL_BLOCK_ACK});
        EXPECT_EQ(Be16(replies[0], 5), (i + 1) * 59);
    }
    const auto done = send(test::End(8 * 59 - 1, 0xFF));
    ASSERT_EQ(test::Codes(done), std::vector<uint8_t>{RPL_DOWNLOAD_DONE});
    EXPECT_EQ(dev.ImageLength(), 8u * 59);
    EXPECT_EQ(dev.Storage()[59], 1);
    EXPECT_GE(dev.ResendRequests(), 3);
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

// --- Determinism and logs -----------------------------------------------------

TEST(SimProgrammerLog, SameReportsGiveTheSameReplies) {
    auto script = [](SimProgrammer& dev) {
        std::vector<Report> all;
        test::Host host{dev};
        auto add = [&all](const std::vector<Report>& v) {
            all.insert(all.end(), v.begin(), v.end());
        };
        add(host.Send(Short(CMD_STATUS)));
        add(host.Send(test::FileRequest()));
        add(host.Send(test::Begin()));
        add(host.Send(test::Block(0, test::Bytes(40, 7))));
        add(host.Send(test::End(39, 0xFF)));
        add(host.Send(Short(CMD_AUTO_PROGRAM, 0x17)));
        add(host.Send(Short(CMD_READ_CHIP)));
        return all;
    };
    SimOptions o{0};
    o.resendEvery = 4;
    SimProgrammer a(o), b(o);
    EXPECT_EQ(script(a), script(b));
}

TEST(SimProgrammerLog, ReceivedKeepsEveryReportAndClearLogsForgetsThem) {
    SimProgrammer dev(SimOptions{0});
    dev.Handle(Short(CMD_STATUS));
    dev.Handle(Short(0x44));
    dev.Handle(Short(CMD_SET_OPTION, 5));
    ASSERT_EQ(dev.Received().size(), 3u);
    EXPECT_EQ(dev.Received()[1][3], 0x44);
    dev.ClearLogs();
    EXPECT_TRUE(dev.Received().empty());
    EXPECT_TRUE(dev.Recorded().empty());
    EXPECT_TRUE(dev.ProtocolErrors().empty());
}

}  // namespace
}  // namespace qrv::sim
