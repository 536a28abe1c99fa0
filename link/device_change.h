// The device-change state machine (WM_DEVICECHANGE): decides from arrival,
// node-change and removal events when the programmer is connected again. Pure:
// it returns the actions for the caller to run in order.
#pragma once

#include <cstdint>
#include <vector>

#include "link/hid_seam.h"

namespace qrv {

struct DeviceChangeAction {
    enum Kind { Pause, Connect, CloseWriteLink };
    Kind kind;
    int milliseconds = 0;  // Pause only
    bool operator==(const DeviceChangeAction&) const = default;
};

class DeviceChangeTracker {
  public:
    // removedIsWriteHandle: for RemoveComplete, whether the removed interface is
    // the one the write handle is open on.
    std::vector<DeviceChangeAction> Handle(DeviceChangeKind kind, bool removedIsWriteHandle);
    void Reset() { ArrivalSeen = NodesChanged = RemovalSeen = 0; }

    uint8_t ArrivalSeen = 0;
    uint8_t NodesChanged = 0;
    uint8_t RemovalSeen = 0;
};

}  // namespace qrv
