#include "mainwin/session.h"

#include <algorithm>

namespace qrv {

Widget& MainWindowModel::Image(int n) {
    Widget* images[] = {&Image2, &Image3, &Image4, &Image5, &Image6, &Image7, &Image8, &Image9};
    return *images[n - 2];
}

ProgressBar& MainWindowModel::Bar(int n) {
    ProgressBar* bars[] = {&ProgressBar1, &ProgressBar2, &ProgressBar3, &ProgressBar4,
                           &ProgressBar5};
    return *bars[n - 1];
}

MainSession::MainSession(HidSeam& seam, Interaction& interaction, Clock& clock)
    : interaction_(interaction), clock_(clock), link_(seam, channel_) {}

MainSession::~MainSession() = default;

void MainSession::FormCreate() {
    deviceChanges.Reset();
    StartAddress = 0;
    for (int n = 2; n <= 9; ++n) form.Image(n).visible = false;
    form.CheckBox5.visible = false;
    form.Button12.visible = false;
    buffer.UpdateMode() = 0;
    buffer.UpdateEndSent() = 0;
    ConnectProgrammer();
    link_.RegisterArrival();
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
    link_.CloseWriteLink();
    // Only one reader may run: the previous one is stopped and joined, and its
    // read handle closed, before the next connection starts another.
    link_.CloseReadSide();
    const int r = link_.FindProgrammer();
    if (r == ProgrammerLink::kFound) {
        link_.StartReader();
        ShowConnected();
        SendCommand(CMD_STATUS, 0);
    } else {
        ShowUnconnected();
    }
    NotifyChanged();
}

void MainSession::Button7Click() {
    form.Button7.enabled = false;
    NotifyChanged();
    clock_.Pause(10);
    ConnectProgrammer();
    for (int n = 1; n <= 5; ++n) form.Bar(n).position = 0;
    for (int n = 2; n <= 9; ++n) form.Image(n).visible = false;
    std::fill_n(buffer.bytes.begin(), 2 * kReportSize, uint8_t{0});
    NotifyChanged();
}

void MainSession::OnDeviceChange(const DeviceChange& change) {
    const bool removedIsWriteHandle = change.kind == DeviceChangeKind::RemoveComplete &&
                                      link_.Connected() && change.path == link_.WritePath();
    for (const DeviceChangeAction& action : deviceChanges.Handle(change.kind, removedIsWriteHandle)) {
        switch (action.kind) {
            case DeviceChangeAction::Pause: clock_.Pause(action.milliseconds); break;
            case DeviceChangeAction::Connect: ConnectProgrammer(); break;
            case DeviceChangeAction::CloseWriteLink:
                link_.CloseWriteLink();
                NotifyChanged();
                break;
        }
    }
}

void MainSession::SendCommand(uint8_t code, uint32_t argument) {
    if (!link_.Connected()) return;
    BuildShortCommand(buffer.HostReport(), code, argument, static_cast<unsigned>(EndAddress));
    WriteHostReport();
}

void MainSession::WriteHostReport() {
    if (Trace) Trace(buffer.HostReport(), true);
    link_.Write(buffer.HostReport());
}

void MainSession::OnReply(const Report& report) {
    if (Trace) Trace(report.data(), false);
    buffer.SetDeviceReport(report);
    HandleDeviceReply();
    NotifyChanged();
}

void MainSession::HandleDeviceReply() {
    // The reply families are dispatched by code; every path ends by clearing the
    // DeviceReport so that each reply is handled once.
    buffer.ClearDeviceReport();
}

}  // namespace qrv
