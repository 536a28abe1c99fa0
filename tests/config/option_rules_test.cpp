#include <gtest/gtest.h>

#include <string>

#include "config/model_table.h"
#include "config_test_support.h"

namespace qrv {
namespace {

using test::Fixture;

// Model rows used below (ComboBox4 item indices).
constexpr int QM001 = 0;   // 32K, profile S
constexpr int QM002 = 1;   // 16K, profile S
constexpr int QM010 = 9;   // 64K, profile H
constexpr int QM011 = 10;  // 32K, profile H
constexpr int QM016 = 15;  // 64K, profile R5
constexpr int QM017 = 16;  // 32K, profile R5
constexpr int QM024 = 23;  // 64K, profile R2
constexpr int QM075 = 74;  // 32K, profile RB

std::vector<std::string> Items(const ComboBox& c) {
    return c.items;
}

// Every option box shows what the option bytes hold.
void ExpectBoxesShowBytes(const ConfigSession& s) {
    const ConfigWindowModel& f = s.form;
    const uint8_t b = s.settings.optionBits;
    EXPECT_EQ(f.CheckBox1.Checked(), (b & kReadProtect) != 0);
    EXPECT_EQ(f.CheckBox2.Checked(), (b & kDebugProtect) != 0);
    EXPECT_EQ(f.CheckBox3.Checked(), (b & kHardLock) != 0);
    EXPECT_EQ(f.CheckBox3.Checked(), f.ComboBox1.enabled);
    EXPECT_EQ(f.CheckBox4.Checked(), (b & kDataFlash) != 0);
    EXPECT_EQ(f.CheckBox11.Checked(), (b & kWdtDisable) != 0);
    if (s.settings.optionSet == 0) {
        EXPECT_EQ(!(f.CheckBox12.Checked() && f.CheckBox17.Checked()), (b & kPinNotIo) != 0);
        EXPECT_EQ(f.CheckBox17.Checked(), (s.settings.supplyFlags & kPc01Flag) == 0);
        EXPECT_EQ(f.CheckBox14.Checked(), (b & kSwdOrHsosc) != 0);
        EXPECT_NE(f.CheckBox13.Checked(), f.CheckBox14.Checked());
        EXPECT_EQ(f.CheckBox15.Checked(), (b & kSubOsc500k) != 0);
        EXPECT_NE(f.CheckBox16.Checked(), f.CheckBox15.Checked());
    } else {
        EXPECT_EQ(!f.CheckBox12.Checked(), (b & kPinNotIo) != 0);
        EXPECT_FALSE(f.CheckBox14.Checked());
        EXPECT_EQ(b & kSwdOrHsosc, 0);
    }
}

TEST(ConfigFormCreate, FreshWindowHoldsTheStartSettings) {
    Fixture t;
    const WriterSettings& s = t.session.settings;
    const auto block = s.Block();
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 0);
    EXPECT_EQ(block[2], 127);
    EXPECT_EQ(block[3], 255);
    EXPECT_EQ(block[4], 5);
    EXPECT_EQ(std::string(block.begin() + 5, block.begin() + 16), ModelTable()[0].deviceCode);
    for (std::size_t i = 16; i < block.size(); ++i) EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(s.userCodeMode, 0x33);
    EXPECT_EQ(s.romClassKiB, 0);
    EXPECT_EQ(s.optionSet, 0);
    EXPECT_EQ(s.MergeMode, 0);
    EXPECT_EQ(s.MergeCount, 0);

