#include "session/session.h"

#include <algorithm>

namespace qrv {

MainWindowModel::MainWindowModel() {
    // Design-time state: the service controls, the update button and the
    // memos are hidden; the download bar shares the file box's place and shows
    // only during a download.
    for (Widget* w : std::initializer_list<Widget*>{&Button8, &Button9, &Button10, &Button11,
                                                    &Button14, &Button15, &Button16, &ComboBox1,
                                                    &ComboBox2, &ComboBox3, &ComboBox4})
        w->visible = false;
    Memo1.visible = false;
    Memo2.visible = false;
    ProgressBar5.visible = false;
    Edit2.enabled = false;
    Edit3.enabled = false;
    Edit8.enabled = false;
    Edit4.text = "0";
    Edit5.text = "0";
    Panel1.caption = kRunWaiting;
    Panel1.color = kPanelWaitingColor;
    Panel1.fontColor = kPanelWaitingText;
    CheckBox5.caption = "编程配置";
}

Widget& MainWindowModel::Image(int n) {
    Widget* images[] = {&Image2, &Image3, &Image4, &Image5, &Image6, &Image7, &Image8, &Image9};
    return *images[n - 2];
}

ProgressBar& MainWindowModel::Bar(int n) {
    ProgressBar* bars[] = {&ProgressBar1, &ProgressBar2, &ProgressBar3, &ProgressBar4,
                           &ProgressBar5};
    return *bars[n - 1];
}

Toggle& MainWindowModel::StepBox(int n) {
    Toggle* boxes[] = {&CheckBox1, &CheckBox2, &CheckBox3, &CheckBox4};
    return *boxes[n - 1];
}

Widget& MainWindowModel::StepButton(int n) {
    Widget* buttons[] = {&Button3, &Button4, &Button5, &Button6};
    return *buttons[n - 3];
}

MainSession::MainSession(HidSeam& seam, Interaction& interaction, Clock& clock)
    : interaction_(interaction), clock_(clock), link_(seam, channel_) {
    InstallStepRules();
    InstallServiceHooks();
    hooks.SendNextBlock = [this] { loader.SendNextBlock(); };
    loader.PresetOption = [this](uint32_t word) {
        if (hooks.PresetOptionWord) hooks.PresetOptionWord(word);
    };
}

MainSession::~MainSession() = default;

void MainSession::FormCreate() {
    form.color = kFormColor;
    form.Edit4Color = kSuccessCounterColor;
    form.Edit5Color = kFailureCounterColor;
    // No chip has been programmed yet: the panel waits, on the window's grey.
    ShowResultPanel(kRunWaiting, kPanelWaitingColor, kPanelWaitingText);
    deviceChanges.Reset();
    StartAddress = 0;
    for (int n = 2; n <= 9; ++n) form.Image(n).visible = false;
    form.CheckBox5.visible = false;
    form.Button12.visible = false;
    buffer.UpdateMode() = 0;
    buffer.UpdateEndSent() = 0;
    EepromType = 1;
    ConnectProgrammer();
    NotifyChanged();
}

void MainSession::ShowUnconnected() {
    form.caption = kCaptionUnconnected;
    form.RichEdit1.lines = {kStatusUnconnected};
    form.RichEdit1.fontColor = colors::clRed;
}

void MainSession::ShowConnected() {
    form.caption = kCaptionConnected;
    form.Edit8.text = kStatusConnected;
    form.RichEdit1.lines = {kStatusConnected};
    form.RichEdit1.fontColor = colors::clGreen;
}

void MainSession::ConnectProgrammer() {
    const bool runCut = runs_.AwaitingResult();
    runs_.EndWithoutResult("no result", "the programmer was connected again before the result");
    link_.CloseWriteLink();
    // Only one reader may run: the previous one is stopped and joined, and its
    // read handle closed, before the next connection starts another.
    link_.CloseReadSide();
    statusRetries_ = 0;
    statusUnreadable_ = false;
    wroteSinceConnect_ = false;
    const int r = link_.FindProgrammer();
    if (r == ProgrammerLink::kFound) {
        accessProblemShown_.clear();
        link_.StartReader();
        ShowConnected();
        // A fresh connection waits for the next chip, unless it cut a run short.
        if (!runCut) ShowResultPanel(kRunWaiting, kPanelWaitingColor, kPanelWaitingText);
        Emit(event::Connection{true, link_.WritePath(), {}});
        SendCommand(CMD_STATUS, 0);
    } else {
        ShowUnconnected();
        Emit(event::Connection{
            false,
            {},
            r == ProgrammerLink::kNoAccess ? link_.AccessProblem() : "no programmer found"});
    }
    NotifyChanged();
    EndInterruptedTransfer();
    if (r == ProgrammerLink::kNoAccess && link_.AccessProblem() != accessProblemShown_) {
        accessProblemShown_ = link_.AccessProblem();
        ShowMessage(accessProblemShown_.c_str(), Severity::Warning);
    }
}

void MainSession::EndInterruptedTransfer() {
    EndInterruptedReadBack();
    if (!TransferActive()) return;
    transferActive_ = false;
    form.ProgressBar5.visible = false;
    form.Edit1.visible = true;
    Emit(event::DownloadEnded{buffer.UpdateMode() == kUpdateModeFirmware, false, 0,
                              kDownloadInterrupted});
    ShowMessage(kDownloadInterrupted, Severity::Warning);
}

void MainSession::OnLinkLost() {
    runs_.EndWithoutResult("no result", kUnpluggedReason);
    const bool wasConnected = link_.Connected();
    const std::string path = link_.WritePath();
    link_.CloseWriteLink();
    link_.CloseReadSide();
    ShowUnconnected();
    if (wasConnected) Emit(event::Connection{false, path, kUnpluggedReason});
    NotifyChanged();
    EndInterruptedTransfer();
}

void MainSession::Button7Click() {
    form.Button7.enabled = false;
    NotifyChanged();
    clock_.Pause(10);
    ConnectProgrammer();
    for (int n = 1; n <= 5; ++n) form.Bar(n).position = 0;
    for (int n = 2; n <= 9; ++n) form.Image(n).visible = false;
    buffer.ClearHostReport();
    buffer.ClearDeviceReport();
    NotifyChanged();
}

void MainSession::OnDeviceChange(const DeviceChange& change) {
    const bool removedIsWriteHandle = change.kind == DeviceChangeKind::RemoveComplete &&
                                      link_.Connected() && change.path == link_.WritePath();
    for (const DeviceChangeAction& action :
         deviceChanges.Handle(change.kind, removedIsWriteHandle)) {
        switch (action.kind) {
            case DeviceChangeAction::Pause:
                clock_.Pause(action.milliseconds);
                break;
            case DeviceChangeAction::Connect:
                ConnectProgrammer();
                break;
            case DeviceChangeAction::CloseWriteLink: {
                runs_.EndWithoutResult("no result", kUnpluggedReason);
                const std::string path = link_.WritePath();
                link_.CloseWriteLink();
                Emit(event::Connection{false, path, kUnpluggedReason});
                NotifyChanged();
                EndInterruptedTransfer();
                break;
            }
        }
    }
}

void MainSession::SendCommand(uint8_t code, uint32_t argument) {
    if (!link_.Connected()) return;
    BuildShortCommand(buffer.HostReport(), code, argument, static_cast<unsigned>(EndAddress));
    WriteHostReport();
}

void MainSession::WriteHostReport() {
    std::copy_n(buffer.HostReport(), kReportSize, lastWritten_.begin());
    wroteSinceConnect_ = true;
    if (Trace) Trace(buffer.HostReport(), true);
    link_.Write(buffer.HostReport());
}

void MainSession::ResendLastReport() {
    // Senders that clear the HostReport after writing it (the download
    // handshake, for one) would otherwise answer with 65 zero bytes.
    if (!wroteSinceConnect_) return;
    if (Trace) Trace(lastWritten_.data(), true);
    link_.Write(lastWritten_.data());
}

void MainSession::OnReply(const Report& report) {
    if (Trace) Trace(report.data(), false);
    // A run is silent only while no reply at all comes.
    if (runs_.AwaitingResult()) StartRunTimer(kRunSilenceMs);
    buffer.SetDeviceReport(report);
    HandleDeviceReply();
    NotifyChanged();
    if (ReplyHandled) ReplyHandled(report);
}

void MainSession::SendNextBlock() {
    if (hooks.SendNextBlock) hooks.SendNextBlock();
}

void MainSession::SendFirmwareBlock() {
    if (hooks.SendFirmwareBlock) hooks.SendFirmwareBlock();
}

}  // namespace qrv
