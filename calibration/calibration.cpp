#include "calibration/calibration.h"

#include "protocol/reports.h"

namespace qrv {

std::optional<uint16_t> ParseFrequency(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    if (text.size() > 5) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < kMinFrequencyKHz || value > kMaxFrequencyKHz) return std::nullopt;
    return static_cast<uint16_t>(value);
}

void BuildCustomCalibration(uint8_t* report, uint16_t frequencyKHz) {
    // Integer arithmetic as the programmer's firmware expects it: the bounds
    // belong to F raised and lowered by a thousandth of itself, and the trim
    // start drops by one for every full 12 kHz below 20000.
    const int f = frequencyKHz;
    const int lower = 36000000 / ((f + f / 1000) / 20);
    const int upper = 36000000 / ((f - f / 1000) / 20);
    const int trim = 511 - (20000 - f) / 12;
    EncodeCustomCalibration(report, {static_cast<unsigned>(f), static_cast<unsigned>(lower),
                                     static_cast<unsigned>(upper), static_cast<unsigned>(trim)});
}

CalibrationSession::CalibrationSession(Interaction& interaction) : interaction_(interaction) {
    form.Edit1.text = "20000";
}

void CalibrationSession::Button2Click() {
    form.Button2.enabled = false;
    const std::optional<uint16_t> frequency = ParseFrequency(form.Edit1.text);
    if (!frequency)
        interaction_.ShowMessage(kFrequencyError);
    else if (SendCustom)
        SendCustom(*frequency);
    form.Button2.enabled = true;
}

}  // namespace qrv
