#include "session/file_import.h"

#include "common/atomic_file.h"
#include "common/hex.h"
#include "image/hex_check.h"
#include "session/session.h"

namespace qrv {

ReportBuffer& SessionLoaderHost::Buffer() {
    return session_.buffer;
}

DownloadValues SessionLoaderHost::Values() {
    return {session_.StartAddress, session_.EndAddress, session_.ImageLength,
            session_.TransferOffset};
}

void SessionLoaderHost::WriteHostReport() {
    session_.WriteHostReport();
}

void SessionLoaderHost::ImageLoaded() {
    // Memo2 collects the trace of this download from here on.
    session_.form.Memo2.lines.clear();
}

void SessionLoaderHost::ReportSent(const uint8_t* report) {
    session_.form.Memo2.lines.push_back(HexBytes(report, kReportSize));
}

void SessionLoaderHost::HeaderModel(const std::string& model) {
    session_.form.Edit2.text = model;
}

void SessionLoaderHost::StepsDecided(uint8_t autoSteps) {
    // The file's steps rule the automatic run: the manual step controls are
    // locked, and setting each box runs its click rule so StepFlags follows.
    // Programming is no selectable step: the run always programs. Bit 1 is
    // the chip's user option, which the programmer does after the run.
    MainWindowModel& f = session_.form;
    for (Toggle* box : {&f.CheckBox1, &f.CheckBox2, &f.CheckBox3, &f.CheckBox4})
        box->enabled = false;
    for (Widget* button : {&f.Button3, &f.Button4, &f.Button5, &f.Button6}) button->enabled = false;
    f.CheckBox1.SetChecked((autoSteps & kAutoStepBlank) != 0);
    f.CheckBox3.SetChecked(true);
    f.CheckBox2.SetChecked((autoSteps & kAutoStepErase) != 0);
    f.CheckBox4.SetChecked((autoSteps & kAutoStepVerify) != 0);
}

void SessionLoaderHost::DownloadEndSent() {
    ProgressBar& bar = session_.form.ProgressBar5;
    bar.position = bar.max;
}

void SessionLoaderHost::DownloadAbandoned(LoaderRefusal why) {
    session_.interaction_.Message(Severity::Warning, why == LoaderRefusal::HeaderRefused
                                                         ? kFileRefusedText
                                                         : kFormatErrorText);
    // The programmer is mid-transfer: it is told to leave its download state,
    // and the download display is put back.
    session_.form.Edit1.visible = true;
    session_.form.ProgressBar5.visible = false;
    session_.buffer.HeaderAccepted() = 0;
    session_.SendCommand(CMD_DOWNLOAD_ABORT, 0);
}

void MainSession::ResetOperationDisplay() {
    for (int n = 1; n <= 4; ++n) {
        Toggle& box = form.StepBox(n);
        box.SetChecked(false);
        box.enabled = true;
    }
    for (int n = 3; n <= 6; ++n) form.StepButton(n).enabled = true;
    for (int n = 2; n <= 9; ++n) form.Image(n).visible = false;
    ShowResultPanel(kRunWaiting, kPanelWaitingColor, kPanelWaitingText);
    for (int n = 1; n <= 4; ++n) form.Bar(n).position = 0;
    form.Edit4.text = "0";
    form.Edit5.text = "0";
}

ImportResult MainSession::BitBtn1Click() {
    return RunImport([this] { return interaction_.OpenFile(""); });
}

ImportResult MainSession::ImportFile(const std::string& path) {
    return RunImport([&path] { return std::optional<std::string>(path); });
}

ImportResult MainSession::RunImport(const std::function<std::optional<std::string>()>& choose) {
    form.BitBtn1.enabled = false;
    form.ProgressBar5.position = 0;
    const auto done = [this](ImportResult result) {
        form.BitBtn1.enabled = true;
        NotifyChanged();
        return result;
    };
    if (!Connected()) {
        NotifyChanged();
        interaction_.Warning(kNoProgrammerWarning);
        return done(ImportResult::NotConnected);
    }
    // Reset before the dialog, so that a cancelled import leaves no part of the
    // previous download behind.
    loader.ResetForImport();
    transferActive_ = false;
    NotifyChanged();
    const std::optional<std::string> path = choose();
    if (!path) return done(ImportResult::Cancelled);

    std::string text;
    std::string error;
    if (!ReadWholeFile(*path, &text, &error)) {
        interaction_.Message(Severity::Warning, error);
        return done(ImportResult::Unreadable);
    }
    // The whole file is checked before anything is sent, so that a bad file
    // never leaves the programmer holding half an image.
    ImageBuffer image = ImageBuffer::FromText(std::move(text));
    std::optional<HexProblem> problem = CheckHexLines(image.Lines(), {IgnoreChecksums});
    // The window's reasons are Chinese; the command line's English.
    const auto reason = [this](const HexProblem& p) {
        return CommandLineMessages ? p.Text() : p.ChineseText();
    };
    // A file whose only fault is its record checksums may be downloaded on
    // purpose: the window asks, and "No" ends the import there. The command
    // line cannot ask; --ignore-checksums downloads such a file.
    if (problem && problem->checksumOnly && !CommandLineMessages) {
        if (!interaction_.Question(std::string(kFormatErrorText) + "\n" + reason(*problem) +
                                   kBadChecksumQuestion))
            return done(ImportResult::Refused);
        problem = CheckHexLines(image.Lines(), {true});
    }
    if (problem) {
        // A production file whose header the programmer would refuse says so
        // as the download's own refusal does.
        interaction_.Message(Severity::Warning,
                             std::string(problem->header ? kFileRefusedText : kFormatErrorText) +
                                 "\n" + *path + ", " + reason(*problem));
        return done(ImportResult::Refused);
    }

    ResetOperationDisplay();
    // The loader keeps the file's one copy; the hidden lists hold no second
    // one (a file of millions of short lines would cost many times its size).
    form.Memo1.lines.clear();
    form.Memo2.lines.clear();
    form.Edit1.text = *path;
    // Takes the lines, resets the download state (UpdateMode too), finds the end
    // of the image, examines the first line and empties Memo2 for the trace.
    loader.Load(std::move(image));
    if (hooks.DisableOptionGroup) hooks.DisableOptionGroup();
    loader.SendDownloadRequest();
    transferActive_ = true;
    // Until this download completes, the programmer's store is not what the
    // window shows.
    downloadIncomplete_ = true;
    return done(ImportResult::Requested);
}

}  // namespace qrv
