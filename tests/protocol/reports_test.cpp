// The typed report views: each encoder against the bytes the wire carries,
// each decoder's bounds, and the simulator's decoders reading back what the
// host's encoders write.
#include "protocol/reports.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qrv {
namespace {

// A report as a list of (byte, value) on a background of `fill`.
Report Bytes(std::initializer_list<std::pair<int, int>> bytes, uint8_t fill = 0) {
    Report r;
    r.fill(fill);
    for (auto [k, v] : bytes) r[static_cast<std::size_t>(k)] = static_cast<uint8_t>(v);
    return r;
}

struct EncoderCase {
    const char* name;
    std::function<void(uint8_t*)> encode;
    Report expected;  // the report after encoding into 65 bytes of 0xEE
};

TEST(ReportEncoders, WriteTheBytesOfTheWire) {
    constexpr uint8_t kOld = 0xEE;
    const uint8_t payload[] = {0x11, 0x22, 0x33};
    const uint8_t record[] = {0x33, 0x02, 'A', 'B'};
    const EncoderCase cases[] = {
        {"production download request",
         [](uint8_t* r) {
             EncodeDownloadRequest(r, {0, 0, {}, kProductionFileMark});
         },
         Bytes({{1, ':'}, {2, 4}, {3, 0x7F}, {25, 0xA5}, {26, 0x5B}})},
        {"firmware download request",
         [](uint8_t* r) {
             EncodeDownloadRequest(r, {0, 0xDFD8, kFirmwareUpdateMark, {}});
         },
         Bytes({{1, ':'}, {2, 4}, {3, 0x7F}, {6, 0xDF}, {7, 0xD8}, {10, 0xBB}, {11, 0xCC}})},
        {"download begin", [](uint8_t* r) { EncodeDownloadBegin(r, 0x0102, 0x1234); },
         Bytes({{0, 0}, {1, ':'}, {2, 4}, {3, 0x25}, {4, 1}, {5, 2}, {6, 0x12}, {7, 0x34}}, kOld)},
        {"write block", [&](uint8_t* r) { EncodeWriteBlock(r, 0xABCD, payload); },
         Bytes(
             {{1, ':'}, {2, 3}, {3, 0x20}, {4, 0xAB}, {5, 0xCD}, {6, 0x11}, {7, 0x22}, {8, 0x33}})},
        {"download end keeps the count and the bytes after 8",
         [](uint8_t* r) {
             EncodeDownloadEnd(r, {0, 0x00FF, 0x5A});
         },
         Bytes({{0, 0}, {1, ':'}, {3, 0x26}, {4, 0}, {5, 0}, {6, 0}, {7, 0xFF}, {8, 0x5A}}, kOld)},
        {"configuration record",
         [&](uint8_t* r) { EncodeProductionRecord(r, CMD_USER_CODE_RECORD, record); },
         Bytes({{1, ':'}, {2, 4}, {3, 0x92}, {4, 0x33}, {5, 2}, {6, 'A'}, {7, 'B'}})},
        {"cache request",
         [](uint8_t* r) {
             EncodeCacheRequest(r, {0x003B, 0x0100, 1});
         },
         Bytes({{1, ':'}, {2, 4}, {3, 0x23}, {5, 0x3B}, {6, 1}, {8, 1}})},
        // 20000 kHz: bounds 35964 and 36036, trim start 511, low byte first.
        {"custom calibration",
         [](uint8_t* r) {
             EncodeCustomCalibration(r, {20000, 35964, 36036, 511});
         },
         Bytes({{0, 0},
                {1, ':'},
                {2, 9},
                {3, 0x58},
                {4, 0},
                {5, 0},
                {6, 0},
                {7, 0},
                {8, 0x23},
                {9, 0x20},
                {10, 0x4E},
                {11, 0x7C},
                {12, 0x8C},
                {13, 0xC4},
                {14, 0x8C},
                {15, 0xFF},
                {16, 0x01}},
               kOld)},
    };
    for (const EncoderCase& c : cases) {
        Report r;
        r.fill(kOld);
        c.encode(r.data());
        for (std::size_t k = 0; k < kReportSize; ++k)
            EXPECT_EQ(r[k], c.expected[k]) << c.name << ", byte " << k;
    }
}

TEST(ReportEncoders, RepliesOfTheSimulator) {
    const uint8_t data[] = {0x04, 0xFF};
    const std::pair<Report, Report> cases[] = {
        {EncodeStepOutcome(RPL_PROGRAM, {kStateProgress, 0x1400}),
         Bytes({{1, ';'}, {3, 0x33}, {6, 0}, {7, 0x14}, {8, 0x00}})},
        {EncodeAutoResult({false, 0x01020304}),
         Bytes({{1, ';'}, {3, 0x2A}, {10, 1}, {9, 2}, {7, 3}, {8, 4}})},
        {EncodeBlockAck(0x0203), Bytes({{1, ';'}, {3, 0x7C}, {5, 2}, {6, 3}})},
        {EncodeDownloadDone({1, 0xBEEF, 0x00FF}),
         Bytes({{1, ';'}, {3, 0x26}, {6, 1}, {7, 0xBE}, {8, 0xEF}, {11, 0}, {12, 0xFF}})},
        {EncodeChipBlock(0xABCD, data),
         Bytes({{1, ';'}, {2, 2}, {3, 0x32}, {4, 0xAB}, {5, 0xCD}, {7, 0x04}, {8, 0xFF}})},
        {EncodeCacheBlock(0x1234, data),
         Bytes({{1, ';'}, {2, 2}, {3, 0x21}, {4, 0x12}, {5, 0x34}, {6, 0x04}, {7, 0xFF}})},
    };
    for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected) << int{expected[3]};
}

