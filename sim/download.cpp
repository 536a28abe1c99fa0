// The download state machine of the simulated programmer: a request, then
// CMD_DOWNLOAD_BEGIN, the production records, the image (or firmware) blocks,
// and CMD_DOWNLOAD_END that stores what arrived; CMD_DOWNLOAD_ABORT discards it.
// A report out of place fails the download with RPL_DOWNLOAD_ERROR.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/hex.h"
#include "protocol/protocol.h"
#include "sim/programmer.h"
#include "sim/replies.h"

namespace qrv::sim {

const std::vector<uint8_t>& TestFirmwareImage() {
    static const std::vector<uint8_t> image = [] {
        std::vector<uint8_t> fw(kFirmwareSize, 0xFF);
        constexpr std::size_t kBlankPrefix = 0x2000;
        constexpr char kName[] = "QRV Writer simulator test firmware - not for a real programmer";
        std::copy(std::begin(kName), std::end(kName), fw.begin() + kBlankPrefix);
        for (std::size_t i = kBlankPrefix + sizeof kName; i < fw.size(); ++i)
            fw[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
        return fw;
    }();
    return image;
}

void SimProgrammer::FailTransfer(uint8_t code, const std::string& what, Replies& out) {
    Error(code, what);
    transfer_ = Transfer{};
    transfer_.phase = Phase::Failed;
    out.Add(DownloadError());
}

void SimProgrammer::Acknowledge(uint32_t count, Replies& out) {
    Report r = NewReply(RPL_BLOCK_ACK);
    Put16(r, 5, std::min<uint32_t>(count, 0xFFFF));
    out.Add(r);
}

void SimProgrammer::OnDownloadRequest(const Report& c, Replies& out) {
    transfer_ = Transfer{};  // a new request replaces an unfinished download
    const bool firmware = c[10] == 0xBB && c[11] == 0xCC;
    const bool production = c[25] == 0xA5 && c[26] == 0x5B;
    const unsigned start = Get16(c, 4);
    const unsigned end = Get16(c, 6);
    const uint8_t code = c[3];
    if (c[2] != 4)
        return FailTransfer(code, "length byte is " + std::to_string(c[2]) + ", not 4", out);
    if (!firmware && (c[10] != 0 || c[11] != 0))
        return FailTransfer(code, "bytes 10-11 are neither the firmware mark BB CC nor 0", out);
    if (!production && (c[25] != 0 || c[26] != 0))
        return FailTransfer(code, "bytes 25-26 are neither the production-file marker A5 5B nor 0",
                            out);
    if (firmware && production)
        return FailTransfer(code, "carries both the firmware mark and the production-file marker",
                            out);
    if (firmware && (start != 0 || end != kFirmwareSize))
        return FailTransfer(code,
                            "firmware replacement for " + Hex16(start) + ".." + Hex16(end) +
                                " instead of 0x0000..0xDFD8",
                            out);
    if (!firmware && (start != 0 || end != 0))
        return FailTransfer(
            code,
            "file download with addresses " + Hex16(start) + ", " + Hex16(end) + " instead of 0, 0",
            out);
    transfer_.phase = Phase::Requested;
    transfer_.firmware = firmware;
    transfer_.production = production;
    transfer_.start = start;
    transfer_.end = end;
    out.Add(NewReply(RPL_DOWNLOAD_READY));
}

void SimProgrammer::OnDownloadBegin(const Report& c, Replies& out) {
    const uint8_t code = c[3];
    switch (transfer_.phase) {
        case Phase::Idle:
            Error(code, "without CMD_DOWNLOAD_REQUEST");
            return;
        case Phase::Receiving:
            return FailTransfer(code, "a second CMD_DOWNLOAD_BEGIN", out);
        case Phase::Failed:
            return FailTransfer(code, "after RPL_DOWNLOAD_ERROR, before CMD_DOWNLOAD_ABORT", out);
        case Phase::Requested:
            break;
    }
    if (c[2] != 4)
        return FailTransfer(code, "length byte is " + std::to_string(c[2]) + ", not 4", out);
    if (Get16(c, 4) != transfer_.start || Get16(c, 6) != transfer_.end)
        return FailTransfer(code,
                            "addresses " + Hex16(Get16(c, 4)) + ", " + Hex16(Get16(c, 6)) +
                                " differ from the request's " + Hex16(transfer_.start) + ", " +
                                Hex16(transfer_.end),
                            out);
    transfer_.phase = Phase::Receiving;
    if (!transfer_.firmware) transfer_.staging.assign(kStoreSize, 0xFF);
    Acknowledge(0, out);
}

bool SimProgrammer::InsideTransfer(const Report& c, Replies& out) {
    switch (transfer_.phase) {
        case Phase::Idle:
            Error(c[3], "outside a download");
            return false;
        case Phase::Requested:
            FailTransfer(c[3], "before CMD_DOWNLOAD_BEGIN", out);
            return false;
        case Phase::Failed:
            FailTransfer(c[3], "after RPL_DOWNLOAD_ERROR, before CMD_DOWNLOAD_ABORT", out);
            return false;
        case Phase::Receiving:
            return true;
    }
    return false;
}

void SimProgrammer::OnWriteBlock(const Report& c, Replies& out) {
    if (!InsideTransfer(c, out)) return;
    const uint8_t code = c[3];
    const unsigned n = c[2];
    const unsigned address = Get16(c, 4);
    if (n < 1 || n > 59)
        return FailTransfer(code, "block count " + std::to_string(n) + " outside 1..59", out);
    if (address + n > kStoreSize)
        return FailTransfer(
            code,
            std::to_string(n) + " bytes at " + Hex16(address) + " run past the 64 KiB storage",
            out);
    if (transfer_.firmware) {
        if (address != transfer_.firmwareData.size())
            return FailTransfer(code,
                                "firmware block at offset " + std::to_string(address) +
                                    ", expected " + std::to_string(transfer_.firmwareData.size()),
                                out);
        if (address + n > kFirmwareSize)
            return FailTransfer(code, "firmware longer than 57304 bytes", out);
        const unsigned full =
            std::min<unsigned>(59, static_cast<unsigned>(kFirmwareSize) - address);
        if (n != full)
            return FailTransfer(code,
                                "firmware block of " + std::to_string(n) + " bytes at offset " +
                                    std::to_string(address) + ", expected " + std::to_string(full),
                                out);
    }
    ++transfer_.blocks;
    if (options_.downloadErrorAt > 0 && transfer_.blocks == options_.downloadErrorAt) {
        // The programmer could not store this block (misbehaviour on request).
        transfer_ = Transfer{};
        transfer_.phase = Phase::Failed;
        out.Add(DownloadError());
        return;
    }
    const uint8_t* data = c.data() + 6;
    if (transfer_.firmware) {
        transfer_.firmwareData.insert(transfer_.firmwareData.end(), data, data + n);
    } else {
        std::copy(data, data + n, transfer_.staging.begin() + address);
        transfer_.stagedLength = std::max(transfer_.stagedLength, address + n);
    }
    transfer_.sawData = true;
    transfer_.received += n;
    Acknowledge(transfer_.received, out);
}

// Production records come only in a download announced as a production file,
// before any image data, user code before configuration, one of each.
bool SimProgrammer::CheckRecordPlace(const Report& c, Replies& out) {
    if (!transfer_.production) {
        FailTransfer(c[3], "in a download without the production-file marker", out);
        return false;
    }
    if (transfer_.sawData) {
        FailTransfer(c[3], "after image data", out);
        return false;
    }
    if (transfer_.config) {
        FailTransfer(c[3], "after the configuration record", out);
        return false;
    }
    return true;
}

void SimProgrammer::OnUserCodeRecord(const Report& c, Replies& out) {
    if (!InsideTransfer(c, out) || !CheckRecordPlace(c, out)) return;
    const uint8_t code = c[3];
    if (transfer_.userCode) return FailTransfer(code, "a second user code record", out);
    const unsigned length = c[2];
    if (length < 2 || length > 61)
        return FailTransfer(code, "record length " + std::to_string(length) + " outside 2..61",
                            out);
    const unsigned ascii = c[5];  // record byte 1: count of ASCII characters
    if (2 + ascii > length)
        return FailTransfer(code,
                            std::to_string(ascii) + " ASCII characters do not fit a record of " +
                                std::to_string(length) + " bytes",
                            out);
    transfer_.userCode = std::vector<uint8_t>(c.begin() + 4, c.begin() + 4 + length);
    transfer_.received += length;
    Acknowledge(transfer_.received, out);
}

void SimProgrammer::OnConfigRecord(const Report& c, Replies& out) {
    if (!InsideTransfer(c, out) || !CheckRecordPlace(c, out)) return;
    if (c[2] != 21)
        return FailTransfer(c[3], "record length " + std::to_string(c[2]) + ", not 21", out);
    ConfigRecord config;
    std::copy(c.begin() + 4, c.begin() + 25, config.block.begin());
    transfer_.config = config;
    transfer_.received += 21;
    Acknowledge(transfer_.received, out);
}

void SimProgrammer::OnDownloadEnd(const Report& c, Replies& out) {
    if (!InsideTransfer(c, out)) return;
    const uint8_t code = c[3];
    if (Get16(c, 4) != transfer_.start)
        return FailTransfer(code,
                            "start address " + Hex16(Get16(c, 4)) + " differs from " +
                                Hex16(transfer_.start) + " of the download",
                            out);
    Report done = NewReply(RPL_DOWNLOAD_DONE);
    done[6] = 1;  // stored
    if (transfer_.firmware) {
        if (Get16(c, 6) != kFirmwareSize)
            return FailTransfer(
                code, "firmware end address " + Hex16(Get16(c, 6)) + " instead of 0xDFD8", out);
        if (c[8] != 0)
            return FailTransfer(code, "byte 8 is 0x" + H2(c[8]) + ", not 0 for firmware", out);
        if (transfer_.firmwareData.size() != kFirmwareSize)
            return FailTransfer(code,
                                "firmware of " + std::to_string(transfer_.firmwareData.size()) +
                                    " bytes instead of 57304",
                                out);
        const std::vector<uint8_t>& test = TestFirmwareImage();
        const auto differ = std::mismatch(transfer_.firmwareData.begin(),
                                          transfer_.firmwareData.end(), test.begin());
        if (differ.first != transfer_.firmwareData.end())
            return FailTransfer(code,
                                "firmware differs from the simulator's test image at offset " +
                                    std::to_string(differ.first - transfer_.firmwareData.begin()),
                                out);
        firmware_ = std::move(transfer_.firmwareData);
        kept_.firmwareUpdated = true;
        ++kept_.firmwareUpdates;
        Put16(done, 7, Sum16(firmware_.data(), firmware_.size()));
        Put16(done, 11, kFirmwareSize);
    } else {
        const uint8_t kind = transfer_.config ? transfer_.config->Marker() : 0xFF;
        if (c[8] != kind)
            return FailTransfer(
                code, "file kind 0x" + H2(c[8]) + ", but the download brought 0x" + H2(kind), out);
        kept_.storage = std::move(transfer_.staging);
        kept_.imageLength = transfer_.stagedLength;
        kept_.startAddress = transfer_.start;
        kept_.storedChecksum = Sum16(kept_.storage.data(), kept_.imageLength);
        kept_.fileKind = kind;
        kept_.config = transfer_.config;
        kept_.userCode = transfer_.userCode;
        ++kept_.completedDownloads;
        Put16(done, 7, kept_.storedChecksum);
        Put16(done, 11, kept_.imageLength > 0 ? kept_.imageLength - 1 : 0);
    }
    transfer_ = Transfer{};
    out.Add(done);
}

void SimProgrammer::OnDownloadAbort(const Report&, Replies&) {
    transfer_ = Transfer{};  // whatever was received is discarded
}

}  // namespace qrv::sim
