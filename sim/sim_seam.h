// The simulated programmer behind the HID seam. It enumerates as a HID interface
// with the programmer's vendor and product ID, runs the device on a thread of its
// own (so the host's UI thread never waits on it), and can be plugged and
// unplugged; each plug or unplug is reported to the change listener as the udev
// monitor would report it.
//
// The device thread handles one report at a time, then sends its replies one by
// one, each after its delay (the latency, plus the work time of a programming
// step). Unplugging drops the replies not yet sent and the reports not yet
// handled; the device keeps its storage, counters and chip. With a state file
// (SimOptions::stateFile) it keeps them between processes too: the file is
// loaded when the seam is made, and stored before the replies of each report
// that changed them go out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/hid_seam.h"
#include "sim/programmer.h"
#include "sim/state_file.h"

namespace qrv::sim {

inline constexpr const char* kSimPath = "sim:qrv-programmer";

// Where a simulated programmer is: its interface path and, as one of a
// station's, its port, serial and section of the station's state file.
struct SimPlace {
    std::string path = kSimPath;
    // nullopt: the lone programmer of --simulate, which names no port.
    std::optional<HidIdentity> identity;
    // 0: the state file holds this programmer alone; K: programmer K of a
    // station's state file.
    int stateSection = 0;
};

class SimSeam : public HidSeam {
  public:
    using ChangeListener = std::function<void(const DeviceChange&)>;

    explicit SimSeam(const SimOptions& options = {}, bool plugged = true, SimPlace place = {});
    ~SimSeam() override;

    std::optional<std::vector<std::string>> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override;
    std::optional<HidIdentity> Identity(const std::string& path) override;

    const std::string& Path() const { return path_; }
    // Moves the programmer to another port (while it is unplugged, as a
    // person would): its port path changes, its ID_PATH with it.
    void SetPort(const std::string& port);

    // Called on the thread that plugs or unplugs; the front-end marshals it.
    void SetChangeListener(ChangeListener listener);
    void Plug();
    void Unplug();
    bool Plugged() const;

    // Runs f(SimProgrammer&) with the device locked and returns its result: the
    // thread-safe way to inspect the device (storage, counters, recorded
    // commands, protocol errors) or to change its options, also while the
    // device thread is running. Do not plug, unplug or use a handle inside f.
    template <class F>
    auto WithDevice(F&& f) {
        std::lock_guard<std::mutex> lock(deviceMutex_);
        return std::forward<F>(f)(device_);
    }
    // Waits until the device thread has handled every report received so far
    // and sent its replies (or dropped them on an unplug); false when that
    // takes longer than the timeout. Thread-safe: a caller that has written
    // its reports looks at the device after this instead of polling it.
    bool Flush(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Protocol errors the device has recorded so far (a copy, thread-safe).
    std::vector<std::string> ProtocolErrors();

    // The device logic without the lock. Only touch it while no report is
    // being handled, e.g. after the host has seen the last reply; prefer
    // WithDevice.
    SimProgrammer& Device() { return device_; }

    // Internal: used by the handles.
    bool Submit(uint64_t generation, const Report& report);
    int Receive(uint64_t generation, uint8_t* buf, std::size_t length, int timeoutMs);
    uint64_t Generation() const;

  private:
    void Run();

    const std::string path_;
    std::mutex deviceMutex_;  // guards device_; taken before mutex_, never after
    SimProgrammer device_;
    mutable std::mutex mutex_;  // guards the queues, the plug state and the listener
    std::condition_variable inCv_;
    std::condition_variable outCv_;
    std::condition_variable idleCv_;  // the inbox is empty and no report is in hand
    bool busy_ = false;               // a report taken from the inbox is being handled
    // Reports received, with the time each arrived: a reply's delay runs from
    // the arrival of its command, as on a device that starts work at once.
    std::deque<std::pair<Report, std::chrono::steady_clock::time_point>> inbox_;
    std::deque<Report> outbox_;
    bool plugged_;
    bool quit_ = false;
    uint64_t generation_ = 1;  // changes on every plug and unplug
    std::optional<HidIdentity> identity_;
    ChangeListener listener_;
    // With SimOptions::stateFile: the storage kept in that file, loaded here
    // and stored after each report that changed it (guarded by deviceMutex_).
    std::unique_ptr<StateFile> state_;
    std::thread thread_;
};

// The plug signals of the window's simulated programmer: SIGUSR1 unplugs it
// and SIGUSR2 plugs it in again (`kill -USR1 PID; kill -USR2 PID`).
//
// BlockPlugSignals blocks both in the calling thread; called first thing in
// main, before any thread is started, it blocks them in every thread that the
// process (Qt, the reader, the device) starts later. ForwardPlugSignals then
// takes them on one thread of its own, whose handler blocks the other signal
// while it runs, and writes 'u' (unplug) or 'p' (plug) to fd for each, in the
// order they come: an unplug and a plug sent one after the other are never
// handled the other way round. False when the handlers cannot be installed.
void BlockPlugSignals();
bool ForwardPlugSignals(int fd);

}  // namespace qrv::sim