    const ConfigWindowModel& f = t.session.form;
    EXPECT_EQ(f.caption, "MCU 配置选项");
    EXPECT_EQ(f.color, 0xF0F0F0u);
    EXPECT_EQ(f.Panel1.color, 0xC0C0C0u);
    EXPECT_EQ(f.Panel2.color, 0xC0C0C0u);
    EXPECT_EQ(f.Panel3.color, 0xC0C0C0u);
    EXPECT_EQ(f.Edit2.text, "32K");
    EXPECT_EQ(f.Edit4.text, "0000H");
    EXPECT_EQ(f.Edit5.text, "7FFFH");
    EXPECT_EQ(f.ComboBox4.Shown(), "QM-001");
    EXPECT_EQ(f.ComboBox4.itemIndex, -1);
    EXPECT_EQ(f.ComboBox4.items.size(), 83u);
    EXPECT_EQ(Items(f.ComboBox1),
              (std::vector<std::string>{"No Hard lock", "1K", "2K", "4K", "All Hard lock"}));
    EXPECT_EQ(f.ComboBox2.Shown(), "No Data Flash");
    EXPECT_FALSE(f.ComboBox1.enabled);
    EXPECT_FALSE(f.ComboBox2.enabled);
    EXPECT_FALSE(f.Button5.enabled);
    EXPECT_FALSE(f.Edit11.enabled);
    EXPECT_EQ(f.Button2.caption, "导出量产文件");
    EXPECT_FALSE(f.Button3.visible);
    EXPECT_FALSE(f.Button4.visible);
}

struct ModelCase {
    int index;
    const char* romText;
    const char* endText;
    uint8_t endHigh;
    uint8_t romClassKiB;
    bool reduced;
    bool pc01Visible;
    const char* caption14;
    const char* caption13;
    const char* caption12;
};

void PrintTo(const ModelCase& c, std::ostream* os) {
    *os << "row " << c.index;
}

class ModelChoice : public ::testing::TestWithParam<ModelCase> {};

TEST_P(ModelChoice, AppliesTheRowAndItsProfile) {
    const ModelCase& c = GetParam();
    Fixture t;
    t.session.ComboBox4Click(c.index);
    const WriterSettings& s = t.session.settings;
    const ConfigWindowModel& f = t.session.form;
    EXPECT_EQ(f.Edit2.text, c.romText);
    EXPECT_EQ(f.Edit5.text, c.endText);
    EXPECT_EQ(s.startHigh, 0);
    EXPECT_EQ(s.startLow, 0);
    EXPECT_EQ(s.endHigh, c.endHigh);
    EXPECT_EQ(s.endLow, 0xFF);
    EXPECT_EQ(s.romClassKiB, c.romClassKiB);
    EXPECT_EQ(std::string(s.deviceCode.begin(), s.deviceCode.end()),
              ModelTable()[static_cast<std::size_t>(c.index)].deviceCode);
    EXPECT_EQ(s.optionSet, c.reduced ? 1 : 0);
    EXPECT_EQ(s.hardLockSize & 0x80, c.reduced ? 0x80 : 0);
    EXPECT_EQ(f.ComboBox1.items.size(), c.reduced ? 3u : 5u);
    EXPECT_EQ(f.ComboBox1.itemIndex, -1);
    EXPECT_EQ(f.CheckBox17.visible, c.pc01Visible);
    for (const Toggle* box :
         {&f.CheckBox4, &f.CheckBox13, &f.CheckBox14, &f.CheckBox15, &f.CheckBox16})
        EXPECT_EQ(box->visible, !c.reduced);
    EXPECT_EQ(f.ComboBox2.visible, !c.reduced);
    if (!c.reduced) {
        EXPECT_EQ(f.CheckBox14.caption, c.caption14);
        EXPECT_EQ(f.CheckBox13.caption, c.caption13);
    }
    EXPECT_EQ(f.CheckBox12.caption, c.caption12);
    ExpectBoxesShowBytes(t.session);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ModelChoice,
    ::testing::Values(
        ModelCase{QM002, "16K", "3FFFH", 0x3F, 16, false, true, "SWD为PA0.1/2", "SWD默认",
                  "PA0.0用作IO"},
        ModelCase{QM001, "32K", "7FFFH", 0x7F, 32, false, true, "SWD为PA0.1/2", "SWD默认",
                  "PA0.0用作IO"},
        ModelCase{QM010, "64K", "FFFFH", 0xFF, 64, false, false, "HSOSC=48M", "HSOSC=96M",
                  "PA0.0用作IO"},
        ModelCase{QM011, "32K", "7FFFH", 0x7F, 32, false, false, "HSOSC=48M", "HSOSC=96M",
                  "PA0.0用作IO"},
        ModelCase{QM016, "64K", "FFFFH", 0xFF, 64, true, false, "", "", "PA0.5用作IO"},
        ModelCase{QM017, "32K", "7FFFH", 0x7F, 32, true, false, "", "", "PA0.5用作IO"},
        ModelCase{QM024, "64K", "FFFFH", 0xFF, 64, true, false, "", "", "PA0.2用作IO"},
        ModelCase{QM075, "32K", "7FFFH", 0x7F, 32, true, false, "", "", "PB0.3用作IO"}));

TEST(ModelChoiceChain, AnotherModelRestoresCaptionsAndControls) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM010);
    t.session.ComboBox4Click(QM001);
    EXPECT_EQ(f.CheckBox14.caption, "SWD为PA0.1/2");
    EXPECT_EQ(f.CheckBox13.caption, "SWD默认");
    EXPECT_TRUE(f.CheckBox17.visible);

    t.session.ComboBox4Click(QM024);
    EXPECT_EQ(Items(f.ComboBox1),
              (std::vector<std::string>{"No Hard Lock", "4K", "All Hard Lock"}));
    t.session.ComboBox4Click(QM001);
    EXPECT_TRUE(f.CheckBox4.visible);
    EXPECT_TRUE(f.ComboBox2.visible);
    EXPECT_EQ(f.CheckBox12.caption, "PA0.0用作IO");
    EXPECT_EQ(t.session.settings.hardLockSize & 0x80, 0);
}

