// Reports as the programmer sends them, built by tests, benchmarks and fuzz
// targets. Header-only and free of gtest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "link/report_buffer.h"
#include "protocol/protocol.h"

namespace qrv::test {

// A reply report: marker ';', the code in byte 3, and the given bytes.
inline Report MakeReply(uint8_t code, std::initializer_list<std::pair<int, int>> bytes = {}) {
    Report r{};
    r[1] = kDeviceMarker;
    r[3] = code;
    for (auto [k, v] : bytes) r[static_cast<std::size_t>(k)] = static_cast<uint8_t>(v);
    return r;
}

}  // namespace qrv::test
