#include "link/hidapi_backend.h"

#include <hidapi/hidapi.h>
#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <type_traits>
#include <vector>

#include "link/device_lock.h"
#include "link/hid_descriptor.h"

namespace qrv {

namespace {

// The report descriptor of /dev/hidrawN, from sysfs.
InputReportInfo ReadInputReportInfo(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string node = slash == std::string::npos ? path : path.substr(slash + 1);
    std::ifstream in("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
    if (!in) return {};
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    return ParseInputReportInfo(bytes.data(), bytes.size());
}

// The serial number hidapi gives (UTF-32 on Linux) as UTF-8.
std::string Utf8(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        // wchar_t is signed where it is 32 bits wide: its unsigned twin keeps
        // the code point's bits as they are.
        const auto c = static_cast<uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(*text));
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The USB port of /dev/hidrawN: the sysfs name of the USB device the node hangs
// from ("1-1.2") and udev's ID_PATH of it.
void ReadPort(udev* u, const std::string& path, HidIdentity* identity) {
    const auto slash = path.rfind('/');
    const std::string node = slash == std::string::npos ? path : path.substr(slash + 1);
    udev_device* hidraw = udev_device_new_from_subsystem_sysname(u, "hidraw", node.c_str());
    if (!hidraw) return;
    // The parent belongs to the child: it is not unreferenced on its own.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_device");
    if (usb) {
        if (const char* name = udev_device_get_sysname(usb)) identity->port = name;
        if (const char* id = udev_device_get_property_value(usb, "ID_PATH")) identity->idPath = id;
    }
    udev_device_unref(hidraw);
}

class HidapiHandle : public HidHandle {
  public:
    HidapiHandle(hid_device* dev, std::string path, std::unique_ptr<DeviceLock> lock)
        : dev_(dev),
          path_(std::move(path)),
          info_(ReadInputReportInfo(path_)),
          lock_(std::move(lock)) {}
    ~HidapiHandle() override { hid_close(dev_); }

    const std::string& Path() const override { return path_; }

    bool Attributes(uint16_t* vendorId, uint16_t* productId) override {
        hid_device_info* info = hid_get_device_info(dev_);
        if (!info) return false;
        *vendorId = info->vendor_id;
        *productId = info->product_id;
        return true;
    }

    bool InputReportLength(uint16_t* length) override {
        if (info_.byteLength == 0) return false;
        *length = info_.byteLength;
        return true;
    }

    bool Write(const uint8_t* report, std::size_t length) override {
        return hid_write(dev_, report, length) == static_cast<int>(length);
    }

    int Read(uint8_t* buf, std::size_t length, int timeoutMs) override {
        if (length == 0) return 0;
        if (info_.numberedReports) return hid_read_timeout(dev_, buf, length, timeoutMs);
        // Unnumbered reports arrive without their ID byte: put the 0 in front.
        int n = hid_read_timeout(dev_, buf + 1, length - 1, timeoutMs);
        if (n <= 0) return n;
        buf[0] = 0;
        return n + 1;
    }

  private:
    hid_device* dev_;
    std::string path_;
    InputReportInfo info_;
    std::unique_ptr<DeviceLock> lock_;  // the write handle's; released after hid_close
};

}  // namespace

HidapiSeam::HidapiSeam() {
    hid_init();
}
HidapiSeam::~HidapiSeam() {
    hid_exit();
}

std::optional<std::vector<std::string>> HidapiSeam::Enumerate() {
    if (hid_init() != 0) return std::nullopt;
    std::vector<std::string> paths;
    listed_.clear();
    identities_.clear();
    udev* u = udev_new();
    hid_device_info* list = hid_enumerate(0, 0);
    for (hid_device_info* d = list; d; d = d->next) {
        if (!d->path) continue;
        paths.emplace_back(d->path);
        listed_[d->path] = {d->vendor_id, d->product_id};
        HidIdentity identity;
        identity.serial = Utf8(d->serial_number);
        if (u) ReadPort(u, d->path, &identity);
        identities_[d->path] = identity;
    }
    hid_free_enumeration(list);
    if (u) udev_unref(u);
    // A stable order: hidraw nodes by number.
    std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

std::unique_ptr<HidHandle> HidapiSeam::Open(const std::string& path, HidAccess access) {
    // The write handle is the connection: it takes the lock first, so that a
    // programmer another process drives is never written to.
    std::unique_ptr<DeviceLock> lock;
    if (access == HidAccess::Write && !(lock = DeviceLock::Take(path, &openError_))) return nullptr;
    errno = 0;
    hid_device* dev = hid_open_path(path.c_str());
    if (!dev) {
        openError_ = errno != 0 ? std::strerror(errno) : "it cannot be opened";
        return nullptr;
    }
    return std::make_unique<HidapiHandle>(dev, path, std::move(lock));
}

std::optional<HidIdentity> HidapiSeam::Identity(const std::string& path) {
    const auto it = identities_.find(path);
    if (it == identities_.end()) return std::nullopt;
    return it->second;
}

bool HidapiSeam::ListedIds(const std::string& path, uint16_t* vendorId, uint16_t* productId) {
    const auto it = listed_.find(path);
    if (it == listed_.end()) return false;
    *vendorId = it->second.first;
    *productId = it->second.second;
    return true;
}

}  // namespace qrv
