// The run in progress and the record it leaves: whether a run or single step
// may start, what the programmer reports for it (a failed step, option and
// protection results, the result or the reason there is none), and its end,
// which the session reports as a RunEnded event. The production log is
// written from those events, so every way a run starts or ends leaves the
// same line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/production_log.h"
#include "session/events.h"

namespace qrv {

class MainSession;
struct StepRow;
enum class RunStart;

// A run in progress: the automatic run or one single step, from its command
// until its result or the reason it has none (no chip, a wrong chip, the
// programmer unplugged, reconnected or silent).
struct ProgrammingRun {
    int row = -1;       // the single step's row 0..3; -1 for the automatic run
    uint8_t steps = 0;  // the StepFlags bits it runs
    // RPL_AUTO_RESULT came; the option and protection results may still follow.
    bool resultSeen = false;
    std::string outcome;     // "passed", "failed" or "no result" once known
    std::string failedStep;  // the first step (or "option", "protect") that failed
    std::string message;     // the programmer's message, or why no result came
    std::string option;      // RPL_OPTION_RESULT: "passed", "failed", or "" when not reported
    std::string protect;     // RPL_PROTECT_RESULT, the same
};

class RunRecorder {
  public:
    explicit RunRecorder(MainSession& session) : s_(session) {}

    // Whether a run may start now; a run is in progress from its command until
    // its result, and a second start meanwhile is refused (Busy).
    RunStart Admit(int row, uint8_t steps);
    // The command was sent.
    void Begin(int row, uint8_t steps);
    // What the programmer reports for the run.
    void StepFailed(const StepRow& row);
    void StepEnded(const StepRow& row, bool passed);
    void OptionResult(bool protect, uint8_t state, const char* failedText);
    void AutoResult(bool failed);
    // A reply came: after the run's result only its option and protection
    // results belong to it, and any other reply means they are not coming.
    void ReplyArrived(uint8_t code);
    // The run ends without its result (outcome "no result" or "failed").
    void EndWithoutResult(const char* outcome, const std::string& reason);
    // The run timer ran out: a run still waiting for its result has none; a
    // run whose result came ends with it.
    void TimerExpired();

    const std::optional<ProgrammingRun>& Current() const { return run_; }
    bool AwaitingResult() const { return run_ && !run_->resultSeen; }

    // The production log, written from the session's RunEnded events.
    void SetLog(std::optional<ProductionLog> log);
    void CheckLog();
    bool LogFailed() const { return logFailureShown_; }

  private:
    void Finish();
    event::RunEnded EndedEvent(const ProgrammingRun& run) const;
    // The one message of a production log that cannot be written.
    void ReportLogFailure(const std::string& error);

    MainSession& s_;
    std::optional<ProgrammingRun> run_;
    std::optional<ProductionLog> log_;
    bool logFailureShown_ = false;
    int logSubscription_ = 0;
};

}  // namespace qrv
