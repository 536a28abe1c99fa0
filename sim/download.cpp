// The download state machine of the simulated programmer: a request, then
// CMD_DOWNLOAD_BEGIN, the production records, the image (or firmware) blocks,
// and CMD_DOWNLOAD_END that stores what arrived; CMD_DOWNLOAD_ABORT discards it.
// A report out of place fails the download with RPL_DOWNLOAD_ERROR.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/hex.h"
#include "protocol/reports.h"
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
    out.Add(EncodeDownloadError());
}

void SimProgrammer::Acknowledge(uint32_t count, Replies& out) {
    out.Add(EncodeBlockAck(std::min<uint32_t>(count, 0xFFFF)));
}

void SimProgrammer::OnDownloadRequest(const Report& c, Replies& out) {
    transfer_ = Transfer{};  // a new request replaces an unfinished download
    const DownloadRequestFields request = DecodeDownloadRequest(c.data());
    constexpr RequestMark kNoMark{};
    const bool firmware = request.firmwareMark == kFirmwareUpdateMark;
    const bool production = request.fileMark == kProductionFileMark;
    const unsigned start = request.startAddress;
    const unsigned end = request.endAddress;
    const uint8_t code = ReportCode(c.data());
    if (request.length != 4)
        return FailTransfer(code, "length byte is " + std::to_string(request.length) + ", not 4",
                            out);
    if (!firmware && request.firmwareMark != kNoMark)
        return FailTransfer(code, "bytes 10-11 are neither the firmware mark BB CC nor 0", out);
    if (!production && request.fileMark != kNoMark)
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
    out.Add(EncodeReply(RPL_DOWNLOAD_READY));
}

void SimProgrammer::OnDownloadBegin(const Report& c, Replies& out) {
    const uint8_t code = ReportCode(c.data());
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
    const AddressPair begin = DecodeAddressPair(c.data());
    if (begin.length != 4)
        return FailTransfer(code, "length byte is " + std::to_string(begin.length) + ", not 4",
                            out);
    if (begin.startAddress != transfer_.start || begin.endAddress != transfer_.end)
        return FailTransfer(code,
                            "addresses " + Hex16(begin.startAddress) + ", " +
                                Hex16(begin.endAddress) + " differ from the request's " +
                                Hex16(transfer_.start) + ", " + Hex16(transfer_.end),
                            out);
    transfer_.phase = Phase::Receiving;
    if (!transfer_.firmware) transfer_.staging.assign(kStoreSize, 0xFF);
    Acknowledge(0, out);
}

bool SimProgrammer::InsideTransfer(const Report& c, Replies& out) {
    const uint8_t code = ReportCode(c.data());
    switch (transfer_.phase) {
        case Phase::Idle:
            Error(code, "outside a download");
            return false;
        case Phase::Requested:
            FailTransfer(code, "before CMD_DOWNLOAD_BEGIN", out);
            return false;
        case Phase::Failed:
            FailTransfer(code, "after RPL_DOWNLOAD_ERROR, before CMD_DOWNLOAD_ABORT", out);
            return false;
        case Phase::Receiving:
            return true;
    }
    return false;
}

void SimProgrammer::OnWriteBlock(const Report& c, Replies& out) {
    if (!InsideTransfer(c, out)) return;
    const uint8_t code = ReportCode(c.data());
    const WriteBlockFields block = DecodeWriteBlock(c.data());
    const unsigned n = block.count;
    const unsigned address = block.address;
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
        out.Add(EncodeDownloadError());
        return;
    }
    const uint8_t* data = block.payload.data();  // n bytes: n is at most 59
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
    const uint8_t code = ReportCode(c.data());
    if (!transfer_.production) {
        FailTransfer(code, "in a download without the production-file marker", out);
        return false;
    }
    if (transfer_.sawData) {
        FailTransfer(code, "after image data", out);
        return false;
    }
    if (transfer_.config) {
        FailTransfer(code, "after the configuration record", out);
        return false;
    }
    return true;
}

