#include "link/device_change.h"

namespace qrv {

std::vector<DeviceChangeAction> DeviceChangeTracker::Handle(DeviceChangeKind kind,
                                                            bool removedIsWriteHandle) {
    std::vector<DeviceChangeAction> actions;
    if (kind == DeviceChangeKind::Arrival) {
        ArrivalSeen = 1;
        NodesChanged = 0;
    }
    if (kind == DeviceChangeKind::NodesChanged) {
        NodesChanged = 1;
        RemovalSeen = 0;
        actions.push_back({DeviceChangeAction::Pause, 5});
        actions.push_back({DeviceChangeAction::Connect});
    }
    if (kind == DeviceChangeKind::RemoveComplete) {
        RemovalSeen = 1;
        if (removedIsWriteHandle) actions.push_back({DeviceChangeAction::CloseWriteLink});
    }
    if (RemovalSeen == 1 && NodesChanged == 1) {
        actions.push_back({DeviceChangeAction::Pause, 10});
        actions.push_back({DeviceChangeAction::Connect});
        RemovalSeen = 0;
        NodesChanged = 0;
    }
    if (NodesChanged == 1 && ArrivalSeen == 1) {
        actions.push_back({DeviceChangeAction::Connect});
        ArrivalSeen = 0;
        NodesChanged = 0;
    }
    return actions;
}

}  // namespace qrv
