// The programmer's side of the reports: a simulated QRV programmer. Pure device
// logic: each command report received gives the replies the device sends for it,
// in order. SimSeam runs it on a thread of its own, like a real device.
#pragma once

#include <cstdint>
#include <vector>

#include "link/report_buffer.h"

namespace qrv::sim {

struct SimOptions {
    int latencyUs = 1000;  // delay before each reply (one USB frame)
};

class SimProgrammer {
public:
    explicit SimProgrammer(SimOptions options = {});

    // Handles one output report (65 bytes, byte 0 the report ID) and returns the
    // input reports the device answers with.
    std::vector<Report> Handle(const Report& command);

    const SimOptions& Options() const { return options_; }

private:
    Report StatusReply() const;

    SimOptions options_;
    uint32_t successCount_ = 0;
    uint32_t failureCount_ = 0;
    uint8_t firmwareMajor_ = '3';
    uint8_t firmwareMinor_ = '6';
};

}  // namespace qrv::sim