void SimProgrammer::OnUserCodeRecord(const Report& c, Replies& out) {
    if (!InsideTransfer(c, out) || !CheckRecordPlace(c, out)) return;
    const uint8_t code = ReportCode(c.data());
    if (transfer_.userCode) return FailTransfer(code, "a second user code record", out);
    const ProductionRecordFields record = DecodeProductionRecord(c.data());
    const unsigned length = record.length;
    if (length < 2 || length > 61)
        return FailTransfer(code, "record length " + std::to_string(length) + " outside 2..61",
                            out);
    const unsigned ascii = record.bytes[kUserCodeAsciiCount];
    if (2 + ascii > length)
        return FailTransfer(code,
                            std::to_string(ascii) + " ASCII characters do not fit a record of " +
                                std::to_string(length) + " bytes",
                            out);
    transfer_.userCode = std::vector<uint8_t>(record.bytes.begin(), record.bytes.end());
    transfer_.received += length;
    Acknowledge(transfer_.received, out);
}

void SimProgrammer::OnConfigRecord(const Report& c, Replies& out) {
    if (!InsideTransfer(c, out) || !CheckRecordPlace(c, out)) return;
    const ProductionRecordFields record = DecodeProductionRecord(c.data());
    if (record.length != 21)
        return FailTransfer(ReportCode(c.data()),
                            "record length " + std::to_string(record.length) + ", not 21", out);
    ConfigRecord config;
    std::copy(record.bytes.begin(), record.bytes.end(), config.block.begin());
    transfer_.config = config;
    transfer_.received += 21;
    Acknowledge(transfer_.received, out);
}

void SimProgrammer::OnDownloadEnd(const Report& c, Replies& out) {
    if (!InsideTransfer(c, out)) return;
    const uint8_t code = ReportCode(c.data());
    const DownloadEndFields end = DecodeDownloadEnd(c.data());
    if (end.startAddress != transfer_.start)
        return FailTransfer(code,
                            "start address " + Hex16(end.startAddress) + " differs from " +
                                Hex16(transfer_.start) + " of the download",
                            out);
    DownloadDoneFields done;
    done.status = 1;  // stored
    if (transfer_.firmware) {
        if (end.endAddress != kFirmwareSize)
            return FailTransfer(
                code, "firmware end address " + Hex16(end.endAddress) + " instead of 0xDFD8", out);
        if (end.fileKind != 0)
            return FailTransfer(code, "byte 8 is 0x" + H2(end.fileKind) + ", not 0 for firmware",
                                out);
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
        done.checksum = Sum16(firmware_.data(), firmware_.size());
        done.lastAddress = kFirmwareSize;
    } else {
        const uint8_t kind = transfer_.config ? transfer_.config->Marker() : 0xFF;
        if (end.fileKind != kind)
            return FailTransfer(
                code,
                "file kind 0x" + H2(end.fileKind) + ", but the download brought 0x" + H2(kind),
                out);
        kept_.storage = std::move(transfer_.staging);
        kept_.imageLength = transfer_.stagedLength;
        kept_.startAddress = transfer_.start;
        kept_.storedChecksum = Sum16(kept_.storage.data(), kept_.imageLength);
        kept_.fileKind = kind;
        kept_.config = transfer_.config;
        kept_.userCode = transfer_.userCode;
        ++kept_.completedDownloads;
        done.checksum = kept_.storedChecksum;
        done.lastAddress = kept_.imageLength > 0 ? kept_.imageLength - 1 : 0;
    }
    transfer_ = Transfer{};
    out.Add(EncodeDownloadDone(done));
}

void SimProgrammer::OnDownloadAbort(const Report&, Replies&) {
    transfer_ = Transfer{};  // whatever was received is discarded
}

}  // namespace qrv::sim