TEST(ModelChoiceChain, NoSelectionAppliesNoRow) {
    Fixture t;
    t.session.ComboBox4Click(QM024);
    t.session.ComboBox4Click(-1);
    EXPECT_TRUE(t.session.form.ComboBox1.items.empty());
    EXPECT_EQ(t.session.settings.optionSet, 0);
    EXPECT_EQ(t.session.settings.hardLockSize & 0x80, 0);
    EXPECT_EQ(t.session.form.Edit5.text, "FFFFH");  // the last row stays in force
}

TEST(ModelChoiceChain, ChoosingTwiceEqualsChoosingOnce) {
    for (int index : {QM001, QM010, QM024}) {
        Fixture once, twice;
        for (Fixture* t : {&once, &twice}) {
            t->session.form.CheckBox1.Click();
            t->session.form.CheckBox14.Click();
            t->session.form.CheckBox17.Click();
        }
        once.session.ComboBox4Click(index);
        twice.session.ComboBox4Click(index);
        twice.session.ComboBox4Click(index);
        EXPECT_EQ(once.session.settings.Block(), twice.session.settings.Block()) << index;
        EXPECT_EQ(once.session.form.CheckBox13.Checked(), twice.session.form.CheckBox13.Checked());
        EXPECT_EQ(once.session.form.CheckBox12.Checked(), twice.session.form.CheckBox12.Checked());
    }
}

TEST(ModelChoiceChain, ReadProtectionBoxFollowsTheClearedBit) {
    Fixture t;
    t.session.form.CheckBox1.Click();
    ASSERT_EQ(t.session.settings.optionBits & kReadProtect, kReadProtect);
    t.session.ComboBox4Click(QM002);
    EXPECT_EQ(t.session.settings.optionBits & kReadProtect, 0);
    EXPECT_FALSE(t.session.form.CheckBox1.Checked());
    t.session.form.CheckBox1.Click();
    EXPECT_EQ(t.session.settings.optionBits & kReadProtect, kReadProtect);
}

TEST(ModelChoiceChain, ClearedBitsUntickTheirBoxesAndKeptBitsStay) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);
    for (Toggle* box : {&f.CheckBox1, &f.CheckBox2, &f.CheckBox3, &f.CheckBox4, &f.CheckBox11,
                        &f.CheckBox14, &f.CheckBox15})
        box->SetChecked(true);
    f.CheckBox12.SetChecked(false);
    f.CheckBox17.SetChecked(false);
    t.session.ComboBox2Click(2);
    ASSERT_EQ(t.session.settings.optionBits, 0xFF);
    ASSERT_EQ(t.session.settings.supplyFlags & kPc01Flag, kPc01Flag);

    t.session.ComboBox4Click(QM010);
    EXPECT_EQ(t.session.settings.optionBits, 0xC8);
    EXPECT_FALSE(f.ComboBox1.enabled);
    EXPECT_TRUE(f.CheckBox4.Checked());
    EXPECT_TRUE(f.CheckBox12.Checked());
    EXPECT_TRUE(f.CheckBox17.Checked());
    EXPECT_EQ(t.session.settings.supplyFlags & kPc01Flag, 0);
    EXPECT_EQ(t.session.settings.dataFlashSize, 2);
    ExpectBoxesShowBytes(t.session);
}

