// The seam that hides the HID services: enumerate interfaces in a stable order,
// open one for reading or writing, read its identity and input report length,
// write 65 bytes, read one report with a short timeout, close (destroy).
// The hidapi backend, the programmer simulator and test fakes implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qrv {

enum class HidAccess { Read, Write };

// Where a programmer is plugged in and which one it is: the USB port path (the
// sysfs name of its USB device, such as "1-1.2"), udev's ID_PATH of that port
// and the serial number the programmer reports. Any of them may be empty.
struct HidIdentity {
    std::string port;
    std::string idPath;
    std::string serial;
};

class HidHandle {
  public:
    virtual ~HidHandle() = default;  // closes the handle
    virtual const std::string& Path() const = 0;
    // Vendor and product ID (HidD_GetAttributes); false when they cannot be read.
    virtual bool Attributes(uint16_t* vendorId, uint16_t* productId) = 0;
    // Input report byte length including the report ID byte; false when unknown.
    virtual bool InputReportLength(uint16_t* length) = 0;
    // Writes one output report (byte 0 is the report ID). False on failure.
    virtual bool Write(const uint8_t* report, std::size_t length) = 0;
    // Reads one input report into buf with byte 0 the report ID. Returns the byte
    // count, 0 when nothing arrived within timeoutMs, -1 on failure.
    virtual int Read(uint8_t* buf, std::size_t length, int timeoutMs) = 0;
};

// A change of the attached devices, as the link's state machine sees it.
enum class DeviceChangeKind { Arrival, NodesChanged, RemoveComplete };
struct DeviceChange {
    DeviceChangeKind kind;
    std::string path;  // the removed interface (RemoveComplete), else empty
};

class HidSeam {
  public:
    virtual ~HidSeam() = default;
    // Paths of the HID interfaces present, in a stable order; nullopt when the
    // interface list is unavailable.
    virtual std::optional<std::vector<std::string>> Enumerate() = 0;
    // Opens an interface; nullptr when it cannot be opened.
    virtual std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) = 0;
    // The vendor and product ID the interface list gives for a path, without
    // opening it; false when the list does not say. Lets the link name a
    // programmer that is present but cannot be opened.
    virtual bool ListedIds(const std::string& /*path*/, uint16_t* /*vendorId*/,
                           uint16_t* /*productId*/) {
        return false;
    }
    // Why the last Open failed (for example "Permission denied"); empty when
    // unknown.
    virtual std::string OpenError() const { return {}; }
    // The port and serial of an enumerated interface (from the last
    // Enumerate); nullopt when this seam does not know them.
    virtual std::optional<HidIdentity> Identity(const std::string& /*path*/) {
        return std::nullopt;
    }
};

}  // namespace qrv
