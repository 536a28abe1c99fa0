// Oscillator calibration without Qt: the calibration requests of the main
// window's list, the custom-frequency report, and the model of the dialog
// TForm5 in which the user types a frequency. The Qt dialog and the
// command-line tool drive the same code.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/interaction.h"
#include "common/toggle.h"
#include "protocol/protocol.h"

namespace qrv {

inline constexpr const char* kCalibrationCaption = "QRV MCU內振校正";
inline constexpr const char* kFrequencyError = "频率值输入出错！";

// The sub-commands of CMD_OSC_CALIBRATE (kCalibrate8M, ...) are in
// protocol/protocol.h.

// The items of the main window's calibration list ComboBox2, in list order.
struct CalibrationItem {
    const char* text;
    uint8_t subCommand;  // kCalibrateCustom: the dialog sends it
};
inline constexpr CalibrationItem kCalibrationItems[4] = {{"校正内部8M", kCalibrate8M},
                                                         {"校正内部20M", kCalibrate20M},
                                                         {"自定义校正", kCalibrateCustom},
                                                         {"取消校正", kCalibrateCancel}};

inline constexpr int kMinFrequencyKHz = 14000;
inline constexpr int kMaxFrequencyKHz = 20000;

// A typed target frequency in kHz: one to five decimal digits, blanks around
// them ignored, within kMinFrequencyKHz..kMaxFrequencyKHz. nullopt for
// anything else.
std::optional<uint16_t> ParseFrequency(std::string_view text);

// Fills bytes 0..16 of a report with the custom-frequency request for F kHz
// (14000..20000): the frequency, the lower and upper count bounds and the trim
// start, each 16 bits low byte first. Bytes 17..64 are left as they are.
void BuildCustomCalibration(uint8_t* report, uint16_t frequencyKHz);

// What the dialog shows.
struct CalibrationWindowModel {
    std::string caption = kCalibrationCaption;
    TextBox Edit1;            // the frequency in kHz
    Widget Button1, Button2;  // "取消", "确定"
};

class CalibrationSession {
  public:
    explicit CalibrationSession(Interaction& interaction);

    CalibrationWindowModel form;
    // Writes the custom-frequency report for a frequency (the main window's session).
    std::function<void(uint16_t frequencyKHz)> SendCustom;

    // "确定": a valid frequency is sent, anything else is refused with a message.
    // The dialog stays open either way.
    void Button2Click();

  private:
    Interaction& interaction_;
};

}  // namespace qrv
