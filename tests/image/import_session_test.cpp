// "导入文件" in the main window's session, with the replies handed in by the test.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <optional>

#include "common/hex.h"
#include "tests/image/loader_fixture.h"
#include "tests/mainwin/session_fixture.h"
#include "tests/support/temp_file.h"

namespace qrv::test {
namespace {

const std::vector<std::string> kPlain = {":020000040000FA", DataRecord(0, Counting(16)),
                                         DataRecord(16, Counting(16, 16)), ":00000001FF"};

std::vector<std::string> Production() {
    std::vector<uint8_t> block = {0x00, 0x00, 0x7F, 0xFF, 0x85};
    for (char c : std::string("QM-017ABCDE")) block.push_back(static_cast<uint8_t>(c));
    block.insert(block.end(), {0x5A, 0x12, 0x03, 0x01, 0x09});
    return {":10000022414D4354321", ":05000022415344330241420C",
            ":15000022515256" + HexBytes(block.data(), block.size()), DataRecord(0, Counting(16))};
}

struct ImportTest : SessionTest {
    void SetUp() override { Connect(); }
    void Import(const std::string& path) {
        ui.openAnswers.push_back(path);
        ASSERT_EQ(s.BitBtn1Click(), ImportResult::Requested);
    }
    // Answers as the programmer does until the loader sends CMD_DOWNLOAD_END.
    void Handshake() {
        Reply(MakeReply(RPL_DOWNLOAD_READY));
        ASSERT_EQ(LastWritten()[3], CMD_DOWNLOAD_BEGIN);
        for (int n = 0; n < 1000 && LastWritten()[3] != CMD_DOWNLOAD_END; ++n)
            Reply(MakeReply(RPL_BLOCK_ACK, {{6, n == 0 ? 0 : 16}}));
        ASSERT_EQ(LastWritten()[3], CMD_DOWNLOAD_END);
    }
};

TEST_F(ImportTest, WithoutProgrammerWarnsAndLoadsNothing) {
    s.Link().CloseWriteLink();
    s.EndAddress = 0x1234;
    ui.openAnswers.push_back(WriteTempFile("plain.hex", kPlain));
    EXPECT_EQ(s.BitBtn1Click(), ImportResult::NotConnected);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"没有连接烧录器! \n\n请连接烧录器!"});
    EXPECT_TRUE(s.form.BitBtn1.enabled);
    EXPECT_EQ(ui.openAnswers.size(), 1u);  // no dialog
    EXPECT_EQ(s.EndAddress, 0x1234);
    EXPECT_TRUE(Written().empty());
}

TEST_F(ImportTest, CancelledDialogLeavesTheDownloadStateReset) {
    Import(WriteTempFile("plain.hex", kPlain));
    Handshake();
    ASSERT_NE(s.EndAddress, 0);
    const std::size_t sent = Written().size();
    EXPECT_EQ(s.BitBtn1Click(), ImportResult::Cancelled);
    EXPECT_EQ(s.EndAddress, 0);
    EXPECT_EQ(s.ImageLength, 0);
    EXPECT_EQ(s.TransferOffset, 0);
    EXPECT_EQ(s.loader.CurrentLine, 0);
    EXPECT_TRUE(s.form.BitBtn1.enabled);
    EXPECT_EQ(Written().size(), sent);
}

TEST_F(ImportTest, UnreadableFileIsReportedAndNothingIsSent) {
    ui.openAnswers.push_back(::testing::TempDir() + "no-such-file.hex");
    EXPECT_EQ(s.BitBtn1Click(), ImportResult::Unreadable);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("no-such-file.hex"), std::string::npos);
    ui.openAnswers.push_back(::testing::TempDir());
    EXPECT_EQ(s.BitBtn1Click(), ImportResult::Unreadable);
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(s.form.BitBtn1.enabled);
}

