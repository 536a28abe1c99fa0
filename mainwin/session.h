// The main window's session, without Qt: it owns the programmer link, the
// ReportBuffer and the working values, runs the senders and the reply
// dispatcher, and holds every value the main window shows (MainWindowModel).
// The Qt window TForm1 and the command-line tool drive the same session.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/interaction.h"
#include "common/toggle.h"
#include "link/device_change.h"
#include "link/hid_seam.h"
#include "link/programmer_link.h"
#include "link/reply_channel.h"
#include "link/report_buffer.h"
#include "mainwin/protocol.h"

namespace qrv {

inline constexpr const char* kCaptionDesign = "MCU Writer V2.6";
inline constexpr const char* kCaptionUnconnected = "QRV Writer V2.6 QRV Writer unconnected";
inline constexpr const char* kCaptionConnected = "QRV Writer V2.6 QRV Writer connected";
inline constexpr const char* kStatusUnconnected = "   QRV Writer unconnected";
inline constexpr const char* kStatusConnected = "  QRV Writer connected";

// What the main window shows: one member per control, named as the control.
struct MainWindowModel {
    std::string caption = kCaptionDesign;
    uint32_t color = 0xF0F0F0;

    Widget Image1;
    Widget Button1, Button2, Button3, Button4, Button5, Button6, Button7, Button8, Button9,
        Button10, Button11, Button12, Button13, Button14, Button15, Button16;
    Widget BitBtn1;
    LineList RichEdit1;  // the status line; fontColor is the status colour
    TextBox Edit1, Edit2, Edit3, Edit4, Edit5, Edit8;
    uint32_t Edit4Color = 0, Edit5Color = 0;
    Toggle CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5;
    ProgressBar ProgressBar1, ProgressBar2, ProgressBar3, ProgressBar4, ProgressBar5;
    Widget Image2, Image3, Image4, Image5, Image6, Image7, Image8, Image9;
    Panel Panel1;
    LineList Memo1, Memo2;
    Widget ComboBox1, ComboBox2, ComboBox3, ComboBox4;

    // Image2..Image9 by number.
    Widget& Image(int n);
    ProgressBar& Bar(int n);
};

class MainSession {
public:
    MainSession(HidSeam& seam, Interaction& interaction, Clock& clock);
    ~MainSession();
    MainSession(const MainSession&) = delete;
    MainSession& operator=(const MainSession&) = delete;

    // The reader hands replies over through this channel; the front-end sets its
    // poster (GUI) or waits on it (CLI) and passes each report to OnReply.
    ReplyChannel& Channel() { return channel_; }

    // Start-up state, then the first connection.
    void FormCreate();

    // Link (connection and device changes).
    void ConnectProgrammer();
    void Button7Click();
    void OnDeviceChange(const DeviceChange& change);
    bool Connected() const { return link_.Connected(); }
    ProgrammerLink& Link() { return link_; }

    // Senders.
    void SendCommand(uint8_t code, uint32_t argument);
    // Writes the HostReport as it stands (the senders that build their own report).
    void WriteHostReport();

    // A reply from the reader: copied into DeviceReport, then dispatched.
    void OnReply(const Report& report);
    void HandleDeviceReply();

    MainWindowModel form;
    ReportBuffer buffer;
    DeviceChangeTracker deviceChanges;

    // Working values.
    int StartAddress = 0;
    int EndAddress = 0;
    int ImageLength = 0;
    int ImageChecksum = 0;
    uint8_t StepFlags = 0;
    uint8_t StatusBusy = 0;
    int TransferOffset = 0;

    // Called after every change of the model (the view re-renders).
    std::function<void()> Changed;
    // Called with every report written (sent = true) or received (false).
    std::function<void(const uint8_t* report, bool sent)> Trace;

private:
    void NotifyChanged() {
        if (Changed) Changed();
    }
    void ShowUnconnected();
    void ShowConnected();

    Interaction& interaction_;
    Clock& clock_;
    ReplyChannel channel_;
    ProgrammerLink link_;
};

}  // namespace qrv