TEST(ReportDecoders, ReadBackBlocksThatWouldPassTheReportEndAreRefused) {
    const std::pair<uint8_t, bool> chip[] = {{0, true}, {58, true}, {59, false}, {255, false}};
    for (auto [count, ok] : chip) {
        const Report r = Bytes({{2, count}, {3, RPL_CHIP_BLOCK}});
        const auto block = DecodeChipBlock(r.data());
        ASSERT_EQ(block.has_value(), ok) << int{count};
        // The line takes the record-type byte and the data: it ends at byte 64 at most.
        if (ok) {
            EXPECT_LE(block->line.data() + block->line.size(), r.data() + kReportSize);
        }
    }
    const std::pair<uint8_t, bool> cache[] = {{0, true}, {59, true}, {60, false}, {255, false}};
    for (auto [count, ok] : cache) {
        const Report r = Bytes({{2, count}, {3, RPL_CACHE_BLOCK}});
        const auto block = DecodeCacheBlock(r.data());
        ASSERT_EQ(block.has_value(), ok) << int{count};
        if (ok) {
            EXPECT_LE(block->data + block->count, r.data() + kReportSize);
        }
    }
}

TEST(ReportDecoders, PayloadsAreClampedToTheReportWhateverTheCountSays) {
    for (uint8_t count : {uint8_t{0}, uint8_t{59}, uint8_t{60}, uint8_t{255}}) {
        const Report r = Bytes({{2, count}});
        const WriteBlockFields block = DecodeWriteBlock(r.data());
        EXPECT_EQ(block.count, count);
        EXPECT_LE(block.payload.data() + block.payload.size(), r.data() + kReportSize);
        const ProductionRecordFields record = DecodeProductionRecord(r.data());
        EXPECT_EQ(record.length, count);
        EXPECT_LE(record.bytes.data() + record.bytes.size(), r.data() + kReportSize);
    }
}

TEST(ReportDecoders, StatusIntegrityIsTheXorOfBytes3To64) {
    StatusFields s;
    s.startAddress = 0x0100;
    s.imageLength = 0x2000;
    s.checksum = 0xBEEF;
    s.successCount = 7;
    s.failureCount = 0xFFFFFFFF;
    s.fileKind = 0x5A;
    s.kind = 'A';
    s.firmwareMajor = '3';
    s.firmwareMinor = '6';
    s.integrity = StatusIntegrity(s);
    Report r = EncodeStatus(s);
    EXPECT_EQ(r[26], 0x5A);
    EXPECT_EQ(r[61], 'A');
    const ReceivedStatus ok = DecodeStatus(r.data());
    EXPECT_TRUE(ok.integrityMatches);
    EXPECT_EQ(ok.fields.checksum, 0xBEEFu);
    EXPECT_EQ(ok.fields.failureCount, 0xFFFFFFFFu);
    r[10] ^= 0xFF;
    EXPECT_FALSE(DecodeStatus(r.data()).integrityMatches);
}

TEST(ReportDecoders, TheSimulatorReadsWhatTheHostWrites) {
    Report r{};
    BuildShortCommand(r.data(), CMD_EEPROM_READ, EepromArgument(2, 0xA3), 0x1234);
    const ShortFrame f = DecodeShortFrame(r.data());
    EXPECT_EQ(f.argument, 0x2A3u);
    EXPECT_EQ(f.endAddress, 0x1234u);
    EXPECT_EQ(f.checksum, f.sum);

    EncodeCustomCalibration(r.data(), {14000, 51428, 51502, 11});
    const ReceivedCalibration c = DecodeCustomCalibration(r.data());
    EXPECT_TRUE(IsCustomCalibration(r.data()) && c.zeroPadding);
    EXPECT_EQ(c.values.lowerBound, 51428u);
    EXPECT_EQ(c.values.trimStart, 11u);

    ConfigFields config;
    config.endAddress = 0x7FFF;
    config.fileMarker = 0x5A;
    config.autoSteps = kAutoStepErase | kAutoStepVerify;
    const ConfigBytes bytes = EncodeConfigBlock(config);
    EXPECT_EQ(bytes[2], 0x7F);
    EXPECT_EQ(bytes[16], 0x5A);
    EXPECT_EQ(bytes[20], 0x0C);
    EXPECT_EQ(DecodeConfigBlock(bytes.data()).autoSteps, config.autoSteps);
}

}  // namespace
}  // namespace qrv
