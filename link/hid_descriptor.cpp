#include "link/hid_descriptor.h"

#include <map>
#include <vector>

namespace qrv {

InputReportInfo ParseInputReportInfo(const uint8_t* d, std::size_t size) {
    struct Globals {
        uint32_t reportSize = 0;
        uint32_t reportCount = 0;
        uint32_t reportId = 0;
    };
    Globals g;
    std::vector<Globals> stack;
    std::map<uint32_t, uint64_t> inputBits;
    InputReportInfo info;
    std::size_t i = 0;
    while (i < size) {
        const uint8_t prefix = d[i];
        if (prefix == 0xFE) {  // long item: size byte, tag byte, data
            if (i + 1 >= size) break;
            i += 3 + static_cast<std::size_t>(d[i + 1]);
            continue;
        }
        static constexpr std::size_t kSizes[4] = {0, 1, 2, 4};
        const std::size_t n = kSizes[prefix & 0x3];
        if (i + 1 + n > size) break;
        uint32_t value = 0;
        for (std::size_t b = 0; b < n; ++b) value |= static_cast<uint32_t>(d[i + 1 + b]) << (8 * b);
        switch (prefix & 0xFC) {
            case 0x74:
                g.reportSize = value;
                break;  // Report Size
            case 0x94:
                g.reportCount = value;
                break;  // Report Count
            case 0x84:  // Report ID
                g.reportId = value;
                info.numberedReports = true;
                break;
            case 0xA4:
                stack.push_back(g);
                break;  // Push
            case 0xB4:  // Pop
                if (!stack.empty()) {
                    g = stack.back();
                    stack.pop_back();
                }
                break;
            case 0x80:  // Input
                inputBits[g.reportId] += static_cast<uint64_t>(g.reportSize) * g.reportCount;
                break;
            default:
                break;
        }
        i += 1 + n;
    }
    uint64_t largest = 0;
    for (const auto& [id, bits] : inputBits) largest = std::max(largest, (bits + 7) / 8);
    if (largest > 0)
        info.byteLength = static_cast<uint16_t>(std::min<uint64_t>(largest + 1, 0xFFFF));
    return info;
}

}  // namespace qrv
