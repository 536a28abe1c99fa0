// The real HID backend on hidapi (hidraw). Every interface is opened with
// hid_open_path; the write handle and the read handle are two separate opens of
// the same interface. The write handle holds the programmer's lock
// (link/device_lock.h) for its life, so that one process alone drives it.
#pragma once

#include <map>
#include <utility>

#include "link/hid_seam.h"

namespace qrv {

class HidapiSeam : public HidSeam {
  public:
    HidapiSeam();
    ~HidapiSeam() override;
    std::optional<std::vector<std::string>> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override;
    bool ListedIds(const std::string& path, uint16_t* vendorId, uint16_t* productId) override;
    std::string OpenError() const override { return openError_; }
    std::optional<HidIdentity> Identity(const std::string& path) override;

  private:
    std::map<std::string, std::pair<uint16_t, uint16_t>> listed_;  // from the last Enumerate
    std::map<std::string, HidIdentity> identities_;                // from the last Enumerate
    std::string openError_;
};

}  // namespace qrv
