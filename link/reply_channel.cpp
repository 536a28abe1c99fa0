#include "link/reply_channel.h"

#include <utility>

namespace qrv {

namespace {
constexpr auto kStopPoll = std::chrono::milliseconds(5);
}

void ReplyChannel::SetPoster(Poster poster) {
    std::lock_guard<std::mutex> lock(mutex_);
    poster_ = std::move(poster);
}

bool ReplyChannel::Offer(const Report& report, const std::atomic<bool>& stop) {
    Poster poster;
    uint64_t seq;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = report;
        seq = ++offered_;
        poster = poster_;
    }
    cv_.notify_all();
    if (poster) poster();
    std::unique_lock<std::mutex> lock(mutex_);
    while (handled_ < seq) {
        if (stop.load()) {
            // Withdraw the report unless the UI thread already took it.
            if (pending_ && offered_ == seq) pending_.reset();
            return false;
        }
        cv_.wait_for(lock, kStopPoll);
    }
    return true;
}

bool ReplyChannel::TakeLocked(std::unique_lock<std::mutex>&, Report* out, uint64_t* seq) {
    if (!pending_) return false;
    *out = *pending_;
    *seq = offered_;
    pending_.reset();
    return true;
}

void ReplyChannel::Finish(uint64_t seq) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (seq > handled_) handled_ = seq;
    }
    cv_.notify_all();
}

bool ReplyChannel::DispatchPending(const Handler& handler) {
    Report report;
    uint64_t seq = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!TakeLocked(lock, &report, &seq)) return false;
    }
    handler(report);
    Finish(seq);
    return true;
}

bool ReplyChannel::WaitAndDispatch(std::chrono::milliseconds timeout, const Handler& handler) {
    Report report;
    uint64_t seq = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, timeout, [&] { return pending_.has_value() || readFailing_; });
        if (!TakeLocked(lock, &report, &seq)) return false;
    }
    handler(report);
    Finish(seq);
    return true;
}

void ReplyChannel::SetReadFailing(bool failing) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (readFailing_ == failing) return;
        readFailing_ = failing;
    }
    cv_.notify_all();
}

bool ReplyChannel::ReadFailing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readFailing_;
}

}  // namespace qrv