TEST(ModelChoiceChain, BoxesShowTheBytesAfterAnyModelAndAnyClicks) {
    // Click sequences over the option boxes, then every model in turn.
    const std::vector<std::vector<int>> sequences = {
        {}, {1, 2, 3, 11}, {12, 17}, {14, 16}, {13, 15}, {1, 3, 4, 12, 14, 15, 17}, {17, 12, 4}};
    for (const auto& seq : sequences) {
        for (int index = 0; index < kModelCount; ++index) {
            Fixture t;
            auto& f = t.session.form;
            Toggle* boxes[18] = {};
            boxes[1] = &f.CheckBox1, boxes[2] = &f.CheckBox2, boxes[3] = &f.CheckBox3;
            boxes[4] = &f.CheckBox4, boxes[11] = &f.CheckBox11, boxes[12] = &f.CheckBox12;
            boxes[13] = &f.CheckBox13, boxes[14] = &f.CheckBox14, boxes[15] = &f.CheckBox15;
            boxes[16] = &f.CheckBox16, boxes[17] = &f.CheckBox17;
            t.session.ComboBox4Click(QM001);
            for (int n : seq) boxes[n]->Click();
            t.session.ComboBox4Click(index);
            SCOPED_TRACE("model " + std::to_string(index) + ", " + std::to_string(seq.size()) +
                         " clicks");
            ExpectBoxesShowBytes(t.session);
        }
    }
}

TEST(ModelChoiceChain, HiddenPc01BoxKeepsItsMarkOnReducedModels) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);
    f.CheckBox17.Click();  // PC0.1 not IO: flag set
    t.session.ComboBox4Click(QM017);
    EXPECT_TRUE(f.CheckBox12.Checked());
    EXPECT_FALSE(f.CheckBox17.Checked());
    EXPECT_EQ(t.session.settings.supplyFlags, 5 | kPc01Flag);
    t.session.ComboBox4Click(QM002);
    EXPECT_TRUE(f.CheckBox17.Checked());
    EXPECT_EQ(t.session.settings.supplyFlags, 5);
}

TEST(ModelChoiceChain, ReducedModelUnticksSwdAndKeepsDataFlash) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);
    f.CheckBox14.Click();
    f.CheckBox4.Click();
    t.session.ComboBox2Click(3);
    t.session.ComboBox4Click(QM024);
    EXPECT_FALSE(f.CheckBox14.Checked());
    EXPECT_TRUE(f.CheckBox13.Checked());
    EXPECT_EQ(t.session.settings.optionBits & kSwdOrHsosc, 0);
    EXPECT_EQ(t.session.settings.optionBits & kDataFlash, kDataFlash);
    EXPECT_EQ(t.session.settings.dataFlashSize, 3);
}

TEST(RadioPairs, OneBoxOfEachPairAndTheBitFollows) {
    struct Step {
        int box;  // 13..16
        bool swd, subOsc500k;
    };
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);
    Toggle* box[17] = {};
    box[13] = &f.CheckBox13, box[14] = &f.CheckBox14, box[15] = &f.CheckBox15,
    box[16] = &f.CheckBox16;
    for (const Step& s : {Step{14, true, false}, Step{13, false, false}, Step{14, true, false},
                          Step{14, false, false}, Step{15, false, true}, Step{16, false, false},
                          Step{16, false, true}, Step{15, false, false}}) {
        box[s.box]->Click();
        SCOPED_TRACE(s.box);
        EXPECT_EQ(f.CheckBox14.Checked(), s.swd);
        EXPECT_NE(f.CheckBox13.Checked(), f.CheckBox14.Checked());
        EXPECT_EQ(t.session.settings.optionBits & kSwdOrHsosc, s.swd ? kSwdOrHsosc : 0);
        EXPECT_EQ(f.CheckBox15.Checked(), s.subOsc500k);
        EXPECT_NE(f.CheckBox15.Checked(), f.CheckBox16.Checked());
        EXPECT_EQ(t.session.settings.optionBits & kSubOsc500k, s.subOsc500k ? kSubOsc500k : 0);
    }
}

TEST(Guards, ReducedSetIgnoresPairAndPinRules) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM024);
    const auto before = t.session.settings.Block();
    for (Toggle* box : {&f.CheckBox13, &f.CheckBox14, &f.CheckBox15, &f.CheckBox16, &f.CheckBox17,
                        &f.CheckBox4}) {
        box->Click();
        box->Click();
        box->Click();
    }
    t.session.ComboBox2Click(2);
    EXPECT_EQ(t.session.settings.Block(), before);
}

