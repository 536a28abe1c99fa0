// A loader host without a session: it records every report written and stands
// in for the main window's controls, so the packer can be driven acknowledgement
// by acknowledgement.
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

using qrv::RecordingInteraction;

class FakeLoaderHost : public LoaderHost {
  public:
    FakeLoaderHost() {
        // The step boxes' click rules keep StepFlags, as the main window's do.
        CheckBox1.SetRule([this] { SetStep(0x01, CheckBox1.Checked()); });
        CheckBox2.SetRule([this] { SetStep(0x02, CheckBox2.Checked()); });
        CheckBox3.SetRule([this] { SetStep(0x10, CheckBox3.Checked()); });
        CheckBox4.SetRule([this] { SetStep(0x04, CheckBox4.Checked()); });
    }

    ReportBuffer& Buffer() override { return buffer; }
    DownloadValues Values() override {
        return {StartAddress, EndAddress, ImageLength, TransferOffset};
    }
    LoaderControls Controls() override {
        return {Edit1,     Edit2,     ProgressBar5, Memo2,   CheckBox1, CheckBox2,
                CheckBox3, CheckBox4, Button3,      Button4, Button5,   Button6};
    }
    Interaction& UserInteraction() override { return interaction; }
    void WriteHostReport() override {
        Report r;
        std::copy_n(buffer.HostReport(), kReportSize, r.begin());
        sent.push_back(r);
    }
    void SendCommand(uint8_t code, uint32_t argument) override {
        BuildShortCommand(buffer.HostReport(), code, argument, static_cast<unsigned>(EndAddress));
        WriteHostReport();
    }

    void SetStep(uint8_t bit, bool on) {
        StepFlags = static_cast<uint8_t>(on ? (StepFlags | bit) : (StepFlags & ~bit));
        ++clickRulesRun;
    }

    ReportBuffer buffer;
    int StartAddress = 0, EndAddress = 0, ImageLength = 0, TransferOffset = 0;
    uint8_t StepFlags = 0;
    int clickRulesRun = 0;
    TextBox Edit1, Edit2;
    ProgressBar ProgressBar5;
    LineList Memo2;
    Toggle CheckBox1, CheckBox2, CheckBox3, CheckBox4;
    Widget Button3, Button4, Button5, Button6;
    RecordingInteraction interaction;
    std::vector<Report> sent;
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
