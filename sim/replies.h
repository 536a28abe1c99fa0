// What the simulated programmer's source files share: sums and names for its
// messages, and the collector of the replies to one report. The reports
// themselves are read and written through protocol/reports.h.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "common/hex.h"
#include "protocol/reports.h"
#include "sim/programmer.h"

namespace qrv::sim {

inline uint16_t Sum16(const uint8_t* data, std::size_t count) {
    return static_cast<uint16_t>(std::accumulate(data, data + count, 0u));
}

inline std::string Hex16(unsigned v) {
    return "0x" + H4(v);
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