TEST(PinRules, BitFiveIsSetWhileEitherPinBoxIsUnticked) {
    // Every sequence of up to four clicks on the two pin boxes.
    for (int length = 1; length <= 4; ++length) {
        for (int pattern = 0; pattern < (1 << length); ++pattern) {
            Fixture t;
            auto& f = t.session.form;
            t.session.ComboBox4Click(QM001);  // both pin boxes ticked
            for (int i = 0; i < length; ++i) {
                (pattern >> i & 1 ? f.CheckBox17 : f.CheckBox12).Click();
                EXPECT_EQ((t.session.settings.optionBits & kPinNotIo) != 0,
                          !(f.CheckBox12.Checked() && f.CheckBox17.Checked()))
                    << "clicks " << length << ", pattern " << pattern << ", after " << i;
            }
        }
    }
}

TEST(PinRules, PinBoxesDriveBitFiveAndTheSupplyFlag) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);  // both pin boxes ticked, bit 5 clear
    f.CheckBox17.Click();
    EXPECT_EQ(t.session.settings.optionBits & kPinNotIo, kPinNotIo);
    EXPECT_EQ(t.session.settings.supplyFlags, 5 | kPc01Flag);
    t.session.ComboBox3Click(1);  // 3V rewrites the whole byte
    EXPECT_EQ(t.session.settings.supplyFlags, 3);
    EXPECT_EQ(f.Edit7.text, "3V");
    f.CheckBox17.Click();
    f.CheckBox12.Click();
    EXPECT_EQ(t.session.settings.optionBits & kPinNotIo, kPinNotIo);
    EXPECT_EQ(t.session.settings.supplyFlags, 3);
    t.session.ComboBox3Click(0);
    EXPECT_EQ(t.session.settings.supplyFlags, 5);
    EXPECT_EQ(f.Edit7.text, "5V");
    t.session.ComboBox3Click(-1);
    EXPECT_EQ(t.session.settings.supplyFlags, 5);
}

struct RomCase {
    int model;
    int item;
    const char* romText;
    const char* end;
    uint8_t endHigh;
};

void PrintTo(const RomCase& c, std::ostream* os) {
    *os << "row " << c.model << " item " << c.item;
}

class DataFlashRom : public ::testing::TestWithParam<RomCase> {};

TEST_P(DataFlashRom, SizeItemShrinksTheRom) {
    const RomCase& c = GetParam();
    Fixture t;
    t.session.ComboBox4Click(c.model);
    t.session.form.CheckBox4.Click();
    EXPECT_TRUE(t.session.form.ComboBox2.enabled);
    t.session.ComboBox2Click(c.item);
    EXPECT_EQ(t.session.form.Edit2.text, c.romText);
    EXPECT_EQ(t.session.form.Edit5.text, c.end);
    EXPECT_EQ(t.session.settings.endHigh, c.endHigh);
    EXPECT_EQ(t.session.settings.endLow, 0xFF);
    EXPECT_EQ(t.session.settings.dataFlashSize, c.item);
}

INSTANTIATE_TEST_SUITE_P(Classes, DataFlashRom,
                         ::testing::Values(RomCase{QM001, 0, "36K", "8FFF", 0x8F},
                                           RomCase{QM001, 1, "35K", "8BFF", 0x8B},
                                           RomCase{QM001, 2, "34K", "87FF", 0x87},
                                           RomCase{QM001, 3, "32K", "7FFF", 0x7F},
                                           RomCase{QM010, 0, "64K", "FFFF", 0xFF},
                                           RomCase{QM010, 1, "63K", "FBFF", 0xFB},
                                           RomCase{QM010, 2, "62K", "F7FF", 0xF7},
                                           RomCase{QM010, 3, "60K", "EFFF", 0xEF},
                                           RomCase{QM002, 0, "16K", "3FFFH", 0x3F},
                                           RomCase{QM002, 3, "16K", "3FFFH", 0x3F}));

