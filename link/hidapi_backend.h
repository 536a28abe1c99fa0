// The real HID backend on hidapi (hidraw). Every interface is opened with
// hid_open_path; the write handle and the read handle are two separate opens of
// the same interface.
#pragma once

#include "link/hid_seam.h"

namespace qrv {

class HidapiSeam : public HidSeam {
  public:
    HidapiSeam();
    ~HidapiSeam() override;
    std::optional<std::vector<std::string>> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override;
};

}  // namespace qrv
