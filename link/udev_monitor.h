// Device changes on Linux: a libudev monitor on the hidraw subsystem. The
// front-end watches Fd() (Qt: a socket notifier on the UI thread) and calls
// ReadChanges when it is readable. add gives an arrival and then a node change;
// remove gives a completed removal of that node and then a node change.
#pragma once

#include <string>
#include <vector>

#include "link/hid_seam.h"

struct udev;
struct udev_monitor;

namespace qrv {

class UdevMonitor {
  public:
    UdevMonitor();
    ~UdevMonitor();
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    bool Valid() const { return monitor_ != nullptr; }
    int Fd() const;
    // Reads the pending events without blocking.
    std::vector<DeviceChange> ReadChanges();

  private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

}  // namespace qrv
