#include "sim/sim_seam.h"

#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace qrv::sim {

namespace {

constexpr auto kWakeEarly = std::chrono::microseconds(50);

class SimHandle : public HidHandle {
  public:
    SimHandle(SimSeam& seam, uint64_t generation)
        : seam_(seam), generation_(generation), path_(seam.Path()) {}
    const std::string& Path() const override { return path_; }
    bool Attributes(uint16_t* vendorId, uint16_t* productId) override {
        if (seam_.Generation() != generation_) return false;
        *vendorId = 0x0483;
        *productId = 0x5750;
        return true;
    }
    bool InputReportLength(uint16_t* length) override {
        *length = kReportSize;
        return seam_.Generation() == generation_;
    }
    bool Write(const uint8_t* report, std::size_t length) override {
        if (length < kReportSize) return false;
        Report r;
        std::memcpy(r.data(), report, kReportSize);
        return seam_.Submit(generation_, r);
    }
    int Read(uint8_t* buf, std::size_t length, int timeoutMs) override {
        return seam_.Receive(generation_, buf, length, timeoutMs);
    }

  private:
    SimSeam& seam_;
    uint64_t generation_;
    std::string path_;
};

}  // namespace

SimSeam::SimSeam(const SimOptions& options, bool plugged, SimPlace place)
    : path_(std::move(place.path)),
      device_(options),
      plugged_(plugged),
      identity_(std::move(place.identity)),
      state_(options.stateFile.empty()
                 ? nullptr
                 : std::make_unique<StateFile>(options.stateFile, place.stateSection)),
      thread_([this] { Run(); }) {
    if (!state_) return;
    std::lock_guard<std::mutex> device(deviceMutex_);
    std::string error;
    // The front-ends check the file while they read their options; this only
    // fails when it went bad since. The device then starts fresh and leaves the file alone.
    if (!state_->Load(device_, &error)) std::fprintf(stderr, "%s\n", error.c_str());
}

SimSeam::~SimSeam() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    inCv_.notify_all();
    outCv_.notify_all();
    thread_.join();
}

std::optional<std::vector<std::string>> SimSeam::Enumerate() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_) return std::vector<std::string>{};
    return std::vector<std::string>{path_};
}

std::optional<HidIdentity> SimSeam::Identity(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_ || path != path_) return std::nullopt;
    return identity_;
}

void SimSeam::SetPort(const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!identity_) identity_ = HidIdentity{};
    identity_->port = port;
    identity_->idPath = "sim-usb-0:" + port;
}

std::unique_ptr<HidHandle> SimSeam::Open(const std::string& path, HidAccess) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_ || path != path_) return nullptr;
    return std::make_unique<SimHandle>(*this, generation_);
}

void SimSeam::SetChangeListener(ChangeListener listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

void SimSeam::Plug() {
    ChangeListener listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (plugged_) return;
        plugged_ = true;
        ++generation_;
        listener = listener_;
    }
    inCv_.notify_all();
    if (listener) {
        listener({DeviceChangeKind::Arrival, {}});
        listener({DeviceChangeKind::NodesChanged, {}});
    }
}

void SimSeam::Unplug() {
    ChangeListener listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!plugged_) return;
        plugged_ = false;
        ++generation_;
        inbox_.clear();
        outbox_.clear();
        listener = listener_;
    }
    {
        std::lock_guard<std::mutex> device(deviceMutex_);
        device_.PowerCycle();
    }
    inCv_.notify_all();  // ends a reply delay of the old connection
    outCv_.notify_all();
    if (listener) {
        listener({DeviceChangeKind::RemoveComplete, path_});
        listener({DeviceChangeKind::NodesChanged, {}});
    }
}

bool SimSeam::Plugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_;
}

uint64_t SimSeam::Generation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

bool SimSeam::Submit(uint64_t generation, const Report& report) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!plugged_ || generation != generation_) return false;
        inbox_.emplace_back(report, std::chrono::steady_clock::now());
    }
    inCv_.notify_all();
    return true;
}

int SimSeam::Receive(uint64_t generation, uint8_t* buf, std::size_t length, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] { return quit_ || generation != generation_ || !outbox_.empty(); };
    if (!outCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) return 0;
    if (quit_ || generation != generation_) return -1;
    const Report r = outbox_.front();
    outbox_.pop_front();
    const std::size_t n = std::min(length, kReportSize);
    std::memcpy(buf, r.data(), n);
    return static_cast<int>(n);
}

std::vector<std::string> SimSeam::ProtocolErrors() {
    return WithDevice([](SimProgrammer& d) { return d.ProtocolErrors(); });
}

void SimSeam::Run() {
    // Fine timer slack, so that the per-reply latency is kept to the microsecond
    // rather than the default 50 us of slack on every wait.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        inCv_.wait(lock, [&] { return quit_ || !inbox_.empty(); });
        if (quit_) return;
        const Report command = inbox_.front().first;
        auto deadline = inbox_.front().second;
        inbox_.pop_front();
        busy_ = true;
        const uint64_t generation = generation_;
        lock.unlock();
        std::vector<TimedReply> replies;
        {
            // A report of a connection that ended meanwhile is not handled, so
            // that an unplug's power cycle always comes after it.
            std::lock_guard<std::mutex> device(deviceMutex_);
            bool current;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                current = !quit_ && generation == generation_;
            }
            if (current) replies = device_.HandleTimed(command);
            // What the device stored is on disk before the host hears of it.
            if (current && state_) state_->StoreIfChanged(device_);
        }
        lock.lock();
        auto gone = [&] { return quit_ || generation != generation_; };
        for (const TimedReply& reply : replies) {
            // Each reply is due its delay after the previous one (the first after
            // the command arrived), however late this thread woke up.
            deadline += std::chrono::microseconds(reply.delayUs);
            if (reply.delayUs > 0) {
                // Sleep until shortly before the deadline, then yield until it:
                // a timed wake-up on a loaded machine comes tens of
                // microseconds late, which would lengthen every USB frame.
                inCv_.wait_until(lock, deadline - kWakeEarly, gone);
                while (!gone() && std::chrono::steady_clock::now() < deadline) {
                    lock.unlock();
                    std::this_thread::yield();
                    lock.lock();
                }
            }
            if (gone()) break;
            outbox_.push_back(reply.report);
            outCv_.notify_all();
        }
        busy_ = false;
        idleCv_.notify_all();
    }
}

bool SimSeam::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idleCv_.wait_for(lock, timeout, [&] { return quit_ || (inbox_.empty() && !busy_); });
}

namespace {

int g_plugFd = -1;

sigset_t PlugSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    return set;
}

void OnPlugSignal(int signal) {
    const char c = signal == SIGUSR1 ? 'u' : 'p';
    [[maybe_unused]] const ssize_t n = ::write(g_plugFd, &c, 1);
}

}  // namespace

void BlockPlugSignals() {
    const sigset_t set = PlugSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool ForwardPlugSignals(int fd) {
    g_plugFd = fd;
    struct sigaction action {};
    action.sa_handler = OnPlugSignal;
    // One handler at a time: the second signal waits until the first is written.
    action.sa_mask = PlugSignalSet();
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGUSR1, &action, nullptr) != 0 || ::sigaction(SIGUSR2, &action, nullptr) != 0)
        return false;
    // The one thread that takes them: with every other thread blocking them, a
    // second signal never runs its handler on another thread while the first
    // one's handler has yet to write.
    std::thread([] {
        ::prctl(PR_SET_NAME, "qrv-plug-signals");
        const sigset_t set = PlugSignalSet();
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        for (;;) ::pause();
    }).detach();
    return true;
}

}  // namespace qrv::sim
