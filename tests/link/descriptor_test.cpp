#include <gtest/gtest.h>

#include <vector>

#include "link/hid_descriptor.h"

namespace qrv {
namespace {

TEST(HidDescriptor, VendorReportOf64BytesGives65) {
    // Usage page (vendor), usage, collection, 64 x 8-bit input, 64 x 8-bit output.
    const std::vector<uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                    0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                                    0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};
    auto info = ParseInputReportInfo(d.data(), d.size());
    EXPECT_EQ(info.byteLength, 65);
    EXPECT_FALSE(info.numberedReports);
}

TEST(HidDescriptor, LargestNumberedReportCounts) {
    const std::vector<uint8_t> d = {0x85, 0x01, 0x75, 0x08, 0x95, 0x10, 0x81,
                                    0x02, 0x85, 0x02, 0x95, 0x20, 0x81, 0x02};
    auto info = ParseInputReportInfo(d.data(), d.size());
    EXPECT_EQ(info.byteLength, 33);
    EXPECT_TRUE(info.numberedReports);
}

TEST(HidDescriptor, TruncatedItemsAreNotReadPastTheEnd) {
    const std::vector<uint8_t> d = {0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x27, 0xFF};
    auto info = ParseInputReportInfo(d.data(), d.size());
    EXPECT_EQ(info.byteLength, 5);
    EXPECT_EQ(ParseInputReportInfo(d.data(), 0).byteLength, 0);
}

}  // namespace
}  // namespace qrv
