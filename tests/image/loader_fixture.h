// A loader host without a session: it records every report written and every
// report the loader makes of what it did, so the packer can be driven
// acknowledgement by acknowledgement.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/hex.h"
#include "image/hex_loader.h"
#include "protocol/protocol.h"
#include "tests/support/hex_lines.h"

namespace qrv::test {

class FakeLoaderHost : public LoaderHost {
  public:
    ReportBuffer& Buffer() override { return buffer; }
    DownloadValues Values() override {
        return {StartAddress, EndAddress, ImageLength, TransferOffset};
    }
    void WriteHostReport() override {
        Report r;
        std::copy_n(buffer.HostReport(), kReportSize, r.begin());
        sent.push_back(r);
    }
    void ImageLoaded() override { ++imagesLoaded; }
    void ReportSent(const uint8_t* report) override {
        trace.push_back(HexBytes(report, kReportSize));
    }
    void HeaderModel(const std::string& model) override { models.push_back(model); }
    void StepsDecided(uint8_t autoSteps) override { steps.push_back(autoSteps); }
    void DownloadEndSent() override { ++endsSent; }
    // On the wire as the session does it, so that a download ends in the
    // abort the programmer sees.
    void DownloadAbandoned(LoaderRefusal why) override {
        abandoned.push_back(why);
        buffer.HeaderAccepted() = 0;
        BuildShortCommand(buffer.HostReport(), CMD_DOWNLOAD_ABORT, 0,
                          static_cast<unsigned>(EndAddress));
        WriteHostReport();
    }

    ReportBuffer buffer;
    int StartAddress = 0, EndAddress = 0, ImageLength = 0, TransferOffset = 0;
    std::vector<Report> sent;
    int imagesLoaded = 0;
    std::vector<std::string> trace;  // one line per ReportSent
    std::vector<std::string> models;
    std::vector<uint8_t> steps;
    int endsSent = 0;
    std::vector<LoaderRefusal> abandoned;
};

// The bytes an image file describes, as a 64 KiB memory with the addresses that
// data records wrote (an independent reading of the records, for comparison).
struct Memory {
    std::array<uint8_t, 0x10000> bytes{};
    std::array<bool, 0x10000> written{};
};

inline int HexByte(const std::string& s, std::size_t at) {
    return std::stoi(s.substr(at, 2), nullptr, 16);
}

inline Memory ExpectedMemory(const std::vector<std::string>& lines) {
    Memory m;
    for (const std::string& line : lines) {
        if (line.size() < 9 || line[0] != ':') continue;
        const int length = HexByte(line, 1);
        const int address = HexByte(line, 3) * 256 + HexByte(line, 5);
        const int type = HexByte(line, 7);
        if (type != 0x00 && type != 0x20) continue;
        for (int i = 0; i < length; ++i) {
            const int a = (address + i) & 0xFFFF;
            m.bytes[static_cast<std::size_t>(a)] =
                static_cast<uint8_t>(HexByte(line, 9 + 2 * static_cast<std::size_t>(i)));
            m.written[static_cast<std::size_t>(a)] = true;
        }
    }
    return m;
}

// What a programmer stores from the CMD_WRITE_BLOCK reports.
inline Memory StoredMemory(const std::vector<Report>& reports) {
    Memory m;
    for (const Report& r : reports) {
        if (r[1] != ':' || r[3] != CMD_WRITE_BLOCK) continue;
        const int address = r[4] * 256 + r[5];
        for (int i = 0; i < r[2]; ++i) {
            const auto a = static_cast<std::size_t>((address + i) & 0xFFFF);
            m.bytes[a] = r[6 + static_cast<std::size_t>(i)];
            m.written[a] = true;
        }
    }
    return m;
}

class LoaderTest : public ::testing::Test {
  protected:
    // The import as the main window runs it, up to and including the request.
    void Import(std::vector<std::string> lines) {
        loader.ResetForImport();
        loader.Load(ImageBuffer(std::move(lines)));
        loader.SendDownloadRequest();
    }

    // Acknowledges until the loader sends CMD_DOWNLOAD_END or CMD_DOWNLOAD_ABORT,
    // or sends nothing; returns the reports of this download after the request.
    std::vector<Report> Download(std::vector<std::string> lines, int maxAcks = 5000) {
        Import(std::move(lines));
        const std::size_t first = host.sent.size();
        for (int n = 0; n < maxAcks; ++n) {
            const std::size_t before = host.sent.size();
            loader.SendNextBlock();
            if (host.sent.size() == before) break;
            const uint8_t code = host.sent.back()[3];
            if (code == CMD_DOWNLOAD_END || code == CMD_DOWNLOAD_ABORT) break;
        }
        return {host.sent.begin() + static_cast<std::ptrdiff_t>(first), host.sent.end()};
    }

    static std::vector<Report> Blocks(const std::vector<Report>& reports) {
        std::vector<Report> blocks;
        for (const Report& r : reports)
            if (r[3] == CMD_WRITE_BLOCK) blocks.push_back(r);
        return blocks;
    }
    static int Address(const Report& r) { return r[4] * 256 + r[5]; }
    static int End(const Report& r) { return r[6] * 256 + r[7]; }

    FakeLoaderHost host;
    HexLoader loader{host};
};

}  // namespace qrv::test
