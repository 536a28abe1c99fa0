// What the simulated programmer's source files share: the few report fields
// they read and write, and the collector of the replies to one report.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "common/hex.h"
#include "protocol/protocol.h"
#include "sim/programmer.h"

namespace qrv::sim {

inline Report NewReply(uint8_t code) {
    Report r{};
    r[0] = 0;
    r[1] = kDeviceMarker;
    r[3] = code;
    return r;
}

inline void Put16(Report& r, std::size_t k, unsigned v) {
    r[k] = static_cast<uint8_t>(v >> 8);
    r[k + 1] = static_cast<uint8_t>(v);
}

inline void Put32(Report& r, std::size_t k, uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) r[k + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline unsigned Get16(const Report& c, std::size_t k) {
    return static_cast<unsigned>(c[k] << 8 | c[k + 1]);
}

// Little-endian 16-bit field of the custom calibration report.
inline unsigned GetLe16(const Report& c, std::size_t k) {
    return static_cast<unsigned>(c[k] | c[k + 1] << 8);
}

inline uint32_t Argument(const Report& c) {
    return static_cast<uint32_t>(c[8]) | static_cast<uint32_t>(c[9]) << 8 |
           static_cast<uint32_t>(c[10]) << 16 | static_cast<uint32_t>(c[11]) << 24;
}

inline uint16_t Sum16(const uint8_t* data, std::size_t count) {
    return static_cast<uint16_t>(std::accumulate(data, data + count, 0u));
}

inline std::string Hex16(unsigned v) {
    return "0x" + H4(v);
}

inline Report Outcome(uint8_t code, uint8_t status, unsigned count) {
    Report r = NewReply(code);
    r[6] = status;
    Put16(r, 7, std::min(count, 0xFFFFu));
    return r;
}

inline Report DownloadError() {
    Report r = NewReply(RPL_DOWNLOAD_ERROR);
    r[6] = 1;
    return r;
}

inline uint8_t StepReplyCode(ChipStep step) {
    switch (step) {
        case ChipStep::BlankCheck:
            return RPL_BLANK_CHECK;
        case ChipStep::Erase:
            return RPL_ERASE;
        case ChipStep::Program:
            return RPL_PROGRAM;
        case ChipStep::Verify:
            return RPL_VERIFY;
        case ChipStep::None:
            break;
    }
    return 0;
}

inline bool IsAllZero(const Report& r) {
    return std::all_of(r.begin(), r.end(), [](uint8_t b) { return b == 0; });
}

// Collects the replies of one report with the time before each: the latency,
// plus the work time of the bytes a step processed before that reply.
class SimProgrammer::Replies {
  public:
    explicit Replies(const SimOptions& options)
        : latencyUs_(static_cast<uint32_t>(std::max(options.latencyUs, 0))),
          bytesPerSecond_(std::max(options.bytesPerSecond, 0)) {}

    void Add(const Report& r, uint64_t workBytes = 0) {
        uint64_t us = latencyUs_;
        if (bytesPerSecond_ > 0)
            us += workBytes * 1000000u / static_cast<uint64_t>(bytesPerSecond_);
        us = std::min<uint64_t>(us, std::numeric_limits<uint32_t>::max());
        list.push_back({r, static_cast<uint32_t>(us)});
    }

    std::vector<TimedReply> list;

  private:
    uint32_t latencyUs_;
    int bytesPerSecond_;
};

}  // namespace qrv::sim