TEST_F(ImportTest, ImportResetsTheOperationDisplayAndSendsTheRequest) {
    for (int n = 1; n <= 4; ++n) {
        s.form.StepBox(n).SetChecked(true);
        s.form.StepBox(n).enabled = false;
    }
    for (int n = 3; n <= 6; ++n) s.form.StepButton(n).enabled = false;
    for (int n = 2; n <= 9; ++n) s.form.Image(n).visible = true;
    for (int n = 1; n <= 4; ++n) s.form.Bar(n).position = 50;
    s.form.Panel1 = {{}, "编程失败", colors::clRed};
    s.form.Edit4.text = "12";
    s.form.Edit5.text = "3";
    s.form.ProgressBar5.position = 70;
    s.buffer.UpdateMode() = 0xBB;
    int groupDisabled = 0;
    s.hooks.DisableOptionGroup = [&] { ++groupDisabled; };

    const std::string path = WriteTempFile("plain.hex", kPlain);
    Import(path);
    for (int n = 1; n <= 4; ++n) {
        EXPECT_FALSE(s.form.StepBox(n).Checked()) << n;
        EXPECT_TRUE(s.form.StepBox(n).enabled) << n;
    }
    EXPECT_EQ(s.StepFlags, 0);  // unticking ran the click rules
    for (int n = 3; n <= 6; ++n) EXPECT_TRUE(s.form.StepButton(n).enabled) << n;
    for (int n = 2; n <= 9; ++n) EXPECT_FALSE(s.form.Image(n).visible) << n;
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(s.form.Bar(n).position, 0) << n;
    EXPECT_EQ(s.form.Panel1.caption, "等待编程");
    EXPECT_EQ(s.form.Panel1.color, 0xF0F0F0u);
    EXPECT_EQ(s.form.Edit4.text, "0");
    EXPECT_EQ(s.form.Edit5.text, "0");
    EXPECT_EQ(s.form.ProgressBar5.position, 0);
    EXPECT_EQ(s.form.Edit1.text, path);
    EXPECT_TRUE(s.form.Memo1.lines.empty());  // the loader keeps the file
    EXPECT_EQ(s.loader.Image().LineCount(), static_cast<int>(kPlain.size()));
    EXPECT_TRUE(s.form.Memo2.lines.empty());
    EXPECT_EQ(s.buffer.UpdateMode(), 0);
    EXPECT_EQ(s.ImageLength, 32);
    EXPECT_EQ(groupDisabled, 1);
    EXPECT_TRUE(s.form.BitBtn1.enabled);

    const Report request = LastWritten();
    EXPECT_EQ(request[3], CMD_DOWNLOAD_REQUEST);
    EXPECT_EQ(request[2], 4);
    EXPECT_EQ(request[25], 0);
    EXPECT_EQ(request[26], 0);
}

// A window's interaction that answers the questions it is asked, in order.
class AskingInteraction : public ScriptedInteraction {
  public:
    std::vector<std::string> questions;
    std::deque<bool> answers;
    bool Question(const std::string& text) override {
        questions.push_back(text);
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return yes;
    }
};

// The window's refusals: the reason in Chinese, in a warning box; a file whose
// only fault is its checksums is asked about once, and "否" ends the import.
TEST(ImportRefusal, TheWindowSaysWhyInChinese) {
    auto badSum = kPlain;
    badSum[1].back() = badSum[1].back() == '0' ? '1' : '0';
    auto text = kPlain;
    text.push_back("hello");
    auto noMarker = Production();
    noMarker.erase(noMarker.begin());
    struct Case {
        std::string name;
        std::vector<std::string> lines;
        std::optional<bool> answer;  // the answer to the checksum question, if asked
        ImportResult result;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"bad checksum, no", badSum, false, ImportResult::Refused, "第 2 行：记录校验和为 "},
        {"bad checksum, yes", badSum, true, ImportResult::Requested, "第 2 行：记录校验和为 "},
        {"not a record", text, std::nullopt, ImportResult::Refused, "第 5 行：不是记录："},
        {"no marker", noMarker, std::nullopt, ImportResult::Refused,
         "文件错误！无法下载！\n" + ::testing::TempDir() +
             "refusal.hex, 第 1 行：用户信息代码记录"},
    };
    for (const Case& c : cases) {
        FakeSeam seam;
        FakeDevice& dev = seam.Add(FakeInterface{"programmer"});
        AskingInteraction ui;
        RecordingClock clock;
        MainSession s{seam, ui, clock};
        ASSERT_EQ(s.Link().FindProgrammer(), ProgrammerLink::kFound);
        if (c.answer) ui.answers.push_back(*c.answer);
        ui.openAnswers.push_back(WriteTempFile("refusal.hex", c.lines));
        EXPECT_EQ(s.BitBtn1Click(), c.result) << c.name;
        if (c.answer) {
            ASSERT_EQ(ui.questions.size(), 1u) << c.name;
            EXPECT_NE(ui.questions[0].find(c.says), std::string::npos) << ui.questions[0];
            EXPECT_EQ(ui.questions[0].find("Download"), std::string::npos) << ui.questions[0];
            EXPECT_TRUE(ui.messages.empty()) << c.name;  // no second box
        } else {
            EXPECT_TRUE(ui.questions.empty()) << c.name;
            ASSERT_EQ(ui.messages.size(), 1u) << c.name;
            EXPECT_EQ(ui.severities[0], Severity::Warning) << c.name;
            EXPECT_NE(ui.messages[0].find(c.says), std::string::npos) << ui.messages[0];
            EXPECT_EQ(ui.messages[0].find("line "), std::string::npos) << ui.messages[0];
        }
        const auto written = dev.Written();
        if (c.result == ImportResult::Requested) {
            ASSERT_EQ(written.size(), 1u) << c.name;
            EXPECT_EQ(written[0][3], CMD_DOWNLOAD_REQUEST) << c.name;
        } else {
            EXPECT_TRUE(written.empty()) << c.name;
        }
    }
}

