// The programming operations of the main window: the four step rows with their
// selection boxes, the single steps, the automatic run, reading the chip
// checksum and erasing the stored image; and the configuration window toggle.
#include "session/session.h"

namespace qrv {

void MainSession::InstallStepRules() {
    // CheckBox1Click .. CheckBox4Click: the box's state is its StepFlags bit.
    // They run on a user's click and whenever code changes the state.
    for (int n = 1; n <= 4; ++n) {
        Toggle& box = form.StepBox(n);
        const uint8_t flag = kStepRows[n - 1].flag;
        box.SetRule([this, &box, flag] {
            if (box.Checked())
                StepFlags = static_cast<uint8_t>(StepFlags | flag);
            else
                StepFlags = static_cast<uint8_t>(StepFlags & ~flag);
        });
    }
    // CheckBox5Click ("编程配置"): the user option chooser.
    form.CheckBox5.SetRule([this] {
        if (hooks.ShowOptionChooser) {
            NotifyChanged();
            hooks.ShowOptionChooser(form.CheckBox5.Checked());
        }
    });
}

void MainSession::ResetStepDisplay() {
    for (int n = 1; n <= 4; ++n) form.Bar(n).position = 0;
    for (int n = 2; n <= 9; ++n) form.Image(n).visible = false;
}

RunStart MainSession::RunSingleStep(int row) {
    const StepRow& step = kStepRows[row];
    Widget& button = form.StepButton(row + 3);
    button.enabled = false;
    NotifyChanged();
    clock_.Pause(10);
    const RunStart start = runs_.Admit(row, step.flag);
    if (start == RunStart::Started) {
        // Only the blank check carries the selected steps.
        SendCommand(step.command, step.command == CMD_BLANK_CHECK ? StepFlags : 0);
        runs_.Begin(row, step.flag);
    }
    button.enabled = true;
    if (start == RunStart::Started || start == RunStart::NotConnected) ResetStepDisplay();
    NotifyChanged();
    return start;
}

void MainSession::Button3Click() {
    RunSingleStep(0);
}
void MainSession::Button4Click() {
    RunSingleStep(1);
}
void MainSession::Button5Click() {
    RunSingleStep(2);
}
void MainSession::Button6Click() {
    RunSingleStep(3);
}

RunStart MainSession::Button2Click() {
    form.Button2.enabled = false;
    NotifyChanged();
    clock_.Pause(10);
    const RunStart start = StartAutoRun();
    form.Button2.enabled = true;
    NotifyChanged();
    return start;
}

RunStart MainSession::StartAutoRun() {
    // The button and the space bar start the same run, with the same record.
    const RunStart start = runs_.Admit(-1, StepFlags);
    if (start != RunStart::Started) return start;
    SendCommand(CMD_AUTO_PROGRAM, StepFlags);
    runs_.Begin(-1, StepFlags);
    for (int n : {1, 2, 3, 5, 4}) form.Bar(n).position = 0;
    for (int n = 2; n <= 9; ++n) form.Image(n).visible = false;
    ShowResultPanel(kRunStarted, colors::clTeal);
    return start;
}

void MainSession::Button13Click() {
    form.Memo2.lines.clear();
    SendCommand(CMD_READ_CHECKSUM, 0);
    for (int n = 2; n <= 9; ++n) form.Image(n).visible = false;
    for (int n = 1; n <= 4; ++n) form.Bar(n).position = 0;
    NotifyChanged();
    clock_.Pause(10);
}

void MainSession::Button12Click() {
    SendCommand(CMD_ERASE_STORAGE, 0);
    NotifyChanged();
    clock_.Pause(10);
}

void MainSession::Button1Click() {
    const bool show = form.ConfigShown != 1;
    form.ConfigShown = show ? 1 : 0;
    NotifyChanged();
    if (hooks.ShowConfigWindow) hooks.ShowConfigWindow(show);
}

}  // namespace qrv
