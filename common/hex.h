#pragma once

#include <cstdint>
#include <string>

namespace qrv {

// Value of one hexadecimal digit character: 0..15, or -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// x as four upper-case hexadecimal digits ("H4").
std::string H4(unsigned x);
// x as two upper-case hexadecimal digits.
std::string H2(unsigned x);
// Bytes as upper-case hex digits, two per byte, no separators.
std::string HexBytes(const uint8_t* data, std::size_t count);

}  // namespace qrv
