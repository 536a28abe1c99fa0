#include "link/reader_thread.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "protocol/layout.h"

namespace qrv {

namespace {
constexpr int kReadTimeoutMs = 20;  // short, so that a stop is noticed quickly
constexpr auto kPassPause = std::chrono::milliseconds(1);
// Reads that fail this many times in a row mean the device is gone (a single
// failed read may be a passing fault).
constexpr int kFailuresMeaningGone = 20;
}  // namespace

THidthread::THidthread(std::shared_ptr<HidHandle> readHandle, uint16_t inputReportLength,
                       ReplyChannel& channel)
    : readHandle_(std::move(readHandle)),
      readLength_(inputReportLength == 0 ? kReportSize : inputReportLength),
      channel_(channel),
      thread_([this] { Execute(); }) {}

THidthread::~THidthread() {
    Stop();
}

void THidthread::Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

void THidthread::Execute() {
    // The device may report an input report longer than 65 bytes: read all of it
    // into a buffer of its length, but hand over only the 65 bytes of a report.
    std::vector<uint8_t> buf(std::max(readLength_, kReportSize), 0);
    Report report{};
    int failures = 0;
    while (!stop_.load()) {
        int n = readHandle_ ? readHandle_->Read(buf.data(), readLength_, kReadTimeoutMs) : -1;
        failures = n < 0 ? std::min(failures + 1, kFailuresMeaningGone) : 0;
        channel_.SetReadFailing(failures == kFailuresMeaningGone);
        if (n > 0) {
            const auto received = std::min<std::size_t>(static_cast<std::size_t>(n), buf.size());
            std::fill(buf.begin() + static_cast<std::ptrdiff_t>(received), buf.end(), uint8_t{0});
            std::copy_n(buf.begin(), kReportSize, report.begin());
            if (report[wire::kMarker] == kDeviceMarker) channel_.Offer(report, stop_);
            // The dispatcher clears every reply it handles; so does the reader's own
            // copy, so that a later failed read hands nothing over.
            report.fill(0);
        } else if (n < 0) {
            // Unplugged or never opened: keep a 1 ms pace until the next connection.
            std::this_thread::sleep_for(kPassPause);
        }
    }
}

}  // namespace qrv
