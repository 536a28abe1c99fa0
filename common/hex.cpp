#include "common/hex.h"

namespace qrv {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}

std::string H4(unsigned x) {
    std::string s(4, '0');
    for (int i = 3; i >= 0; --i, x >>= 4) s[static_cast<std::size_t>(i)] = kDigits[x & 0xF];
    return s;
}

std::string H2(unsigned x) {
    return {kDigits[(x >> 4) & 0xF], kDigits[x & 0xF]};
}

std::string HexBytes(const uint8_t* data, std::size_t count) {
    std::string s;
    s.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        s.push_back(kDigits[data[i] >> 4]);
        s.push_back(kDigits[data[i] & 0xF]);
    }
    return s;
}

}  // namespace qrv
