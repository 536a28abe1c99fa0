// The calibration list of the main window and the custom-frequency report.
#include "calibration/calibration.h"
#include "session/session.h"

namespace qrv {

void MainSession::ComboBox2Click(int index) {
    if (index >= 0 && index < static_cast<int>(std::size(kCalibrationItems))) {
        const uint8_t subCommand = kCalibrationItems[index].subCommand;
        if (subCommand == kCalibrateCustom) {
            NotifyChanged();
            if (hooks.ShowCalibrationDialog) hooks.ShowCalibrationDialog();
        } else {
            SendCommand(CMD_OSC_CALIBRATE, subCommand);
        }
    }
    clock_.Pause(10);
}

void MainSession::SendCustomCalibration(uint16_t frequencyKHz) {
    // Written without checking the link: without a programmer the write fails
    // silently. Bytes 17 on keep what the previous report left.
    BuildCustomCalibration(buffer.HostReport(), frequencyKHz);
    WriteHostReport();
    buffer.ClearHostReport();
}

}  // namespace qrv
