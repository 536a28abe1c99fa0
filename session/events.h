// What the session reports to its front-ends: one typed event per outcome the
// programmer or the session produced. The window, the command-line tool and the
// production log all take their results from these, so each sees the same
// truth however an operation was started. Events carry values, never report
// bytes or control states.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qrv {

namespace event {

// The programmer was connected, or the connection was lost or could not be
// made (reason: "unplugged", or why it cannot be opened).
struct Connection {
    bool connected = false;
    std::string path;
    std::string reason;
};

// A status reply was read. `retried` when it was corrupted and asked for
// again (another one follows); `unreadable` when it stayed corrupted.
struct Status {
    std::string caption;  // the window's caption after it
    std::string model;    // the model the window shows ("器件型号")
    unsigned checksum = 0;
    int storedLength = 0;
    long long passed = 0;
    long long failed = 0;
    std::optional<std::string> firmware;  // "3.6"; none from a programmer of another kind
    bool productionFile = false;
    bool retried = false;
    bool unreadable = false;
};

// A block of a download (or of a firmware replacement) was acknowledged.
struct DownloadProgress {
    bool firmware = false;
    int percent = 0;
};

// A download ended: stored with the programmer's checksum of what it holds, or
// not, with the reason.
struct DownloadEnded {
    bool firmware = false;
    bool stored = false;
    unsigned checksum = 0;
    std::string reason;
};

// The automatic run (row -1) or a single step (row 0..3) was sent.
struct RunStarted {
    int row = -1;
    uint8_t steps = 0;  // StepFlags bits
};

// Progress and outcome of one step row (0 blank, 1 erase, 2 program, 3 verify).
struct StepProgress {
    int row = 0;
    int percent = 0;
};
struct StepOutcome {
    int row = 0;
    bool passed = false;
};

// The option programming (protect false) or protection result of a run.
struct OptionOutcome {
    bool protect = false;
    bool passed = false;
    std::string panel;  // the result panel's text
};

// The automatic run's result, with the counters the programmer now reports.
// Option and protection results may still follow; RunEnded closes the run.
struct RunResult {
    bool passed = false;
    std::string panel;
    long long passedCount = 0;
    long long failedCount = 0;
};

// The chip cannot be programmed: no chip, or a chip of another model.
struct ChipRefused {
    std::string message;
};

// A run or single step is over: its record, as the production log keeps it.
struct RunEnded {
    int row = -1;
    uint8_t steps = 0;
    std::string outcome;     // "passed", "failed", "no result" or "interrupted"
    std::string failedStep;  // the first step (or "option", "protect") that failed
    std::string message;     // the programmer's message, or why no result came
    std::string option;      // "passed", "failed" or "" when not reported
    std::string protect;
    std::string programmer;  // the programmer's device path
    std::string model;
    unsigned checksum = 0;      // of the image the programmer holds
    long long passedCount = 0;  // the programmer's counters
    long long failedCount = 0;
};

// "读校验码": the chip's checksum.
struct ChecksumRead {
    unsigned checksum = 0;
};

// "擦除存储": the stored image was erased.
struct StorageErased {
    std::string message;
};

// One block of a read-back (chip = "Read chip", else "Read cach").
struct ReadBackBlock {
    bool chip = false;
    unsigned address = 0;
    std::vector<uint8_t> bytes;
    int percent = 0;
};
// A read-back ended: complete at the stored image's length, or cut short.
struct ReadBackEnded {
    bool chip = false;
    bool complete = false;
    std::string reason;
};

// A firmware replacement ended: the programmer's first status after it tells
// whether it took (current) and its version.
struct FirmwareUpdateEnded {
    bool current = false;
    std::string version;
};

}  // namespace event

using SessionEvent =
    std::variant<event::Connection, event::Status, event::DownloadProgress, event::DownloadEnded,
                 event::RunStarted, event::StepProgress, event::StepOutcome, event::OptionOutcome,
                 event::RunResult, event::ChipRefused, event::RunEnded, event::ChecksumRead,
                 event::StorageErased, event::ReadBackBlock, event::ReadBackEnded,
                 event::FirmwareUpdateEnded>;

using EventListener = std::function<void(const SessionEvent&)>;

// The listeners of one session, called in the order they subscribed, on the
// thread that dispatches the replies. A listener may unsubscribe itself or
// another one while it is called.
class EventListeners {
  public:
    int Subscribe(EventListener listener) {
        listeners_.push_back({next_, std::move(listener)});
        return next_++;
    }
    void Unsubscribe(int id) {
        for (auto& entry : listeners_)
            if (entry.id == id) entry.listener = nullptr;
    }
    void Emit(const SessionEvent& e) {
        // Index loop: a listener may subscribe another, or cause another
        // event, while it runs. Entries are removed only by the outermost call.
        ++depth_;
        for (std::size_t i = 0; i < listeners_.size(); ++i) {
            const EventListener listener = listeners_[i].listener;
            if (listener) listener(e);
        }
        if (--depth_ == 0)
            std::erase_if(listeners_, [](const Entry& entry) { return !entry.listener; });
    }

  private:
    struct Entry {
        int id;
        EventListener listener;
    };
    std::vector<Entry> listeners_;
    int next_ = 1;
    int depth_ = 0;
};

}  // namespace qrv
