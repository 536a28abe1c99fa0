// Oscillator calibration: the custom-frequency report byte for byte, the typed
// frequencies the dialog accepts and refuses.
#include "calibration/calibration.h"

#include <gtest/gtest.h>

#include "link/report_buffer.h"
#include "tests/support/scripted.h"

namespace qrv {
namespace {

struct Worked {
    uint16_t f, lower, upper, trim;
};

TEST(CustomCalibration, WorkedValuesGoLowByteFirst) {
    const Worked cases[] = {
        {20000, 35964, 36036, 511}, {14000, 51428, 51502, 11}, {16000, 45000, 45056, 178}};
    for (const Worked& w : cases) {
        Report r;
        r.fill(0xEE);
        BuildCustomCalibration(r.data(), w.f);
        const uint8_t head[] = {0, ':', 9, 0x58, 0, 0, 0, 0, 0x23};
        for (int k = 0; k < 9; ++k) EXPECT_EQ(r[k], head[k]) << w.f << " byte " << k;
        const uint16_t fields[] = {w.f, w.lower, w.upper, w.trim};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(r[9 + 2 * i], fields[i] & 0xFF) << w.f << " field " << i;
            EXPECT_EQ(r[10 + 2 * i], fields[i] >> 8) << w.f << " field " << i;
        }
        for (std::size_t k = 17; k < kReportSize; ++k) EXPECT_EQ(r[k], 0xEE) << k;
    }
}

TEST(CustomCalibration, OnlyOneToFiveDigitsInRangeAreAFrequency) {
    const std::pair<const char*, int> accepted[] = {
        {"20000", 20000}, {"14000", 14000}, {" 16000  ", 16000}, {"\t15000", 15000}};
    for (auto [text, f] : accepted) EXPECT_EQ(ParseFrequency(text), f) << text;
    for (const char* text : {"20001", "13999", "1400x", "2000x", "1A000", "200001", "", "   ",
                             "16 000", "+16000", "016000", "0x4E20"})
        EXPECT_FALSE(ParseFrequency(text)) << '"' << text << '"';
}

TEST(CustomCalibration, ARefusedFrequencyIsReportedAndNothingSent) {
    test::ScriptedInteraction ui;
    CalibrationSession dialog(ui);
    std::vector<uint16_t> sent;
    dialog.SendCustom = [&](uint16_t f) { sent.push_back(f); };
    for (const char* text : {"1A000", "16000", ""}) {
        dialog.form.Edit1.text = text;
        dialog.Button2Click();
        EXPECT_TRUE(dialog.form.Button2.enabled);
    }
    EXPECT_EQ(sent, std::vector<uint16_t>{16000});
    EXPECT_EQ(ui.messages, (std::vector<std::string>{kFrequencyError, kFrequencyError}));
}

}  // namespace
}  // namespace qrv
