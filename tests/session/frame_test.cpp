// Byte-exact command frames: the short command, the download begin written on
// RPL_DOWNLOAD_READY, and the repeat on RPL_RESEND.
#include <gtest/gtest.h>

#include "tests/mainwin/session_fixture.h"

namespace qrv {
namespace {

using test::MakeReply;

TEST(ShortCommand, StatusFrameCarriesEndAddressHighByteFirstAndChecksumOverBytes2To8) {
    uint8_t report[kReportSize];
    std::fill(std::begin(report), std::end(report), uint8_t{0xAA});
    BuildShortCommand(report, CMD_STATUS, 0, 0x1234);
    const uint8_t expected[13] = {0x00, 0x3A, 0x06, 0x35, 0x00, 0x00, 0x12,
                                  0x34, 0x00, 0x00, 0x00, 0x00, 0x81};
    for (int k = 0; k < 13; ++k) EXPECT_EQ(report[k], expected[k]) << "byte " << k;
    for (std::size_t k = 13; k < kReportSize; ++k) EXPECT_EQ(report[k], 0xAA) << "byte " << k;
}

TEST(ShortCommand, ArgumentGoesLowByteFirstAndOnlyItsLowByteEntersTheChecksum) {
    uint8_t report[kReportSize] = {};
    BuildShortCommand(report, CMD_AUTO_PROGRAM, 0x01020304, 0);
    EXPECT_EQ(report[8], 0x04);
    EXPECT_EQ(report[9], 0x03);
    EXPECT_EQ(report[10], 0x02);
    EXPECT_EQ(report[11], 0x01);
    EXPECT_EQ(report[12], static_cast<uint8_t>(6 + 0x1F + 0x04));
}

TEST(ShortCommand, ChecksumKeepsTheLowEightBitsOfTheSum) {
    uint8_t report[kReportSize] = {};
    BuildShortCommand(report, CMD_DOWNLOAD_ABORT, 0xFF, 0xFFFF);
    EXPECT_EQ(report[12], static_cast<uint8_t>(6 + 0x9F + 0xFF + 0xFF + 0xFF));
}

struct Frames : test::SessionTest {};

TEST_F(Frames, SendCommandWritesTheFrameAndLeavesTheRestOfTheHostReport) {
    Connect();
    for (std::size_t k = 13; k < kReportSize; ++k) s.buffer.Host(k) = static_cast<uint8_t>(k);
    s.EndAddress = 0x1234;
    s.SendCommand(CMD_STATUS, 0);
    ASSERT_EQ(Written().size(), 1u);
    const Report w = LastWritten();
    EXPECT_EQ(w[3], 0x35);
    EXPECT_EQ(w[12], 0x81);
    for (std::size_t k = 13; k < kReportSize; ++k) EXPECT_EQ(w[k], k);
    // The HostReport is not cleared after a short command.
    EXPECT_EQ(s.buffer.Host(3), 0x35);
}

TEST_F(Frames, SendCommandWithoutProgrammerWritesNothingAndBuildsNothing) {
    s.SendCommand(CMD_STATUS, 0);
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(s.buffer.Host(1), 0);
}

TEST_F(Frames, ResendAfterAShortCommandRepeatsItByteForByte) {
    Connect();
    s.EndAddress = 0x0FFF;
    s.SendCommand(CMD_VERIFY, 0);
    Reply(MakeReply(RPL_RESEND));
    auto w = Written();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0], w[1]);
}

TEST_F(Frames, DownloadReadyWritesBeginOverTheOldReportThenClearsIt) {
    Connect();
    for (std::size_t k = 0; k < kReportSize; ++k) s.buffer.Host(k) = 0x55;
    s.StartAddress = 0x0102;
    s.EndAddress = 0xDFD8;
    Reply(MakeReply(RPL_DOWNLOAD_READY));
    ASSERT_EQ(Written().size(), 1u);
    const Report w = LastWritten();
    const uint8_t head[8] = {0x00, 0x3A, 0x04, 0x25, 0x01, 0x02, 0xDF, 0xD8};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(w[static_cast<std::size_t>(k)], head[k]) << "byte " << k;
    for (std::size_t k = 8; k < kReportSize; ++k) EXPECT_EQ(w[k], 0x55) << "byte " << k;
    for (std::size_t k = 0; k < kReportSize; ++k) EXPECT_EQ(s.buffer.Host(k), 0) << "byte " << k;
    // A resend after the cleared begin writes the begin again, not 65 zero bytes.
    Reply(MakeReply(RPL_RESEND));
    EXPECT_EQ(LastWritten(), w);
}

TEST_F(Frames, DownloadErrorSendsTheAbortCommand) {
    Connect();
    s.EndAddress = 0x0200;
    Reply(MakeReply(RPL_DOWNLOAD_ERROR, {{6, 1}}));
    ASSERT_EQ(Written().size(), 1u);
    const Report w = LastWritten();
    EXPECT_EQ(w[3], CMD_DOWNLOAD_ABORT);
    EXPECT_EQ(w[6], 0x02);
    EXPECT_EQ(w[8], 0);
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{"下载文件出错，请重新下载文件!"});
}

TEST_F(Frames, DownloadErrorWithOtherStatusDoesNothing) {
    Connect();
    s.form.RichEdit1.lines = {"  QRV Writer connected"};
    Reply(MakeReply(RPL_DOWNLOAD_ERROR, {{6, 2}}));
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{"  QRV Writer connected"});
}

}  // namespace
}  // namespace qrv