TEST_F(ImportTest, AcknowledgementsCarryTheDownloadToItsEnd) {
    int chooserShown = 0;
    s.hooks.ShowOptionChooserAfterDownload = [&] { ++chooserShown; };
    Import(WriteTempFile("plain.hex", kPlain));
    Handshake();
    const auto written = Written();
    // request, begin, one block of 32 bytes, end
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(written[2][3], CMD_WRITE_BLOCK);
    EXPECT_EQ(written[2][2], 32);
    EXPECT_EQ(written[3][6] << 8 | written[3][7], 31);
    EXPECT_EQ(s.form.ProgressBar5.position, s.form.ProgressBar5.max);
    EXPECT_EQ(s.form.Memo2.lines.size(), 1u);

    Reply(MakeReply(RPL_DOWNLOAD_DONE, {{6, 1}, {7, 0x12}, {8, 0xAB}, {11, 0}, {12, 31}}));
    EXPECT_EQ(s.form.Edit3.text, "12ABH");
    EXPECT_TRUE(s.form.Edit1.visible);
    EXPECT_FALSE(s.form.ProgressBar5.visible);
    EXPECT_EQ(chooserShown, 1);
}

TEST_F(ImportTest, OptionWordReachesThePresetHook) {
    std::vector<uint32_t> words;
    s.hooks.PresetOptionWord = [&](uint32_t w) { words.push_back(w); };
    Import(WriteTempFile("option.hex", {DataRecord(0x0100, {0x00, 0x00, 0x55, 0x55})}));
    Handshake();
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words[0], 0x5555u);
}

TEST_F(ImportTest, AfterTheDownloadAndTheChooserTheStatusIsReadAgain) {
    s.hooks.ShowOptionChooserAfterDownload = [&] { s.SendCommand(CMD_SET_OPTION, 0x1234); };
    Import(WriteTempFile("plain.hex", kPlain));
    Handshake();
    Reply(MakeReply(RPL_DOWNLOAD_DONE, {{6, 1}}));
    const auto w = Written();
    ASSERT_GE(w.size(), 2u);
    EXPECT_EQ(w[w.size() - 2][3], CMD_SET_OPTION);
    EXPECT_EQ(w.back()[3], CMD_STATUS);
    EXPECT_FALSE(s.DownloadIncomplete());
}

TEST_F(ImportTest, ProductionFileLocksTheStepsAndSkipsTheChooser) {
    int chooserShown = 0;
    s.hooks.ShowOptionChooserAfterDownload = [&] { ++chooserShown; };
    Import(WriteTempFile("production.hex", Production()));
    EXPECT_EQ(LastWritten()[25], 0xA5);
    EXPECT_EQ(LastWritten()[26], 0x5B);
    Handshake();
    std::vector<uint8_t> codes;
    for (const Report& r : Written()) codes.push_back(r[3]);
    EXPECT_EQ(codes,
              (std::vector<uint8_t>{CMD_DOWNLOAD_REQUEST, CMD_DOWNLOAD_BEGIN, CMD_USER_CODE_RECORD,
                                    CMD_CONFIG_RECORD, CMD_WRITE_BLOCK, CMD_DOWNLOAD_END}));
    EXPECT_EQ(s.form.Edit2.text, "QM-017ABCDE");
    // Steps 0x09: blank check and verify; the run always programs.
    EXPECT_TRUE(s.form.CheckBox1.Checked());
    EXPECT_FALSE(s.form.CheckBox2.Checked());
    EXPECT_TRUE(s.form.CheckBox3.Checked());
    EXPECT_TRUE(s.form.CheckBox4.Checked());
    EXPECT_EQ(s.StepFlags, kStepFlagBlankCheck | kStepFlagProgram | kStepFlagVerify);
    for (int n = 1; n <= 4; ++n) EXPECT_FALSE(s.form.StepBox(n).enabled);
    for (int n = 3; n <= 6; ++n) EXPECT_FALSE(s.form.StepButton(n).enabled);

    Reply(MakeReply(RPL_DOWNLOAD_DONE, {{6, 1}}));
    EXPECT_EQ(chooserShown, 0);
}

