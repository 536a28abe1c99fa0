// Intel HEX lines built by tests and benchmarks: data records with their
// checksums. Header-only and free of gtest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrv::test {

// An Intel HEX record line (a data record unless another type is given) with
// its checksum.
inline std::string DataRecord(int address, const std::vector<uint8_t>& data, int type = 0x00) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                  static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                  static_cast<uint8_t>(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
    std::string line = ":";
    for (uint8_t b : bytes) {
        line += kDigits[b >> 4];
        line += kDigits[b & 0xF];
    }
    return line;
}

// count bytes counting up from first.
inline std::vector<uint8_t> Counting(int count, int first = 0) {
    std::vector<uint8_t> v;
    for (int i = 0; i < count; ++i) v.push_back(static_cast<uint8_t>(first + i));
    return v;
}

}  // namespace qrv::test
