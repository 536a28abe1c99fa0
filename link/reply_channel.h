// The hand-off of replies from the reader thread to the UI thread. The reader
// offers a report and waits until the dispatcher has handled it, waking now and
// then to check its stop flag; so exactly one reply is in flight. A report
// offered by a reader that was stopped before the UI thread took it is dropped.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "link/report_buffer.h"

namespace qrv {

class ReplyChannel {
  public:
    // Asks the UI thread to call DispatchPending soon (Qt: a queued call). Called
    // on the reader thread after each offer. May be empty (CLI: WaitAndDispatch).
    using Poster = std::function<void()>;
    using Handler = std::function<void(const Report&)>;

    void SetPoster(Poster poster);

    // Reader thread: offers a report and blocks until the UI thread has handled
    // it (true) or stop became true first (false; the report is withdrawn).
    bool Offer(const Report& report, const std::atomic<bool>& stop);

    // UI thread: handles the pending report, if any, with handler; then releases
    // the reader. Returns whether a report was handled.
    bool DispatchPending(const Handler& handler);

    // CLI thread: waits up to timeout for a report and handles it. Returns false
    // at once, without a report, while the reader's reads fail.
    bool WaitAndDispatch(std::chrono::milliseconds timeout, const Handler& handler);

    // Reader thread: whether its reads keep failing (the device is gone). Each
    // new reader starts with false.
    void SetReadFailing(bool failing);
    bool ReadFailing() const;

  private:
    bool TakeLocked(std::unique_lock<std::mutex>& lock, Report* out, uint64_t* seq);
    void Finish(uint64_t seq);

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    Poster poster_;
    std::optional<Report> pending_;
    uint64_t offered_ = 0;  // sequence number of the last offer
    uint64_t handled_ = 0;  // sequence number of the last report handled
    bool readFailing_ = false;
};

}  // namespace qrv
