// A scripted host for the simulator tests: builds the reports the host sends,
// byte for byte as the host's senders build them, and reads replies.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "link/report_buffer.h"
#include "protocol/protocol.h"
#include "sim/programmer.h"

namespace qrv::sim::test {

inline Report Short(uint8_t code, uint32_t argument = 0, unsigned endAddress = 0) {
    Report r{};
    BuildShortCommand(r.data(), code, argument, endAddress);
    return r;
}

// CMD_DOWNLOAD_REQUEST of a file import; production files carry A5 5B in 25-26.
inline Report FileRequest(bool production = false) {
    Report r{};
    r[1] = ':';
    r[2] = 4;
    r[3] = CMD_DOWNLOAD_REQUEST;
    if (production) {
        r[25] = 0xA5;
        r[26] = 0x5B;
    }
    return r;
}

// CMD_DOWNLOAD_REQUEST of a firmware replacement.
inline Report FirmwareRequest() {
    Report r{};
    r[1] = ':';
    r[2] = 4;
    r[3] = CMD_DOWNLOAD_REQUEST;
    r[6] = 0xDF;
    r[7] = 0xD8;
    r[10] = 0xBB;
    r[11] = 0xCC;
    return r;
}

inline Report Begin(unsigned start = 0, unsigned end = 0) {
    Report r{};
    r[1] = ':';
    r[2] = 4;
    r[3] = CMD_DOWNLOAD_BEGIN;
    r[4] = static_cast<uint8_t>(start >> 8);
    r[5] = static_cast<uint8_t>(start);
    r[6] = static_cast<uint8_t>(end >> 8);
    r[7] = static_cast<uint8_t>(end);
    return r;
}

inline Report Block(unsigned address, const std::vector<uint8_t>& data) {
    Report r{};
    r[1] = ':';
    r[2] = static_cast<uint8_t>(data.size());
    r[3] = CMD_WRITE_BLOCK;
    r[4] = static_cast<uint8_t>(address >> 8);
    r[5] = static_cast<uint8_t>(address);
    for (std::size_t i = 0; i < data.size() && 6 + i < kReportSize; ++i) r[6 + i] = data[i];
    return r;
}

// A header record report: byte 2 = LL, the record's data from byte 4 on.
inline Report Record(uint8_t code, const std::vector<uint8_t>& data) {
    Report r{};
    r[1] = ':';
    r[2] = static_cast<uint8_t>(data.size());
    r[3] = code;
    for (std::size_t i = 0; i < data.size() && 4 + i < kReportSize; ++i) r[4 + i] = data[i];
    return r;
}

inline Report End(unsigned end, uint8_t fileKind, unsigned start = 0) {
    Report r{};
    r[1] = ':';
    r[3] = CMD_DOWNLOAD_END;
    r[4] = static_cast<uint8_t>(start >> 8);
    r[5] = static_cast<uint8_t>(start);
    r[6] = static_cast<uint8_t>(end >> 8);
    r[7] = static_cast<uint8_t>(end);
    r[8] = fileKind;
    return r;
}

inline Report CacheRequest(unsigned address, unsigned end, uint8_t lastStatus = 1) {
    Report r{};
    r[1] = ':';
    r[2] = 4;
    r[3] = CMD_READ_CACHE;
    r[4] = static_cast<uint8_t>(address >> 8);
    r[5] = static_cast<uint8_t>(address);
    r[6] = static_cast<uint8_t>(end >> 8);
    r[7] = static_cast<uint8_t>(end);
    r[8] = lastStatus;
    return r;
}

// The 21-byte configuration block of a production file.
inline std::vector<uint8_t> ConfigBlock(const std::string& model = "QRV32K-S001",
                                        uint8_t marker = 0x42, uint8_t optionBits = 0,
                                        uint8_t autoSteps = 0x0D, uint8_t hardLock = 0x01,
                                        uint8_t dataFlash = 0) {
    std::vector<uint8_t> b(21, 0);
    b[2] = 0x7F;
    b[3] = 0xFF;
    b[4] = 0x05;
    for (std::size_t i = 0; i < 11 && i < model.size(); ++i)
        b[5 + i] = static_cast<uint8_t>(model[i]);
    b[16] = marker;
    b[17] = optionBits;
    b[18] = hardLock;
    b[19] = dataFlash;
    b[20] = autoSteps;
    return b;
}

inline unsigned Be16(const Report& r, std::size_t k) {
    return static_cast<unsigned>(r[k] << 8 | r[k + 1]);
}
inline uint32_t Be32(const Report& r, std::size_t k) {
    return static_cast<uint32_t>(r[k]) << 24 | static_cast<uint32_t>(r[k + 1]) << 16 |
           static_cast<uint32_t>(r[k + 2]) << 8 | r[k + 3];
}
// The counter of RPL_AUTO_RESULT as the host reads it.
inline uint32_t RunCounter(const Report& r) {
    return static_cast<uint32_t>(r[10]) << 24 | static_cast<uint32_t>(r[9]) << 16 |
           static_cast<uint32_t>(r[7]) << 8 | r[8];
}

inline std::vector<uint8_t> Bytes(std::size_t n, uint8_t first, uint8_t step = 1) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + step * i);
    return v;
}

// Sends reports to a device and checks the replies.
struct Host {
    SimProgrammer& device;

    std::vector<Report> Send(const Report& r) { return device.Handle(r); }

    // Sends r and expects exactly one reply with the given code.
    Report One(const Report& r, uint8_t code) {
        std::vector<Report> replies = device.Handle(r);
        EXPECT_EQ(replies.size(), 1u) << "for command 0x" << std::hex << int{r[3]};
        if (replies.empty()) return Report{};
        EXPECT_EQ(replies[0][1], kDeviceMarker);
        EXPECT_EQ(replies[0][3], code) << "for command 0x" << std::hex << int{r[3]};
        return replies[0];
    }

    // A whole plain download of the given blocks; returns RPL_DOWNLOAD_DONE.
    Report Download(const std::vector<std::pair<unsigned, std::vector<uint8_t>>>& blocks,
                    unsigned endAddress) {
        One(FileRequest(), RPL_DOWNLOAD_READY);
        One(Begin(), RPL_BLOCK_ACK);
        for (const auto& [address, data] : blocks) One(Block(address, data), RPL_BLOCK_ACK);
        return One(End(endAddress, 0xFF), RPL_DOWNLOAD_DONE);
    }

    // A production download: user code record (if any), configuration record,
    // then the blocks; returns RPL_DOWNLOAD_DONE.
    Report DownloadProduction(const std::vector<uint8_t>& config,
                              const std::vector<std::pair<unsigned, std::vector<uint8_t>>>& blocks,
                              unsigned endAddress, const std::vector<uint8_t>& userCode = {}) {
        One(FileRequest(true), RPL_DOWNLOAD_READY);
        One(Begin(), RPL_BLOCK_ACK);
        if (!userCode.empty()) One(Record(CMD_USER_CODE_RECORD, userCode), RPL_BLOCK_ACK);
        One(Record(CMD_CONFIG_RECORD, config), RPL_BLOCK_ACK);
        for (const auto& [address, data] : blocks) One(Block(address, data), RPL_BLOCK_ACK);
        return One(End(endAddress, config[16]), RPL_DOWNLOAD_DONE);
    }
};

// Codes of a reply list, for compact expectations.
inline std::vector<uint8_t> Codes(const std::vector<Report>& replies) {
    std::vector<uint8_t> codes;
    for (const Report& r : replies) codes.push_back(r[3]);
    return codes;
}

}  // namespace qrv::sim::test
