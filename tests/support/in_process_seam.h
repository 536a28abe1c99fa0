// A HID seam with one programmer whose reports are recorded and, when a
// simulated programmer is given, handed to its device logic at once; the
// replies wait in a queue for the caller to pass them to the session. No
// thread runs. Header-only and free of gtest.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/hid_seam.h"
#include "link/programmer_link.h"
#include "link/report_buffer.h"
#include "sim/programmer.h"

namespace qrv::test {

class InProcessSeam : public HidSeam {
  public:
    explicit InProcessSeam(sim::SimProgrammer* device = nullptr) : device_(device) {}

    std::optional<std::vector<std::string>> Enumerate() override {
        return std::vector<std::string>{"in-process"};
    }
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess) override {
        if (path != "in-process") return nullptr;
        return std::make_unique<Handle>(*this);
    }

    // Runs on every write before the report is recorded, with the bytes as
    // written (a fuzz target checks its invariants here).
    std::function<void(const uint8_t* report, std::size_t length)> onWrite;
    // Whether written keeps the reports (a benchmark turns this off).
    bool keepWritten = true;
    // Every report written, in order.
    std::vector<Report> written;
    // Replies of the simulated programmer not yet handed to the session.
    std::deque<Report> replies;

  private:
    class Handle : public HidHandle {
      public:
        explicit Handle(InProcessSeam& seam) : seam_(seam) {}
        const std::string& Path() const override { return path_; }
        bool Attributes(uint16_t* vendorId, uint16_t* productId) override {
            *vendorId = kProgrammerVendorId;
            *productId = kProgrammerProductId;
            return true;
        }
        bool InputReportLength(uint16_t* length) override {
            *length = kReportSize;
            return true;
        }
        bool Write(const uint8_t* report, std::size_t length) override {
            if (seam_.onWrite) seam_.onWrite(report, length);
            Report r{};
            std::copy_n(report, std::min(length, kReportSize), r.begin());
            if (seam_.keepWritten) seam_.written.push_back(r);
            if (seam_.device_)
                for (const Report& reply : seam_.device_->Handle(r)) seam_.replies.push_back(reply);
            return true;
        }
        int Read(uint8_t*, std::size_t, int) override { return 0; }

      private:
        InProcessSeam& seam_;
        std::string path_ = "in-process";
    };

    sim::SimProgrammer* device_;
};

}  // namespace qrv::test
