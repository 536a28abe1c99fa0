// The user option chooser's model: the option word its rules build, and the
// controls, which always show the word that closing sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "chooser/chooser_session.h"
#include "protocol/protocol.h"

namespace qrv {
namespace {

Toggle& Box(ChooserWindowModel& f, int n) {
    Toggle* boxes[] = {&f.CheckBox1, &f.CheckBox2,  &f.CheckBox3,  &f.CheckBox4,
                       &f.CheckBox5, &f.CheckBox6,  &f.CheckBox7,  &f.CheckBox8,
                       &f.CheckBox9, &f.CheckBox10, &f.CheckBox11, &f.CheckBox12};
    return *boxes[n - 1];
}

// What each visible option control must show for the word, read from the word
// as the programmer reads it.
void ExpectControlsShowWord(ChooserSession& c) {
    const uint32_t w = c.ChooserOptionWord;
    auto bit = [w](uint32_t mask) { return (w & mask) != 0; };
    // CheckBox1..CheckBox12; PA0.0 is the reset pin only with bit 13 alone.
    const bool ticked[] = {
        bit(0x1),     bit(0x2),    bit(0x4),    bit(0x8),     bit(0x1000),  (w & 0x22000) != 0x2000,
        !bit(0x4000), bit(0x4000), bit(0x8000), !bit(0x8000), bit(0x10000), !bit(0x20000)};
    for (int n = 1; n <= 12; ++n) {
        if (Box(c.form, n).visible) {
            EXPECT_EQ(Box(c.form, n).Checked(), ticked[n - 1]) << n << std::hex << " 0x" << w;
        }
    }
    // A size bit names its item; bit 12 alone is "All Hard Lock".
    const char* sizes[] = {"No Hard Lock", "1K", "2K", "4K"};
    std::string hardLock = bit(0xF0)     ? sizes[std::countr_zero(w & 0xF0) - 4]
                           : bit(0x1000) ? "All Hard Lock"
                                         : "";
    const std::vector<std::string>& items = c.form.ComboBox1.items;
    if (std::find(items.begin(), items.end(), hardLock) == items.end()) hardLock.clear();
    EXPECT_EQ(c.form.ComboBox1.Shown(), hardLock) << std::hex << "0x" << w;
    const char* dataFlash[] = {"No Data Flash", "1K", "2K", "4K"};
    if (c.form.ComboBox2.visible) {
        EXPECT_EQ(c.form.ComboBox2.Shown(), dataFlash[(w >> 8) & 3]);
    }
    EXPECT_EQ(w & 0xFFFC0800u, 0u) << "bits 11 and 18-31 are never set";
}

// Runs steps written as "bN" click CheckBoxN, "mN" choose model row N, "hN"
// and "dN" choose item N of the hard-lock and data-flash lists, "pXXXXXXXX"
// the preset from the bytes b0..b3.
void Perform(ChooserSession& s, const std::string& steps) {
    std::istringstream in(steps);
    for (std::string step; in >> step;) {
        const unsigned long n = std::stoul(step.substr(1), nullptr, step[0] == 'p' ? 16 : 10);
        const int i = static_cast<int>(n);
        switch (step[0]) {
            case 'b':
                s.Click(Box(s.form, i));
                break;
            case 'm':
                s.ComboBox3Click(i);
                break;
            case 'h':
                s.ComboBox1Click(i);
                break;
            case 'd':
                s.ComboBox2Click(i);
                break;
            case 'p':
                s.PresetFromFile(n >> 24 & 0xFF, n >> 16 & 0xFF, n >> 8 & 0xFF, n & 0xFF);
                break;
        }
    }
}

// Each case: what the user or an import did, and the word closing sends.
// Whatever was done, every visible control shows that word.
TEST(ChooserWord, ClicksPresetsAndModelsMakeTheWordTheControlsShow) {
    const std::tuple<const char*, const char*, uint32_t> cases[] = {
        {"created", "", 0},
        {"5V survives 2K", "b11 b3 h2", 0x10044},
        {"short list item 1 is 4K", "m15 h1", 0x480},
        {"long list item 1 is 1K", "h1", 0x20},
        {"preset", "pA6025555", 0x2B200},
        {"All Hard Lock ticks WDT", "b3 h4", 0x1004},
        {"1K after All unticks WDT", "b3 h4 h1", 0x24},
        {"unticking WDT takes All away", "b3 h4 b5", 0x4},
        {"a preset clears what the boxes showed", "b1 b2 b3 b4 b11 h2 p00010000", 0x4100},
        {"4K stays shown in the short list", "h3 m15", 0x480},
        {"1K is not in the short list", "h1 m15", 0x420},
        {"boxes shown again show their cleared bits", "m0 b8 b9 b12 m15 m0", 0x2000},
        {"DataFlash leaves bit 12 set", "b5 b4 b4", 0x1000},
        {"DataFlash leaves bit 12 clear", "b4 b4", 0},
    };
    for (const auto& [name, steps, word] : cases) {
        ChooserSession s;
        s.FormCreate();
        Perform(s, steps);
        EXPECT_EQ(s.ChooserOptionWord, word) << name;
        ExpectControlsShowWord(s);
    }
}

TEST(ChooserWord, EveryCloseSendsTheWord) {
    ChooserSession c;
    std::vector<std::pair<uint8_t, uint32_t>> sent;
    c.SendCommand = [&](uint8_t code, uint32_t arg) { sent.emplace_back(code, arg); };
    c.FormCreate();
    Perform(c, "b1");
    c.FormClose();
    c.FormClose();
    EXPECT_EQ(sent, (std::vector<std::pair<uint8_t, uint32_t>>(2, {CMD_SET_OPTION, 1})));
}

TEST(ChooserWord, ModelListHasTheChoosersOwnRows) {
    ChooserSession c;
    const std::pair<int, const char*> rows[] = {{14, "QM-015"}, {15, "QM-084"}, {20, "QM-089"},
                                                {21, "QM-022"}, {22, "QM-090"}, {23, "QM-024"}};
    for (auto [row, name] : rows) EXPECT_EQ(c.form.ComboBox3.items[row], name);
    Perform(c, "m21");  // QM-022 takes the short list here
    EXPECT_EQ(c.form.ComboBox1.items.size(), 3u);
}

// Long random runs of what a user and an import can do: after every step each
// visible control shows the word.
TEST(ChooserWord, ControlsAgreeWithTheWordOverRandomRuns) {
    std::mt19937 random(20240611);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    for (int run = 0; run < 30; ++run) {
        ChooserSession s;
        s.FormCreate();
        for (int step = 0; step < 300; ++step) {
            ChooserWindowModel& f = s.form;
            const int action = pick(20);
            std::string steps;
            if (action == 0) {
                // An import: the group waits for a model, the file brings its bytes.
                s.DisableOptionGroup();
                char bytes[10];
                std::snprintf(bytes, sizeof bytes, "%02X%02X%s", pick(256), pick(256),
                              pick(2) ? "5555" : "55AA");
                steps = std::string("p") + bytes;
            } else if (action <= 2) {
                steps = "m" + std::to_string(pick(kModelCount));
            } else if (f.GroupBox1.enabled && action <= 4) {
                ComboBox& list = action == 3 ? f.ComboBox1 : f.ComboBox2;
                if (list.visible && list.enabled)
                    steps = (action == 3 ? "h" : "d") +
                            std::to_string(pick(static_cast<int>(list.items.size())));
            } else if (const int n = 1 + pick(12); f.GroupBox1.enabled && Box(f, n).visible) {
                steps = "b" + std::to_string(n);
            }
            Perform(s, steps);
            ExpectControlsShowWord(s);
            if (HasFailure()) {
                ADD_FAILURE() << "run " << run << " step " << step << ": " << steps;
                return;
            }
        }
    }
}

}  // namespace
}  // namespace qrv