TEST_F(ImportTest, AByteOrderMarkChangesNoReport) {
    const std::vector<std::string> dataOnLineZero = {DataRecord(0, Counting(16)), ":00000001FF"};
    for (const auto& file : {dataOnLineZero, Production()}) {
        std::vector<std::vector<Report>> downloads;
        for (const char* mark : {"", "\xEF\xBB\xBF"}) {
            std::vector<std::string> lines = file;
            lines[0] = mark + lines[0];
            const std::size_t before = Written().size();
            Import(WriteTempFile("marked.hex", lines));
            Handshake();
            const auto written = Written();
            downloads.emplace_back(written.begin() + static_cast<std::ptrdiff_t>(before),
                                   written.end());
        }
        EXPECT_EQ(downloads[0], downloads[1]) << file[0];
    }
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ImportTest, FirmwareReplacementAcknowledgementsDoNotReachTheLoader) {
    Import(WriteTempFile("plain.hex", kPlain));
    Reply(MakeReply(RPL_DOWNLOAD_READY));
    const std::size_t sent = Written().size();
    s.hooks.SendFirmwareBlock = [] {};  // no firmware was given to send
    s.buffer.UpdateMode() = 0xBB;
    Reply(MakeReply(RPL_BLOCK_ACK));
    EXPECT_EQ(Written().size(), sent);
    EXPECT_EQ(s.loader.CurrentLine, 0);
}

// What the session does with the loader's reports: the controls of a
// production file's steps, and an abandoned download.
TEST_F(ImportTest, DecidedStepsTickTheBoxesAndLockTheControls) {
    struct Case {
        uint8_t steps;
        bool blank, erase, verify;
        uint8_t flags;
    };
    const Case cases[] = {
        {0x02, false, false, false, kStepFlagProgram},  // bit 1: the user option, no box
        {0x0C, false, true, true, kStepFlagErase | kStepFlagVerify | kStepFlagProgram},
        {0x0F, true, true, true, kStepFlagMask},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.steps));
        s.form.CheckBox1.SetChecked(true);
        SessionLoaderHost host(s);
        host.StepsDecided(c.steps);
        EXPECT_EQ(s.form.CheckBox1.Checked(), c.blank);
        EXPECT_EQ(s.form.CheckBox2.Checked(), c.erase);
        EXPECT_TRUE(s.form.CheckBox3.Checked());  // the run always programs
        EXPECT_EQ(s.form.CheckBox4.Checked(), c.verify);
        EXPECT_EQ(s.StepFlags, c.flags);
        for (int n = 1; n <= 4; ++n) EXPECT_FALSE(s.form.StepBox(n).enabled);
        for (int n = 3; n <= 6; ++n) EXPECT_FALSE(s.form.StepButton(n).enabled);
    }
}

TEST_F(ImportTest, AnAbandonedDownloadSaysWhyPutsTheDisplayBackAndAborts) {
    const std::pair<LoaderRefusal, const char*> cases[] = {
        {LoaderRefusal::FormatError, kFormatErrorText},
        {LoaderRefusal::HeaderRefused, kFileRefusedText},
    };
    for (const auto& [why, text] : cases) {
        SCOPED_TRACE(text);
        ui.messages.clear();
        s.form.Edit1.visible = false;
        s.form.ProgressBar5.visible = true;
        s.buffer.HeaderAccepted() = 0xAA;
        SessionLoaderHost host(s);
        host.DownloadAbandoned(why);
        EXPECT_EQ(ui.messages, std::vector<std::string>{text});
        EXPECT_TRUE(s.form.Edit1.visible);
        EXPECT_FALSE(s.form.ProgressBar5.visible);
        EXPECT_EQ(s.buffer.HeaderAccepted(), 0);
        const Report abort = LastWritten();
        EXPECT_EQ(abort[1], ':');
        EXPECT_EQ(abort[2], 6);
        EXPECT_EQ(abort[3], CMD_DOWNLOAD_ABORT);
        EXPECT_EQ(abort[8] | abort[9] | abort[10] | abort[11], 0);  // argument 0
    }
}

TEST_F(ImportTest, TheTraceAndTheBarFollowTheReportsSent) {
    s.form.Memo2.lines = {"old"};
    SessionLoaderHost host(s);
    host.ImageLoaded();
    EXPECT_TRUE(s.form.Memo2.lines.empty());
    Report report{};
    report[1] = ':';
    host.ReportSent(report.data());
    EXPECT_EQ(s.form.Memo2.lines, std::vector<std::string>{HexBytes(report.data(), 65)});
    host.HeaderModel("QM-");
    EXPECT_EQ(s.form.Edit2.text, "QM-");
    s.form.ProgressBar5.position = 0;
    host.DownloadEndSent();
    EXPECT_EQ(s.form.ProgressBar5.position, s.form.ProgressBar5.max);
}

}  // namespace
}  // namespace qrv::test