TEST(DataFlash, UncheckingRestoresTheClassRomAndKeepsTheItem) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);
    f.CheckBox4.Click();
    EXPECT_EQ(f.Edit2.text, "32K");
    EXPECT_EQ(f.Edit5.text, "7FFF");
    t.session.ComboBox2Click(1);
    f.CheckBox4.Click();
    EXPECT_EQ(t.session.settings.optionBits & kDataFlash, 0);
    EXPECT_FALSE(f.ComboBox2.enabled);
    EXPECT_EQ(f.Edit2.text, "32K");
    EXPECT_EQ(f.Edit5.text, "7FFF");
    EXPECT_EQ(f.ComboBox2.Shown(), "1K");
}

TEST(DataFlash, SizeKeepsTheHighNibble) {
    Fixture t;
    t.session.settings.dataFlashSize = 0xA0;
    t.session.ComboBox2Click(2);
    EXPECT_EQ(t.session.settings.dataFlashSize, 0xA2);
    t.session.ComboBox2Click(7);
    EXPECT_EQ(t.session.settings.dataFlashSize, 0xA0);
}

TEST(HardLock, SizeBitsAndTheOptionSetMarker) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);
    const uint8_t before = t.session.settings.hardLockSize;
    f.CheckBox3.Click();
    EXPECT_TRUE(f.ComboBox1.enabled);
    EXPECT_EQ(t.session.settings.hardLockSize, before);
    t.session.ComboBox1Click(1);
    t.session.ComboBox1Click(3);
    EXPECT_EQ(t.session.settings.hardLockSize, 0x08);
    t.session.ComboBox1Click(-1);
    EXPECT_EQ(t.session.settings.hardLockSize, 0x01);

    t.session.ComboBox4Click(QM024);
    t.session.ComboBox1Click(1);
    EXPECT_EQ(t.session.settings.hardLockSize, 0x82);
    EXPECT_EQ(f.ComboBox1.Shown(), "4K");
}

TEST(Steps, BoxesSetTheirBitsAndBlankCheckWarns) {
    Fixture t;
    auto& f = t.session.form;
    const std::pair<Toggle*, uint8_t> steps[] = {
        {&f.CheckBox5, 0x01}, {&f.CheckBox7, 0x02}, {&f.CheckBox6, 0x04}, {&f.CheckBox8, 0x08}};
    for (const auto& [box, mask] : steps) {
        box->Click();
        EXPECT_EQ(t.session.settings.autoSteps, mask);
        box->Click();
        EXPECT_EQ(t.session.settings.autoSteps, 0);
    }
    EXPECT_EQ(t.answers.messages,
              std::vector<std::string>{"选择空校验之后，编程过的芯片将无法编程!"});
}

TEST(UserCode, RollingModeAndHexNotice) {
    Fixture t;
    auto& f = t.session.form;
    f.CheckBox10.Click();
    EXPECT_EQ(t.session.settings.userCodeMode, 0x22);
    f.CheckBox10.Click();
    EXPECT_EQ(t.session.settings.userCodeMode, 0x33);
    f.CheckBox19.Click();
    f.CheckBox19.Click();
    EXPECT_EQ(t.answers.messages,
              std::vector<std::string>{"该应用只有在固件版本2.10以上,PC软件版本2.4以上才支持!"});
    t.session.Edit1Change("AB12");
    EXPECT_EQ(f.Edit1.text, "AB12");
}

struct WordCase {
    uint32_t word;
    bool wdtOff;
    int flashItem;
    const char* romText32;
    const char* end32;
    bool pin12, pin17, pinBit;
    bool swd, sub500k;
};

void PrintTo(const WordCase& c, std::ostream* os) {
    *os << std::hex << c.word;
}

class OptionWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(OptionWord, SetsTheControlsFromTheWord) {
    const WordCase& c = GetParam();
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);
    f.CheckBox1.Click();
    f.CheckBox3.Click();
    t.session.ComboBox1Click(2);
    t.session.settings.dataFlashSize = 0x30;
    t.session.ApplyOptionWord(c.word);
    const uint8_t b = t.session.settings.optionBits;
    EXPECT_EQ(f.CheckBox11.Checked(), c.wdtOff);
    EXPECT_EQ(b & kWdtDisable, c.wdtOff ? kWdtDisable : 0);
    EXPECT_EQ(f.ComboBox2.itemIndex, c.flashItem);
    EXPECT_EQ(t.session.settings.dataFlashSize, 0x30 | c.flashItem);
    EXPECT_EQ(f.Edit2.text, c.romText32);
    EXPECT_EQ(f.Edit5.text, c.end32);
    EXPECT_EQ(f.CheckBox12.Checked(), c.pin12);
    EXPECT_EQ(f.CheckBox17.Checked(), c.pin17);
    EXPECT_EQ(b & kPinNotIo, c.pinBit ? kPinNotIo : 0);
    EXPECT_EQ(f.CheckBox14.Checked(), c.swd);
    EXPECT_EQ(f.CheckBox13.Checked(), !c.swd);
    EXPECT_EQ(b & kSwdOrHsosc, c.swd ? kSwdOrHsosc : 0);
    EXPECT_EQ(f.CheckBox15.Checked(), c.sub500k);
    EXPECT_EQ(f.CheckBox16.Checked(), !c.sub500k);
    EXPECT_EQ(b & kSubOsc500k, c.sub500k ? kSubOsc500k : 0);
    // Protections, hard lock and data flash enable are not in the word.
    EXPECT_EQ(b & 0x0F, kReadProtect | kHardLock);
    EXPECT_EQ(t.session.settings.hardLockSize, 0x04);
}

INSTANTIATE_TEST_SUITE_P(
    Records, OptionWord,
    ::testing::Values(
        // bytes 57 03 55 55
        WordCase{0x55550357, true, 3, "32K", "7FFF", false, true, true, false, false},
        // bytes A2 00 00 00
        WordCase{0x000000A2, false, 0, "36K", "8FFF", true, false, true, true, true},
        // bytes 17 00 00 00
        WordCase{0x00000017, false, 0, "36K", "8FFF", true, true, false, false, false},
        // WDT needs both upper bytes at 0x55
        WordCase{0x55000000, false, 0, "36K", "8FFF", true, true, false, true, false}));

// A model of the reduced set has no PC0.1 control: the pin bit follows the
// pin box it shows, whatever the word says of PC0.1.
TEST(OptionWordClass, ReducedModelPinBitFollowsItsPinBox) {
    struct PinCase {
        uint32_t word;
        bool pin12;
        bool pinBit;
    };
    for (const PinCase& c : {PinCase{0x00000050, false, true}, PinCase{0x000000A0, true, false},
                             PinCase{0x00000010, true, false}}) {
        Fixture t;
        t.session.ComboBox4Click(QM024);
        t.session.ApplyOptionWord(c.word);
        EXPECT_EQ(t.session.form.CheckBox12.Checked(), c.pin12) << std::hex << c.word;
        EXPECT_EQ(t.session.settings.optionBits & kPinNotIo, c.pinBit ? kPinNotIo : 0)
            << std::hex << c.word;
    }
}

TEST(OptionWordClass, OtherClassesKeepTheirRom) {
    for (int model : {QM010, QM002}) {
        Fixture t;
        t.session.ComboBox4Click(model);
        const std::string rom = t.session.form.Edit2.text, end = t.session.form.Edit5.text;
        t.session.ApplyOptionWord(0x00000100);
        EXPECT_EQ(t.session.form.Edit2.text, rom);
        EXPECT_EQ(t.session.form.Edit5.text, end);
        EXPECT_EQ(t.session.settings.dataFlashSize, 1);
    }
}

TEST(FormClose, ResetsStepsOptionsAndPairs) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);
    for (Toggle* box : {&f.CheckBox5, &f.CheckBox6, &f.CheckBox7, &f.CheckBox8, &f.CheckBox10,
                        &f.CheckBox1, &f.CheckBox2, &f.CheckBox3, &f.CheckBox4, &f.CheckBox11,
                        &f.CheckBox14, &f.CheckBox15, &f.CheckBox19})
        box->SetChecked(true);
    t.session.ComboBox2Click(1);
    t.session.ComboBox1Click(2);
    t.session.Edit1Change("1234");
    const std::string deviceCode(t.session.settings.deviceCode.begin(),
                                 t.session.settings.deviceCode.end());
    t.session.ComboBox3Click(1);

    t.session.FormClose();
    const WriterSettings& s = t.session.settings;
    EXPECT_EQ(s.autoSteps, 0);
    EXPECT_EQ(s.userCodeMode, 0x33);
    EXPECT_EQ(s.dataFlashSize, 0);
    EXPECT_EQ(s.hardLockSize, 0);
    // The pin boxes' rules set bit 5 again; the pairs settle on their defaults.
    EXPECT_EQ(s.optionBits, kPinNotIo);
    EXPECT_EQ(s.supplyFlags, 3 | kPc01Flag);
    for (const Toggle* box : {&f.CheckBox5, &f.CheckBox6, &f.CheckBox7, &f.CheckBox8, &f.CheckBox10,
                              &f.CheckBox1, &f.CheckBox2, &f.CheckBox3, &f.CheckBox4, &f.CheckBox11,
                              &f.CheckBox12, &f.CheckBox14, &f.CheckBox15, &f.CheckBox17})
        EXPECT_FALSE(box->Checked()) << box->caption;
    EXPECT_TRUE(f.CheckBox13.Checked());
    EXPECT_TRUE(f.CheckBox16.Checked());
    EXPECT_FALSE(f.ComboBox1.enabled);
    EXPECT_FALSE(f.ComboBox2.enabled);
    // Kept: model, end, ROM text, user code text, the hex box (not in the list).
    EXPECT_EQ(std::string(s.deviceCode.begin(), s.deviceCode.end()), deviceCode);
    EXPECT_EQ(f.ComboBox4.itemIndex, QM001);
    EXPECT_EQ(f.Edit1.text, "1234");
    EXPECT_TRUE(f.CheckBox19.Checked());
}

