// A scripted HID seam for link and session tests.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/hid_seam.h"
#include "link/report_buffer.h"

namespace qrv::test {

struct FakeInterface {
    std::string path;
    uint16_t vendorId = 0x0483;
    uint16_t productId = 0x5750;
    bool writeOpenFails = false;
    bool readOpenFails = false;
    bool attributesFail = false;
    uint16_t inputReportLength = 65;  // 0: capabilities unreadable
};

// Shared state of the fake device: what the host wrote, what it will read.
struct FakeDevice {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::vector<uint8_t>> toRead;  // empty vector = a failed read
    std::vector<Report> written;
    std::vector<std::size_t> readLengths;
    int openHandles = 0;
    bool gone = false;  // every read fails

    void Push(std::vector<uint8_t> bytes) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            toRead.push_back(std::move(bytes));
        }
        cv.notify_all();
    }
    std::vector<Report> Written() {
        std::lock_guard<std::mutex> lock(mutex);
        return written;
    }
};

class FakeHandle : public HidHandle {
  public:
    FakeHandle(const FakeInterface& iface, std::shared_ptr<FakeDevice> dev)
        : iface_(iface), dev_(std::move(dev)) {
        std::lock_guard<std::mutex> lock(dev_->mutex);
        ++dev_->openHandles;
    }
    ~FakeHandle() override {
        std::lock_guard<std::mutex> lock(dev_->mutex);
        --dev_->openHandles;
    }
    const std::string& Path() const override { return iface_.path; }
    bool Attributes(uint16_t* v, uint16_t* p) override {
        if (iface_.attributesFail) return false;
        *v = iface_.vendorId;
        *p = iface_.productId;
        return true;
    }
    bool InputReportLength(uint16_t* length) override {
        if (iface_.inputReportLength == 0) return false;
        *length = iface_.inputReportLength;
        return true;
    }
    bool Write(const uint8_t* report, std::size_t length) override {
        Report r{};
        std::memcpy(r.data(), report, std::min(length, kReportSize));
        std::lock_guard<std::mutex> lock(dev_->mutex);
        dev_->written.push_back(r);
        return true;
    }
    int Read(uint8_t* buf, std::size_t length, int timeoutMs) override {
        std::unique_lock<std::mutex> lock(dev_->mutex);
        dev_->readLengths.push_back(length);
        if (dev_->gone) return -1;
        if (!dev_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return !dev_->toRead.empty() || dev_->gone; }))
            return 0;
        if (dev_->gone) return -1;
        std::vector<uint8_t> bytes = std::move(dev_->toRead.front());
        dev_->toRead.pop_front();
        if (bytes.empty()) return -1;
        const std::size_t n = std::min(length, bytes.size());
        std::memcpy(buf, bytes.data(), n);
        return static_cast<int>(n);
    }

  private:
    FakeInterface iface_;
    std::shared_ptr<FakeDevice> dev_;
};

class FakeSeam : public HidSeam {
  public:
    std::vector<FakeInterface> interfaces;
    bool listUnavailable = false;
    std::vector<std::shared_ptr<FakeDevice>> devices;  // one per interface
    std::vector<std::pair<std::string, HidAccess>> opens;

    FakeDevice& Add(FakeInterface iface) {
        interfaces.push_back(std::move(iface));
        devices.push_back(std::make_shared<FakeDevice>());
        return *devices.back();
    }
    std::optional<std::vector<std::string>> Enumerate() override {
        if (listUnavailable) return std::nullopt;
        std::vector<std::string> paths;
        for (const auto& i : interfaces) paths.push_back(i.path);
        return paths;
    }
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override {
        opens.emplace_back(path, access);
        for (std::size_t k = 0; k < interfaces.size(); ++k) {
            const FakeInterface& i = interfaces[k];
            if (i.path != path) continue;
            if ((access == HidAccess::Write && i.writeOpenFails) ||
                (access == HidAccess::Read && i.readOpenFails))
                return nullptr;
            return std::make_unique<FakeHandle>(i, devices[k]);
        }
        return nullptr;
    }
    // The interface list names every interface's IDs, as hidapi's does.
    bool ListedIds(const std::string& path, uint16_t* vendorId, uint16_t* productId) override {
        for (const auto& i : interfaces) {
            if (i.path != path) continue;
            *vendorId = i.vendorId;
            *productId = i.productId;
            return true;
        }
        return false;
    }
    std::string OpenError() const override { return "Permission denied"; }
};

// A reply report with the marker ';' and the given code.
inline std::vector<uint8_t> Reply(uint8_t code, std::size_t length = kReportSize) {
    std::vector<uint8_t> r(length, 0);
    r[1] = kDeviceMarker;
    r[3] = code;
    return r;
}

}  // namespace qrv::test
