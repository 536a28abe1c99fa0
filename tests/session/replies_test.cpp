// The reply families other than the status: outcomes of the steps, the end of
// a run, the download handshake, checksums, messages and read-back blocks.
#include <gtest/gtest.h>

#include "tests/mainwin/session_fixture.h"

namespace qrv {
namespace {

using test::MakeReply;

struct Replies : test::SessionTest {
    void SetUp() override { Connect(); }
    // Shows every mark and puts every bar at 50.
    void FillDisplay() {
        for (int n = 2; n <= 9; ++n) s.form.Image(n).visible = true;
        for (int n = 1; n <= 5; ++n) s.form.Bar(n).position = 50;
    }
    Report Outcome(uint8_t code, int status, unsigned count = 0) {
        return MakeReply(code, {{6, status}, {7, int(count >> 8)}, {8, int(count & 0xFF)}});
    }
};

TEST_F(Replies, ProgressIsTheCountAgainstTheImageLength) {
    s.ImageLength = 0x1000;
    s.form.Image4.visible = false;
    Reply(Outcome(RPL_PROGRAM, 0, 0x0800));
    EXPECT_EQ(s.form.ProgressBar3.position, 50);
    Reply(Outcome(RPL_PROGRAM, 0, 0x0FFF));
    EXPECT_EQ(s.form.ProgressBar3.position, 99);  // truncated
    EXPECT_FALSE(s.form.Image4.visible);
}

TEST_F(Replies, ProgressWithImageLengthZeroFillsTheBar) {
    s.ImageLength = 0;
    Reply(Outcome(RPL_VERIFY, 0, 0x10));
    EXPECT_EQ(s.form.ProgressBar4.position, 100);
}

TEST_F(Replies, ProgressBeyondTheImageStaysWithinTheBar) {
    s.ImageLength = 0x100;
    Reply(Outcome(RPL_ERASE, 0, 0xFFFF));
    EXPECT_EQ(s.form.ProgressBar2.position, 100);
}

TEST_F(Replies, PassedAndFailedShowTheirMarkAndFillTheBar) {
    for (const StepRow& row : kStepRows) {
        Reply(Outcome(row.reply, 1));
        EXPECT_TRUE(s.form.Image(row.passImage).visible) << row.name;
        EXPECT_FALSE(s.form.Image(row.failImage).visible) << row.name;
        EXPECT_EQ(s.form.Bar(row.bar).position, 100) << row.name;
        Reply(Outcome(row.reply, 2));
        EXPECT_FALSE(s.form.Image(row.passImage).visible) << row.name;
        EXPECT_TRUE(s.form.Image(row.failImage).visible) << row.name;
        EXPECT_EQ(s.form.Bar(row.bar).position, 100) << row.name;
    }
    // A failed step leaves the result panel to the end of the run.
    EXPECT_EQ(s.form.Panel1.caption, "等待编程");
}

TEST_F(Replies, ABlankCheckOutcomeResetsTheLaterSteps) {
    for (int status : {1, 2}) {
        FillDisplay();
        Reply(Outcome(RPL_BLANK_CHECK, status));
        for (int n = 2; n <= 5; ++n) EXPECT_EQ(s.form.Bar(n).position, 0) << n;
        for (int n : {3, 4, 5, 7, 8, 9}) EXPECT_FALSE(s.form.Image(n).visible) << n;
        EXPECT_EQ(s.form.Image2.visible, status == 1);
        EXPECT_EQ(s.form.Image6.visible, status == 2);
    }
}

TEST_F(Replies, AnEraseOutcomeResetsProgramAndVerifyButNotTheBlankCheck) {
    FillDisplay();
    Reply(Outcome(RPL_ERASE, 1));
    EXPECT_EQ(s.form.ProgressBar1.position, 50);
    EXPECT_TRUE(s.form.Image2.visible);
    EXPECT_TRUE(s.form.Image6.visible);
    for (int n : {3, 4, 5}) EXPECT_EQ(s.form.Bar(n).position, 0) << n;
    for (int n : {4, 5, 8, 9}) EXPECT_FALSE(s.form.Image(n).visible) << n;
    EXPECT_FALSE(s.form.Image7.visible);
}

TEST_F(Replies, ProgramAndVerifyOutcomesLeaveTheOtherRows) {
    FillDisplay();
    Reply(Outcome(RPL_PROGRAM, 1));
    Reply(Outcome(RPL_VERIFY, 1));
    EXPECT_EQ(s.form.ProgressBar1.position, 50);
    EXPECT_EQ(s.form.ProgressBar2.position, 50);
    EXPECT_EQ(s.form.ProgressBar5.position, 50);
    EXPECT_TRUE(s.form.Image2.visible);
    EXPECT_TRUE(s.form.Image7.visible);
}

TEST_F(Replies, OtherOutcomeStatusesChangeNothing) {
    FillDisplay();
    Reply(Outcome(RPL_BLANK_CHECK, 3, 0x100));
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(s.form.Bar(n).position, 50);
    for (int n = 2; n <= 9; ++n) EXPECT_TRUE(s.form.Image(n).visible);
}

TEST_F(Replies, AutoResultReadsTheCounterFromBytes10_9_7_8) {
    Reply(MakeReply(RPL_AUTO_RESULT, {{6, 0}, {7, 0x01}, {8, 0x2C}, {9, 0x00}, {10, 0x02}}));
    EXPECT_EQ(s.form.Edit4.text, "33554732");
    EXPECT_EQ(s.form.Panel1.caption, "编程成功");
    EXPECT_EQ(s.form.Panel1.color, 0x008000u);
    Reply(MakeReply(RPL_AUTO_RESULT, {{6, 1}, {7, 0x00}, {8, 0x00}, {9, 0x01}, {10, 0x00}}));
    EXPECT_EQ(s.form.Edit5.text, "65536");
    EXPECT_EQ(s.form.Panel1.caption, "编程失败");
    EXPECT_EQ(s.form.Panel1.color, 0x0000FFu);
    EXPECT_EQ(s.form.Edit4.text, "33554732");
}

TEST_F(Replies, AutoResultAnyStatusButOneIsSuccessAndCountersAreSigned) {
    Reply(MakeReply(RPL_AUTO_RESULT, {{6, 2}, {7, 0xFF}, {8, 0xFF}, {9, 0xFF}, {10, 0xFF}}));
    EXPECT_EQ(s.form.Panel1.caption, "编程成功");
    EXPECT_EQ(s.form.Edit4.text, "-1");
    EXPECT_EQ(s.form.Edit5.text, "0");
}

TEST_F(Replies, ProtectionAndOptionResultsSetThePanel) {
    Reply(MakeReply(RPL_PROTECT_RESULT, {{6, 1}}));
    EXPECT_EQ(s.form.Panel1.caption, "程序/数据保护成功!");
    EXPECT_EQ(s.form.Panel1.color, 0x008000u);
    Reply(MakeReply(RPL_PROTECT_RESULT, {{6, 2}}));
    EXPECT_EQ(s.form.Panel1.caption, "程序/数据保护失败!");
    EXPECT_EQ(s.form.Panel1.color, 0x0000FFu);
    Reply(MakeReply(RPL_OPTION_RESULT, {{6, 1}}));
    EXPECT_EQ(s.form.Panel1.caption, "User option编程成功");
    Reply(MakeReply(RPL_OPTION_RESULT, {{6, 2}}));
    EXPECT_EQ(s.form.Panel1.caption, "User option编程失败");
    Reply(MakeReply(RPL_OPTION_RESULT, {{6, 0}}));
    EXPECT_EQ(s.form.Panel1.caption, "User option编程失败");
    EXPECT_EQ(s.form.Panel1.color, 0x0000FFu);
}

TEST_F(Replies, TheFirstBlockAckShowsTheDownloadBarInPlaceOfTheFileBox) {
    int blocks = 0;
    s.hooks.SendNextBlock = [&] { ++blocks; };
    s.form.ProgressBar5.position = 77;
    Reply(MakeReply(RPL_BLOCK_ACK));
    EXPECT_FALSE(s.form.Edit1.visible);
    EXPECT_TRUE(s.form.ProgressBar5.visible);
    EXPECT_EQ(s.form.ProgressBar5.position, 0);
    EXPECT_EQ(blocks, 1);
}

TEST_F(Replies, BlockAckMovesTheBarByTheReceivedAmountInBytes5And6) {
    int blocks = 0, firmware = 0;
    s.hooks.SendNextBlock = [&] { ++blocks; };
    s.hooks.SendFirmwareBlock = [&] { ++firmware; };
    s.ImageLength = 0x0400;
    Reply(MakeReply(RPL_BLOCK_ACK, {{4, 0x7F}, {5, 0x01}, {6, 0x00}}));
    EXPECT_EQ(s.form.ProgressBar5.position, 25);
    s.ImageLength = 0;
    Reply(MakeReply(RPL_BLOCK_ACK, {{6, 0x3B}}));
    EXPECT_EQ(s.form.ProgressBar5.position, 100);
    EXPECT_EQ(blocks, 2);
    EXPECT_EQ(firmware, 0);
}

TEST_F(Replies, BlockAckDuringAFirmwareReplacementSendsTheNextFirmwareBlock) {
    int blocks = 0, firmware = 0;
    s.hooks.SendNextBlock = [&] { ++blocks; };
    s.hooks.SendFirmwareBlock = [&] {
        ++firmware;
        // The progress is shown before the next block goes out.
        EXPECT_EQ(s.form.ProgressBar5.position, 50);
    };
    s.buffer.UpdateMode() = 0xBB;
    s.ImageLength = 0xDFD8;
    Reply(MakeReply(RPL_BLOCK_ACK, {{5, 0x6F}, {6, 0xEC}}));
    EXPECT_EQ(firmware, 1);
    EXPECT_EQ(blocks, 0);
}

TEST_F(Replies, DownloadDoneShowsTheStoredChecksumAndRaisesTheEndAddress) {
    s.form.Edit1.visible = false;
    s.form.ProgressBar5.visible = true;
    s.EndAddress = 0x1000;
    s.buffer.FileKind() = 0x01;
    Reply(MakeReply(RPL_DOWNLOAD_DONE, {{6, 3}, {7, 0xAB}, {8, 0xCD}, {11, 0x20}, {12, 0x00}}));
    EXPECT_EQ(s.form.Edit3.text, "ABCDH");
    EXPECT_TRUE(s.form.Edit1.visible);
    EXPECT_FALSE(s.form.ProgressBar5.visible);
    EXPECT_EQ(s.buffer.LastDownloadStatus(), 3);
    EXPECT_EQ(s.EndAddress, 0x2000);
    Reply(MakeReply(RPL_DOWNLOAD_DONE, {{11, 0x10}, {12, 0x00}}));
    EXPECT_EQ(s.EndAddress, 0x2000);
}

TEST_F(Replies, DownloadDoneOfAPlainImageOpensTheOptionChooserAfterClearing) {
    int shown = 0;
    s.hooks.ShowOptionChooserAfterDownload = [&] {
        ++shown;
        EXPECT_TRUE(DeviceReportClear());
        EXPECT_EQ(s.form.Edit3.text, "0102H");
    };
    s.buffer.FileKind() = 0x00;
    Reply(MakeReply(RPL_DOWNLOAD_DONE, {{7, 1}, {8, 2}}));
    EXPECT_EQ(shown, 0);
    s.buffer.FileKind() = 0xFF;
    Reply(MakeReply(RPL_DOWNLOAD_DONE, {{7, 1}, {8, 2}}));
    EXPECT_EQ(shown, 1);
}

TEST_F(Replies, StorageErasedAndChecksumTexts) {
    Reply(MakeReply(RPL_STORAGE_ERASED));
    EXPECT_EQ(s.form.Edit1.text, "擦除整片FLASH成功!");
    Reply(MakeReply(RPL_CHECKSUM, {{7, 0x0F}, {8, 0xE1}}));
    EXPECT_EQ(s.ImageChecksum, 0x0FE1);
    EXPECT_EQ(s.form.Edit3.text, "0FE1 H");
}

TEST_F(Replies, NoChipAndModelMismatchShowTheirMessages) {
    Reply(MakeReply(RPL_NO_CHIP));
    Reply(MakeReply(RPL_MODEL_MISMATCH));
    EXPECT_EQ(ui.messages,
              (std::vector<std::string>{"没有检测到芯片，请放入芯片!", "芯片与烧录型号不同"}));
}

TEST_F(Replies, ReadBackBlocksGoToTheirHandlersWhileTheyFitTheReport) {
    std::vector<int> chip, cache;
    s.hooks.ChipBlock = [&] { chip.push_back(s.buffer.Device(2)); };
    s.hooks.CacheBlock = [&] { cache.push_back(s.buffer.Device(2)); };
    Reply(MakeReply(RPL_CHIP_BLOCK, {{2, 58}}));
    Reply(MakeReply(RPL_CHIP_BLOCK, {{2, 59}}));  // would read past the report
    Reply(MakeReply(RPL_CACHE_BLOCK, {{2, 59}}));
    Reply(MakeReply(RPL_CACHE_BLOCK, {{2, 255}}));  // would read past the report
    EXPECT_EQ(chip, std::vector<int>{58});
    EXPECT_EQ(cache, std::vector<int>{59});
    EXPECT_TRUE(DeviceReportClear());
}

TEST_F(Replies, UnknownCodesChangeNothing) {
    Reply(MakeReply(0x00, {{6, 1}}));
    Reply(MakeReply(0x99, {{6, 1}}));
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(s.form.Panel1.caption, "等待编程");
    EXPECT_TRUE(ui.messages.empty());
}

class EveryReply : public test::SessionTest, public ::testing::WithParamInterface<int> {};

TEST_P(EveryReply, EndsWithTheDeviceReportCleared) {
    Connect();
    Report r = MakeReply(static_cast<uint8_t>(GetParam()));
    for (std::size_t k = 4; k < kReportSize; ++k) r[k] = static_cast<uint8_t>(k);
    r[2] = 16;
    r[6] = 1;
    Reply(r);
    EXPECT_TRUE(DeviceReportClear());
}

INSTANTIATE_TEST_SUITE_P(Replies, EveryReply,
                         ::testing::Values(RPL_PROTECT_RESULT, RPL_OPTION_RESULT, RPL_CACHE_BLOCK,
                                           RPL_DOWNLOAD_DONE, RPL_BLANK_CHECK, RPL_ERASE,
                                           RPL_VERIFY, RPL_AUTO_RESULT, RPL_DOWNLOAD_ERROR,
                                           RPL_CHIP_BLOCK, RPL_PROGRAM, RPL_STATUS,
                                           RPL_STORAGE_ERASED, RPL_CHECKSUM, RPL_MODEL_MISMATCH,
                                           RPL_BLOCK_ACK, RPL_NO_CHIP, RPL_RESEND,
                                           RPL_DOWNLOAD_READY, 0x00, 0xFF));

}  // namespace
}  // namespace qrv
