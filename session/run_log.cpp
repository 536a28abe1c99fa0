// The production log's view of the programming operations: which run or step
// is under way, where it failed and what the programmer said, and the line it
// leaves in the log when its result (or the lack of one) is known.
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

}  // namespace

void MainSession::BeginRun(int row, uint8_t steps) {
    if (!link_.Connected()) return;  // nothing was sent: no run
    if (pendingRun_) FinishRun("no result", "another run was started before its result");
    pendingRun_ = PendingRun{row, steps, {}, {}};
}

void MainSession::NoteStepFailed(const StepRow& row) {
    if (pendingRun_ && pendingRun_->failedStep.empty()) pendingRun_->failedStep = row.name;
}

void MainSession::NoteRunMessage(const char* text) {
    if (pendingRun_) pendingRun_->message = text;
}

void MainSession::FinishRun(const char* outcome, const std::string& reason) {
    if (!pendingRun_) return;
    const PendingRun run = std::move(*pendingRun_);
    pendingRun_.reset();
    if (!log_) return;
    RunRecord record;
    record.time = LocalTimeIso8601();
    record.programmer = link_.WritePath();
    record.model = form.Edit2.text;
    record.checksum = H4(static_cast<unsigned>(ImageChecksum));
    record.steps = StepNames(run.steps);
    record.outcome = outcome;
    record.failedStep = run.failedStep;
    record.message = reason.empty() ? run.message : reason;
    record.passed = form.Edit4.text;
    record.failed = form.Edit5.text;
    std::string error;
    if (log_->Append(record, &error) || logFailureShown_) return;
    logFailureShown_ = true;
    ShowMessage(error.c_str());
}

}  // namespace qrv
