// The run in progress: whether a run or single step may start, what the
// programmer reports for it (a failed step, option and protection results, the
// result or the reason there is none), and the production log line it leaves
// when it ends. Every way a run starts or ends goes through here, so the log
// and the result panel tell the same story whatever started the run.
#include "session/run_record.h"

#include "common/hex.h"
#include "session/session.h"

namespace qrv {

namespace {

std::string StepNames(uint8_t steps) {
    std::string names;
    for (const StepRow& row : kStepRows) {
        if ((steps & row.flag) == 0) continue;
        if (!names.empty()) names += '+';
        names += row.name;
    }
    return names;
}

constexpr const char* kNoProgrammerReason = "no programmer connected";
constexpr const char* kSilenceReason = "the programmer did not answer for 10 s";

}  // namespace

void MainSession::ShowResultPanel(const char* caption, uint32_t color, uint32_t textColor) {
    form.Panel1.caption = caption;
    form.Panel1.color = color;
    form.Panel1.fontColor = textColor;
}

RunStart RunRecorder::Admit(int row, uint8_t steps) {
    if (run_ && !run_->resultSeen) return RunStart::Busy;
    // A run whose result came and whose option results are still awaited is
    // over as far as the next chip is concerned.
    if (run_) Finish();
    if (!s_.link_.Connected()) {
        // Nothing can be sent: the run ends before it began.
        Begin(row, steps);
        EndWithoutResult("no result", kNoProgrammerReason);
        return RunStart::NotConnected;
    }
    if (s_.downloadIncomplete_) {
        // The programmer's store is not what the window shows: nothing runs
        // until a download completes.
        s_.form.RichEdit1.lines = {kDownloadInterrupted};
        s_.form.RichEdit1.fontColor = colors::clRed;
        s_.ShowMessage(kDownloadInterrupted, Severity::Warning);
        return RunStart::DownloadIncomplete;
    }
    if (row < 0 && steps == 0) {
        s_.ShowMessage(kNoStepsSelected, Severity::Warning);
        return RunStart::NoSteps;
    }
    return RunStart::Started;
}

void RunRecorder::Begin(int row, uint8_t steps) {
    run_ = ProgrammingRun{};
    run_->row = row;
    run_->steps = steps;
    s_.StartRunTimer(kRunSilenceMs);
    if (s_.link_.Connected()) s_.Emit(event::RunStarted{row, steps});
}

void MainSession::StartRunTimer(int milliseconds) {
    if (hooks.StartRunTimer) hooks.StartRunTimer(milliseconds);
}

void RunRecorder::StepFailed(const StepRow& row) {
    if (run_ && run_->failedStep.empty()) run_->failedStep = row.name;
}

void RunRecorder::StepEnded(const StepRow& row, bool passed) {
    if (!passed) StepFailed(row);
    if (run_ && run_->row >= 0 && &kStepRows[run_->row] == &row) {
        run_->outcome = passed ? "passed" : "failed";
        Finish();
    }
}

void RunRecorder::ReplyArrived(uint8_t code) {
    if (run_ && run_->resultSeen && code != RPL_OPTION_RESULT && code != RPL_PROTECT_RESULT)
        Finish();
}

void RunRecorder::OptionResult(bool protect, uint8_t status, const char* failedText) {
    if (!run_ || run_->row >= 0 || (status != 1 && status != 2)) return;
    std::string& result = protect ? run_->protect : run_->option;
    result = status == 1 ? "passed" : "failed";
    if (status == 2) {
        // A chip whose options did not take is not a good chip.
        if (run_->failedStep.empty()) run_->failedStep = protect ? "protect" : "option";
        if (run_->message.empty()) run_->message = failedText;
        if (run_->resultSeen) run_->outcome = "failed";
    }
    // Both results came: nothing more belongs to this run.
    if (run_->resultSeen && !run_->option.empty() && !run_->protect.empty()) Finish();
}

void RunRecorder::AutoResult(bool failed) {
    if (!run_ || run_->row >= 0 || run_->resultSeen) return;
    run_->resultSeen = true;
    const bool optionFailed = run_->option == "failed" || run_->protect == "failed";
    run_->outcome = failed || optionFailed ? "failed" : "passed";
    if (!run_->option.empty() && !run_->protect.empty()) {
        Finish();
        return;
    }
    // The option and protection results, when the stored file asks for them,
    // follow the result.
    s_.StartRunTimer(kRunSettleMs);
}

void RunRecorder::EndWithoutResult(const char* outcome, const std::string& reason) {
    if (!run_) return;
    if (!run_->resultSeen) {
        s_.ShowResultPanel(kRunUnfinished, colors::clRed);
        run_->outcome = outcome;
        if (!reason.empty()) run_->message = reason;
    }
    Finish();
}

void RunRecorder::TimerExpired() {
    if (!run_) return;
    if (run_->resultSeen)
        Finish();
    else
        EndWithoutResult("no result", kSilenceReason);
}

event::RunEnded RunRecorder::EndedEvent(const ProgrammingRun& run) const {
    event::RunEnded e;
    e.row = run.row;
    e.steps = run.steps;
    e.outcome = run.outcome.empty() ? "no result" : run.outcome;
    e.failedStep = run.failedStep;
    e.message = run.message;
    e.option = run.option;
    e.protect = run.protect;
    e.programmer = s_.link_.WritePath();
    e.model = s_.form.Edit2.text;
    e.checksum = s_.storedChecksum_;
    e.passedCount = CountValue(s_.form.Edit4.text);
    e.failedCount = CountValue(s_.form.Edit5.text);
    return e;
}

void RunRecorder::Finish() {
    if (!run_) return;
    const ProgrammingRun run = std::move(*run_);
    run_.reset();
    s_.StartRunTimer(0);
    s_.Emit(EndedEvent(run));
}

void RunRecorder::SetLog(std::optional<ProductionLog> log) {
    log_ = std::move(log);
    if (logSubscription_ != 0) s_.Unsubscribe(logSubscription_);
    logSubscription_ = 0;
    if (!log_) return;
    // Every run's end writes its line, however the run was started or ended.
    logSubscription_ = s_.Subscribe([this](const SessionEvent& e) {
        const auto* ended = std::get_if<event::RunEnded>(&e);
        if (!ended || !log_) return;
        RunRecord record;
        record.time = LocalTimeIso8601();
        record.programmer = ended->programmer;
        record.model = ended->model;
        // Four hex digits and "H", as the window shows it: spreadsheets keep
        // "1E10H" and "0123H" as text, where "1E10" and "0123" would become
        // numbers.
        record.checksum = H4(ended->checksum) + "H";
        record.steps = StepNames(ended->steps);
        record.outcome = ended->outcome;
        record.failedStep = ended->failedStep;
        record.message = ended->message;
        record.passed = std::to_string(ended->passedCount);
        record.failed = std::to_string(ended->failedCount);
        record.option = ended->option;
        record.protect = ended->protect;
        std::string error;
        if (!log_->Append(record, &error)) ReportLogFailure(error);
    });
}

void RunRecorder::CheckLog() {
    std::string error;
    if (log_ && !log_->Check(&error)) ReportLogFailure(error);
}

void RunRecorder::ReportLogFailure(const std::string& error) {
    if (logFailureShown_) return;
    logFailureShown_ = true;
    s_.ShowMessage(("生产记录无法写入!\n" + error).c_str(), Severity::Critical);
}

void MainSession::RunTimerExpired() {
    if (!runs_.Current()) return;
    runs_.TimerExpired();
    NotifyChanged();
}

}  // namespace qrv
