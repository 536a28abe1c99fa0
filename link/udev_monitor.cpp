#include "link/udev_monitor.h"

#include <libudev.h>

#include <cstring>

namespace qrv {

UdevMonitor::UdevMonitor() {
    udev_ = udev_new();
    if (!udev_) return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_) return;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
}

UdevMonitor::~UdevMonitor() {
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
}

int UdevMonitor::Fd() const {
    return monitor_ ? udev_monitor_get_fd(monitor_) : -1;
}

std::vector<DeviceChange> UdevMonitor::ReadChanges() {
    std::vector<DeviceChange> changes;
    if (!monitor_) return changes;
    while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(dev);
        const char* node = udev_device_get_devnode(dev);
        if (action && std::strcmp(action, "add") == 0) {
            changes.push_back({DeviceChangeKind::Arrival, {}});
            changes.push_back({DeviceChangeKind::NodesChanged, {}});
        } else if (action && std::strcmp(action, "remove") == 0) {
            changes.push_back({DeviceChangeKind::RemoveComplete, node ? node : ""});
            changes.push_back({DeviceChangeKind::NodesChanged, {}});
        }
        udev_device_unref(dev);
    }
    return changes;
}

}  // namespace qrv
