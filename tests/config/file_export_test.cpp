// The configuration window's exports: "导出量产文件" and merge mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/hex.h"
#include "config/model_table.h"
#include "config_test_support.h"

namespace qrv {
namespace {

using test::DataRecord;
using test::kEof;
using test::ScratchDir;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Window : test::Fixture {
    ScratchDir dir;
    std::string source = dir.Write("src.hex", DataRecord(0x0000, {1, 2, 3, 4}) + "\r\n" +
                                                  DataRecord(0x0010, {5}) + "\n" + kEof + "\n");
    void Open() {
        answers.openAnswers.push_back(source);
        session.BitBtn1Click();
    }
    ExportResult ExportTo(const std::string& name, int filter = 0) {
        answers.saveAnswers.push_back(SaveAnswer{dir.Path(name), filter});
        return session.Button2Click();
    }
};

TEST(ProductionExport, MarkerUserCodeConfigurationThenTheSourceVerbatim) {
    Window w;
    w.session.ComboBox4Click(23);  // QM-024: option set 1
    w.Open();
    w.session.form.CheckBox6.Click();
    w.session.form.CheckBox19.Click();
    w.session.Edit1Change("0a0B");
    w.session.form.CheckBox10.Click();
    w.session.Random = [] { return 0x12345u; };  // marker record 0x2345 = 9029
    ASSERT_EQ(w.ExportTo("out.hex"), ExportResult::Written);

    EXPECT_EQ(w.answers.saveFilters.back(), "*.hex||*.*");
    EXPECT_EQ(w.answers.proposedNames.back(), "QRVMCU2023411.hex");
    const std::string_view code = ModelTable()[23].deviceCode;
    // End 0x0010 from the file, 5 V with bit 7 for option set 1, marker 1
    // (drawn 0), hard-lock marker 0x80, erase.
    const std::string config =
        "0000001085" + HexBytes(reinterpret_cast<const uint8_t*>(code.data()), 11) + "0100800004";
    EXPECT_EQ(Read(w.dir.Path("out.hex")),
              ":10000022414D439029\r\n:04000022415344E2000A0B\r\n:15000022515256" + config +
                  "\r\n" + DataRecord(0x0000, {1, 2, 3, 4}) + "\r\n" + DataRecord(0x0010, {5}) +
                  "\r\n" + kEof + "\r\n");
    EXPECT_TRUE(w.session.form.Button2.enabled);
}

TEST(ProductionExport, EachExportTakesTheCodeModeFromTheBoxes) {
    Window w;
    w.Open();
    w.session.Edit1Change("12");
    w.session.form.CheckBox19.Click();
    ASSERT_EQ(w.ExportTo("hex.hex"), ExportResult::Written);
    w.session.form.CheckBox19.Click();
    ASSERT_EQ(w.ExportTo("dec.hex"), ExportResult::Written);
    EXPECT_EQ(w.session.form.Memo2.lines[1], ":0300002241534433000C");
}

TEST(ProductionExport, RefusalsSaySoAndWriteNothing) {
    const struct {
        const char* name;
        void (*arrange)(Window&);
        const char* message;
    } cases[] = {
        {"no file opened", [](Window&) {}, "请打开文件!"},
        {"source gone",
         [](Window& w) {
             w.Open();
             std::filesystem::remove(w.source);
         },
         "无法读取文件!\n"},
        {"decimal code with letters after the number",
         [](Window& w) {
             w.Open();
             w.session.Edit1Change("12AB");
         },
         "用户信息代码出错!"},
    };
    for (const auto& c : cases) {
        Window w;
        c.arrange(w);
        w.answers.messages.clear();
        EXPECT_EQ(w.ExportTo("out.hex"), ExportResult::Refused) << c.name;
        ASSERT_EQ(w.answers.messages.size(), 1u) << c.name;
        EXPECT_EQ(w.answers.messages[0].rfind(c.message, 0), 0u) << w.answers.messages[0];
        EXPECT_TRUE(w.answers.proposedNames.empty()) << c.name;
        EXPECT_FALSE(std::filesystem::exists(w.dir.Path("out.hex"))) << c.name;
        EXPECT_TRUE(w.session.form.Button2.enabled) << c.name;
    }
}

TEST(MergeMode, MergedOutputNamesGetOneExtension) {
    const struct {
        const char* chosen;
        int filter;
        const char* written;
        bool bin;
    } cases[] = {
        {"QRVMCU2023411", kMergedFilterBin, "QRVMCU2023411.bin", true},
        {"QRVMCU2023411", 0, "QRVMCU2023411.hex", false},
        {"QRVMCU2023411.hex", 0, "QRVMCU2023411.hex", false},
        {"IMAGE.BIN", kMergedFilterBin, "IMAGE.BIN", true},
        {"image.bin", kMergedFilterAll, "image.bin", true},
        {"image", kMergedFilterAll, "image.hex", false},
    };
    for (const auto& c : cases) {
        Window w;
        w.session.form.CheckBox20.Click();
        ASSERT_EQ(w.session.MergeFileFrom(w.source), MergeResult::Merged);
        ASSERT_EQ(w.ExportTo(c.chosen, c.filter), ExportResult::Written) << c.chosen;
        EXPECT_EQ(w.answers.proposedNames.back(), "QRVMCU2023411");
        EXPECT_EQ(w.answers.saveFilters.back(), "*.hex||*.bin||*.*");
        const std::string content = Read(w.dir.Path(c.written));
        EXPECT_EQ(content, c.bin ? w.session.merge.Binary() : w.session.merge.HexText())
            << c.chosen;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(w.dir.Path("")), {}), 2)
            << c.chosen;  // the source and the one output
    }
}

TEST(MergeMode, FilesThatMergeNothingSaySoAndLeaveTheImage) {
    Window w;
    w.session.form.CheckBox20.Click();
    EXPECT_EQ(w.ExportTo("early.hex"), ExportResult::Refused);  // nothing merged yet
    ASSERT_EQ(w.session.MergeFileFrom(w.source), MergeResult::Merged);
    const std::string before = w.session.merge.Binary();
    const struct {
        std::string path;
        MergeResult result;
        const char* message;
    } cases[] = {
        {w.dir.Path("none.hex"), MergeResult::Refused, "文件长度不对!\n"},
        {w.dir.Write("empty.hex", std::string(kEof) + "\n"), MergeResult::NoData,
         "文件没有数据记录，未合并!\n"},
    };
    for (const auto& c : cases) {
        w.answers.openAnswers.push_back(c.path);
        EXPECT_EQ(w.session.Button5Click(), c.result) << c.path;
        EXPECT_EQ(w.answers.messages.back().rfind(c.message, 0), 0u) << w.answers.messages.back();
        EXPECT_EQ(w.session.merge.Binary(), before);
        EXPECT_EQ(w.session.form.Edit11.text, w.source);
    }
}

}  // namespace
}  // namespace qrv