TEST(FormClose, SizeListsShowNoSize) {
    for (int model : {QM001, QM024}) {
        Fixture t;
        auto& f = t.session.form;
        t.session.ComboBox4Click(model);
        f.CheckBox3.Click();
        f.CheckBox4.Click();
        t.session.ComboBox1Click(1);
        t.session.ComboBox2Click(2);
        t.session.FormClose();
        EXPECT_EQ(f.ComboBox1.Shown(), "No Hard Lock") << model;
        EXPECT_EQ(f.ComboBox2.Shown(), "No Data Flash") << model;
    }
}

TEST(FormClose, PairWithNeitherBoxTickedStaysSo) {
    Fixture t;
    t.session.FormClose();
    EXPECT_FALSE(t.session.form.CheckBox13.Checked());
    EXPECT_FALSE(t.session.form.CheckBox14.Checked());
    // The unticked pin boxes are shown as "not IO", and the pin bit says so.
    EXPECT_EQ(t.session.settings.optionBits, kPinNotIo);
}

// Pin boxes unticked before the window closes run no rule when closing unticks
// them again; the pin bit, cleared with the other option bits, still follows them.
TEST(FormClose, PinBitFollowsPinBoxesThatWereUntickedAlready) {
    for (int model : {QM001, QM024}) {
        Fixture t;
        auto& f = t.session.form;
        t.session.ComboBox4Click(model);
        f.CheckBox12.Click();
        if (f.CheckBox17.visible) f.CheckBox17.Click();
        ASSERT_FALSE(f.CheckBox12.Checked()) << model;
        ASSERT_NE(t.session.settings.optionBits & kPinNotIo, 0) << model;
        t.session.FormClose();
        EXPECT_FALSE(f.CheckBox12.Checked()) << model;
        EXPECT_EQ(t.session.settings.optionBits, kPinNotIo) << model;
        ExpectBoxesShowBytes(t.session);
    }
}

// Closing on a model of the reduced set unticks the hidden DataFlash box
// without its rule; a model that shows the box again shows its size list
// disabled with it.
TEST(FormClose, DataFlashListFollowsTheBoxAfterAReducedModel) {
    Fixture t;
    auto& f = t.session.form;
    t.session.ComboBox4Click(QM001);
    f.CheckBox4.Click();
    ASSERT_TRUE(f.ComboBox2.enabled);
    t.session.ComboBox4Click(QM024);
    t.session.FormClose();
    t.session.ComboBox4Click(QM001);
    EXPECT_FALSE(f.CheckBox4.Checked());
    EXPECT_FALSE(f.ComboBox2.enabled);
    EXPECT_EQ(t.session.settings.optionBits & kDataFlash, 0);
    ExpectBoxesShowBytes(t.session);
}

TEST(FormClose, ReducedModelKeepsItsOptionSetMarker) {
    Fixture t;
    t.session.ComboBox4Click(QM024);
    t.session.form.CheckBox3.Click();
    t.session.ComboBox1Click(1);
    t.session.FormClose();
    EXPECT_EQ(t.session.settings.hardLockSize, 0x80);
    EXPECT_EQ(t.session.settings.optionSet, 1);
}

}  // namespace
}  // namespace qrv
