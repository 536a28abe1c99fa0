// A station: several programmers on one host, each in a fixed slot. A slot is
// bound to a USB port path (one socket of a gang fixture per port) or to a
// serial number (a programmer that moves between ports). The binding comes
// from a station file or, without one, from the programmers present at start
// in port-path order. Qt-free: the command-line tool and the station window
// share it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/device_select.h"
#include "link/hid_seam.h"

namespace qrv {

inline constexpr int kMaxSlots = 16;

struct SlotBinding {
    int slot = 0;
    std::string name;
    std::string port;    // bound by port path, or
    std::string serial;  // by serial number (port empty)
};

struct Station {
    std::vector<SlotBinding> slots;  // in slot order, slot numbers unique
    const SlotBinding* Find(int slot) const;
};

// The station file: a JSON object of slot number → {"port": …} or
// {"serial": …}, with an optional "name". Slots run 1..16. nullopt with
// *error naming the fault.
std::optional<Station> ParseStation(const std::string& text, std::string* error);
std::optional<Station> ReadStationFile(const std::string& path, std::string* error);

// Port paths in the order of their numbers: 1-1.2 before 1-1.10.
bool PortBefore(const std::string& a, const std::string& b);

// The slots of the programmers present, in port-path order, each bound to its
// port (or to its serial when the seam knows no port).
Station StationFromPresent(const std::vector<AttachedProgrammer>& present);

// Where each slot's programmer is now.
struct SlotState {
    SlotBinding binding;
    std::optional<AttachedProgrammer> programmer;  // none: nothing in its port
    std::string problem;                           // e.g. a serial two programmers share
};
struct SlotMap {
    std::vector<SlotState> slots;
    // Programmers in no slot's port (shown as unassigned, never added).
    std::vector<AttachedProgrammer> unassigned;
};
SlotMap AssignSlots(const Station& station, const std::vector<AttachedProgrammer>& present);

// "1,3-5" → {1, 3, 4, 5}: slots of the station; nullopt with *error for a
// bad list or a slot the station does not have.
std::optional<std::vector<int>> ParseSlotList(const std::string& text, const Station& station,
                                              std::string* error);

// One slot of another seam: the interface list holds the programmer now in
// the slot's port (or with its serial) alone, and only it can be opened. A
// programmer re-plugged into the slot's port is found again under its new
// interface path.
class SlotSeam : public HidSeam {
  public:
    SlotSeam(HidSeam& inner, SlotBinding binding) : inner_(inner), binding_(std::move(binding)) {}
    std::optional<std::vector<std::string>> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override;
    bool ListedIds(const std::string& path, uint16_t* vendorId, uint16_t* productId) override;
    std::string OpenError() const override { return inner_.OpenError(); }
    std::optional<HidIdentity> Identity(const std::string& path) override;
    const SlotBinding& Binding() const { return binding_; }

  private:
    bool Matches(const std::string& path);

    HidSeam& inner_;
    SlotBinding binding_;
};

}  // namespace qrv
