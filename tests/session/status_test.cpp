// RPL_STATUS: addresses, step boxes through their click rules, counters, the
// stored file kind and model, the firmware version and the integrity retry.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/mainwin/session_fixture.h"

namespace qrv {
namespace {

// A status reply of an 'A' programmer with firmware 3.6 and a plain image.
struct StatusReply {
    Report r = test::MakeReply(RPL_STATUS, {{26, 0xFF}, {61, 'A'}, {63, '3'}, {64, '6'}});

    StatusReply& Set(int k, int v) {
        r[static_cast<std::size_t>(k)] = static_cast<uint8_t>(v);
        return *this;
    }
    StatusReply& Set16(int k, unsigned v) { return Set(k, int(v >> 8)).Set(k + 1, int(v & 0xFF)); }
    StatusReply& Set32(int k, uint32_t v) {
        for (int i = 0; i < 4; ++i) Set(k + i, int((v >> (24 - 8 * i)) & 0xFF));
        return *this;
    }
    StatusReply& Model(const char* name) {
        std::memcpy(r.data() + 50, name, std::min<std::size_t>(std::strlen(name), 11));
        return *this;
    }
    // Sets byte 2 to the XOR of bytes 3..64 (or a wrong value).
    StatusReply& Integrity(bool good = true) {
        uint8_t x = 0;
        for (std::size_t k = 3; k < kReportSize; ++k) x ^= r[k];
        r[2] = good ? x : static_cast<uint8_t>(x ^ 0x5A);
        return *this;
    }
    StatusReply& Version(char major, char minor) { return Set(63, major).Set(64, minor); }
};

struct Status : test::SessionTest {
    void SetUp() override { Connect(); }
};

TEST_F(Status, SetsTheWorkingValuesAndTheChecksumText) {
    Reply(StatusReply{}.Set16(5, 0x0100).Set16(7, 0x7FFF).Set16(9, 0x1A2B).r);
    EXPECT_EQ(s.StartAddress, 0x0100);
    EXPECT_EQ(s.ImageLength, 0x7FFF);
    EXPECT_EQ(s.EndAddress, 0x7FFF);
    EXPECT_EQ(s.ImageChecksum, 0x1A2B);
    EXPECT_EQ(s.form.Edit3.text, "1A2BH");
    EXPECT_TRUE(DeviceReportClear());
}

TEST_F(Status, StepBitsCheckTheirBoxesWhoseRulesSetStepFlags) {
    Reply(StatusReply{}.Set(12, 0x05).r);
    EXPECT_TRUE(s.form.CheckBox1.Checked());
    EXPECT_FALSE(s.form.CheckBox2.Checked());
    EXPECT_TRUE(s.form.CheckBox3.Checked());
    EXPECT_TRUE(s.form.CheckBox4.Checked());
    EXPECT_EQ(s.StepFlags, 0x15);
}

TEST_F(Status, ClearBitsUncheckNothing) {
    s.form.CheckBox2.Click();
    Reply(StatusReply{}.Set(12, 0x00).r);
    EXPECT_TRUE(s.form.CheckBox2.Checked());
    EXPECT_EQ(s.StepFlags, 0x12);
}

TEST_F(Status, SecondStepByteChecksOnlyItsFirstMatch) {
    Reply(StatusReply{}.Set(62, 0x06).r);
    EXPECT_FALSE(s.form.CheckBox1.Checked());
    EXPECT_TRUE(s.form.CheckBox2.Checked());
    EXPECT_FALSE(s.form.CheckBox4.Checked());
    EXPECT_EQ(s.StepFlags, 0x12);
}

TEST_F(Status, CountersAreSignedThirtyTwoBitNumbers) {
    Reply(StatusReply{}.Set32(18, 4294967295u).Set32(22, 0x0001E240).r);
    EXPECT_EQ(s.form.Edit4.text, "-1");
    EXPECT_EQ(s.form.Edit5.text, "123456");
}

TEST_F(Status, AProductionFileDisablesTheStepControlsAndShowsItsModel) {
    Reply(StatusReply{}.Set(26, 0x01).Model("QRV32F103C8").r);
    EXPECT_EQ(s.buffer.FileKind(), 0x01);
    for (int n = 1; n <= 4; ++n) EXPECT_FALSE(s.form.StepBox(n).enabled) << n;
    for (int n = 3; n <= 6; ++n) EXPECT_FALSE(s.form.StepButton(n).enabled) << n;
    EXPECT_TRUE(s.form.Button2.enabled);
    EXPECT_EQ(s.form.Edit2.text, "QRV32F103C8");
}

TEST_F(Status, AShortModelNameEndsAtItsFirstZeroByte) {
    Reply(StatusReply{}.Set(26, 0x00).Model("QRV003").r);
    EXPECT_EQ(s.form.Edit2.text, "QRV003");
}

TEST_F(Status, APlainImageEnablesNothing) {
    s.form.Button3.enabled = false;
    s.form.Edit2.text = "old";
    Reply(StatusReply{}.r);
    EXPECT_EQ(s.buffer.FileKind(), 0xFF);
    EXPECT_FALSE(s.form.Button3.enabled);
    EXPECT_EQ(s.form.Edit2.text, "old");
}

TEST_F(Status, EnablesTheConnectButtonAndLeavesNotBusy) {
    s.form.Button7.enabled = false;
    Reply(StatusReply{}.r);
    EXPECT_TRUE(s.form.Button7.enabled);
    EXPECT_EQ(s.StatusBusy, 0);
}

TEST_F(Status, AStatusArrivingWhileAnotherIsHandledIsDropped) {
    s.StatusBusy = 1;
    s.form.Button7.enabled = false;
    Reply(StatusReply{}.Set16(7, 0x1000).Set32(18, 7).r);
    EXPECT_EQ(s.EndAddress, 0);
    EXPECT_EQ(s.form.Edit4.text, "0");
    EXPECT_FALSE(s.form.Button7.enabled);
    EXPECT_TRUE(DeviceReportClear());
}

struct VersionCase {
    char major, minor;
    const char* caption;  // nullptr: the update is offered
};

class FirmwareVersion : public test::SessionTest,
                        public ::testing::WithParamInterface<VersionCase> {};

TEST_P(FirmwareVersion, CaptionOrUpdateOffer) {
    Connect();
    const VersionCase& c = GetParam();
    s.form.caption = "QRV Writer V2.6 QRV Writer connected";
    s.form.Button16.visible = !c.caption;  // must change either way
    Reply(StatusReply{}.Version(c.major, c.minor).r);
    if (c.caption) {
        EXPECT_EQ(s.form.caption, c.caption);
        EXPECT_FALSE(s.form.Button16.visible);
        EXPECT_TRUE(ui.messages.empty());
    } else {
        EXPECT_EQ(s.form.caption, "QRV Writer V2.6 QRV Writer connected");
        EXPECT_TRUE(s.form.Button16.visible);
        EXPECT_EQ(ui.messages, std::vector<std::string>{"The firmware can update now,if you want "
                                                        "to update,please click update button."});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Status, FirmwareVersion,
    ::testing::Values(VersionCase{'3', '6', " QRV MCU Writer V3.6"},
                      VersionCase{'3', '9', " QRV MCU Writer V3.9"},
                      VersionCase{'3', ':', " QRV MCU Writer V3.10"},
                      VersionCase{'3', ';', " QRV MCU Writer V3.11"},
                      VersionCase{'3', 'D', " QRV MCU Writer V3.20"},
                      VersionCase{'3', 'E', " QRV MCU Writer V3"},
                      // A newer major version is not offered the older firmware.
                      VersionCase{'4', '0', " QRV MCU Writer V4.0"},
                      VersionCase{'4', '5', " QRV MCU Writer V4.5"},
                      VersionCase{':', '1', " QRV MCU Writer VA.1"}, VersionCase{'3', '5', nullptr},
                      VersionCase{'2', '9', nullptr}, VersionCase{'2', 'D', nullptr},
                      VersionCase{'\0', '\0', nullptr}));

TEST(FirmwareOrder, ComparesMajorThenMinor) {
    EXPECT_TRUE(FirmwareOlderThanExpected('3', '5'));
    EXPECT_FALSE(FirmwareOlderThanExpected('3', '6'));
    EXPECT_FALSE(FirmwareOlderThanExpected('4', '0'));
    EXPECT_TRUE(FirmwareOlderThanExpected('2', 'D'));
}

TEST_F(Status, NoVersionHandlingDuringAFirmwareReplacement) {
    s.buffer.UpdateMode() = 0xBB;
    s.form.caption = "before";
    Reply(StatusReply{}.Version('2', '0').r);
    EXPECT_EQ(s.form.caption, "before");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(s.form.Button16.visible);
}

TEST_F(Status, OtherProgrammersGetXAppendedAndAGoodStatusIsNotAskedAgain) {
    s.form.caption = "QRV Writer V2.6 QRV Writer connected";
    s.form.Button16.visible = true;
    Reply(StatusReply{}.Set(61, 'B').Integrity().r);
    EXPECT_EQ(s.form.caption, "QRV Writer V2.6 QRV Writer connected X");
    EXPECT_FALSE(s.form.Button16.visible);
    EXPECT_TRUE(Written().empty());
    EXPECT_FALSE(s.StatusRetried());
}

TEST_F(Status, ACorruptedStatusIsAppliedThenAskedForAgain) {
    s.form.caption = "c";
    Reply(StatusReply{}.Set(61, 'B').Set32(18, 5).Integrity(false).r);
    EXPECT_EQ(s.form.Edit4.text, "5");
    ASSERT_EQ(Written().size(), 1u);
    EXPECT_EQ(LastWritten()[3], CMD_STATUS);
    EXPECT_EQ(LastWritten()[8], 0);
    EXPECT_TRUE(s.StatusRetried());
    // The retried reply leaves a second " X".
    Reply(StatusReply{}.Set(61, 'B').Integrity().r);
    EXPECT_EQ(s.form.caption, "c X X");
    EXPECT_FALSE(s.StatusRetried());
}

TEST_F(Status, TheIntegrityOfAnAProgrammerIsNotChecked) {
    Reply(StatusReply{}.Integrity(false).r);
    EXPECT_TRUE(Written().empty());
}

TEST_F(Status, AStatusThatStaysCorruptedIsAskedForABoundedNumberOfTimes) {
    s.form.caption = "c";
    for (int i = 0; i < kMaxStatusRetries + 3; ++i)
        Reply(StatusReply{}.Set(61, 'B').Integrity(false).r);
    EXPECT_EQ(Written().size(), static_cast<std::size_t>(kMaxStatusRetries));
    EXPECT_TRUE(s.StatusUnreadable());
    EXPECT_EQ(s.form.RichEdit1.lines, std::vector<std::string>{kStatusUnreadable});
    EXPECT_EQ(s.form.caption.size(), 1 + 2 * static_cast<std::size_t>(kMaxStatusRetries + 3));
    // A reconnection asks afresh.
    s.ConnectProgrammer();
    EXPECT_FALSE(s.StatusUnreadable());
}

}  // namespace
}  // namespace qrv
