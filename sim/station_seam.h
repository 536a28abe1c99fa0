// A simulated station: N simulated programmers on one host, each a SimSeam of
// its own (storage, chip, counters, device thread and plug state) with its own
// interface path, USB port path and serial. The interface list holds the
// plugged ones in port order; opens, identities and plugging go to the
// programmer they name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/control_fifo.h"
#include "sim/options.h"
#include "sim/sim_seam.h"

namespace qrv::sim {

// Programmer K's default port path and serial ("1-1.K", "SIM000K").
std::string DefaultPort(int k);
std::string DefaultSerial(int k);
// Programmer K's interface path: kSimPath in a station of one (as the lone
// programmer of --simulate), else "sim:qrv-programmer-K".
std::string StationPath(int k, int count);

class SimStationSeam : public HidSeam {
  public:
    // options.count programmers (at least one). Starts the control FIFO's
    // reader when options.control names one; *error says why it could not.
    explicit SimStationSeam(const StationOptions& options, std::string* error = nullptr);
    ~SimStationSeam() override;

    std::optional<std::vector<std::string>> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override;
    std::optional<HidIdentity> Identity(const std::string& path) override;

    int Count() const { return static_cast<int>(programmers_.size()); }
    // Programmer K, 1 <= K <= Count().
    SimSeam& Programmer(int k) { return *programmers_.at(std::size_t(k - 1)); }
    void SetChangeListener(const SimSeam::ChangeListener& listener);

    // Unplugs programmer K; plugs it in again, into another port when one is
    // given (a programmer plugged in elsewhere is first unplugged).
    void Unplug(int k);
    void Plug(int k, const std::string& port = {});
    // One line of the control FIFO: "unplug K" or "plug K [PORT]". False with
    // *error for anything else.
    bool Control(const std::string& line, std::string* error);

  private:
    SimSeam* Find(const std::string& path);

    std::vector<std::unique_ptr<SimSeam>> programmers_;
    std::unique_ptr<ControlFifo> control_;  // stopped before the programmers go
};

}  // namespace qrv::sim
