#include "sim/programmer.h"

namespace qrv::sim {

namespace {
constexpr uint8_t kCmdStatus = 0x35;
constexpr uint8_t kRplStatus = 0x35;

Report NewReply(uint8_t code) {
    Report r{};
    r[0] = 0;
    r[1] = kDeviceMarker;
    r[3] = code;
    return r;
}
}  // namespace

SimProgrammer::SimProgrammer(SimOptions options) : options_(options) {}

std::vector<Report> SimProgrammer::Handle(const Report& command) {
    if (command[1] != kHostMarker) return {};
    switch (command[3]) {
        case kCmdStatus: return {StatusReply()};
        default: return {};
    }
}

Report SimProgrammer::StatusReply() const {
    Report r = NewReply(kRplStatus);
    auto put32 = [&r](std::size_t k, uint32_t v) {
        for (int i = 0; i < 4; ++i) r[k + static_cast<std::size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    put32(18, successCount_);
    put32(22, failureCount_);
    r[26] = 0xFF;  // plain image stored
    r[61] = 'A';
    r[63] = firmwareMajor_;
    r[64] = firmwareMinor_;
    uint8_t x = 0;
    for (std::size_t k = 3; k <= 64; ++k) x ^= r[k];
    r[2] = x;
    return r;
}

}  // namespace qrv::sim
