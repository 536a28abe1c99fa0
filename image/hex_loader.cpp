#include "image/hex_loader.h"

#include <algorithm>
#include <span>

#include "common/hex.h"
#include "image/hex_check.h"
#include "protocol/reports.h"

namespace qrv {

namespace {

constexpr int kOptionWordAddress = 0x0100;

}  // namespace

void HexLoader::ResetForImport() {
    DownloadValues v = host_.Values();
    v.TransferOffset = 0;
    CurrentLine = 0;
    v.EndAddress = 0;
    v.ImageLength = 0;
    HighestAddress = 0;
    image_ = ImageBuffer();
    endSettled_ = false;
    abandoned_ = false;
    written_.reset();
}

void HexLoader::Load(ImageBuffer image) {
    image_ = std::move(image);
    DownloadValues v = host_.Values();
    ReportBuffer& buffer = host_.Buffer();
    v.ImageLength = 0;
    HighestAddress = 0;
    v.StartAddress = 0;
    buffer.FileKind() = kPlainImage;
    CurrentLine = 0;
    buffer.UpdateMode() = 0;
    endSettled_ = false;
    abandoned_ = false;
    written_.reset();
    v.ImageLength = ScanImageEnd(image_, image_.LineCount());
    CheckFirstLine();
    host_.Controls().Memo2.lines.clear();
}

void HexLoader::SendDownloadRequest() {
    ReportBuffer& buffer = host_.Buffer();
    DownloadValues v = host_.Values();
    EncodeDownloadRequest(buffer.HostReport(), {static_cast<unsigned>(v.StartAddress),
                                                static_cast<unsigned>(v.EndAddress),
                                                {},
                                                FileMarkerBytes});
    host_.WriteHostReport();
    buffer.ClearHostReport();
}

void HexLoader::SendNextBlock() {
    // Lines that do not start with ':' are skipped only here, where a step begins.
    CurrentLine = NextRecordLine(image_, CurrentLine);
    if (CurrentLine < image_.LineCount()) {
        PackNextReport();
        return;
    }
    // The last report was full and no record line follows: the end address still
    // points one past the last byte, so it is settled here as well.
    SettleEndAddress();
    SendDownloadEnd();
}

void HexLoader::PackNextReport() {
    ReportBuffer& buffer = host_.Buffer();
    DownloadValues v = host_.Values();
    WriteBlockView block(buffer.HostReport());
    buffer.ClearHostReport();
    int space = 0;  // payload bytes still free in the report begun in this step
    int pos = 0;    // next payload byte of that report
    const auto payload = [&](int count) {
        return block.Payload(static_cast<std::size_t>(pos), static_cast<std::size_t>(count));
    };
    const auto fill = [&](int gap) {
        std::ranges::fill(payload(gap), kFillByte);
        pos += gap;
        block.SetCount(block.Count() + static_cast<unsigned>(gap));
        space -= gap;
    };

    for (;;) {
        if (CurrentLine >= image_.LineCount()) {
            SettleEndAddress();
            if (block.Begun()) {
                SendBlock();
                return;
            }
            SendDownloadEnd();
            return;
        }

        const RecordLine line(image_.Line(CurrentLine));
        if (IsBlankLine(line.Text())) {
            // A blank line is skipped wherever it falls, also inside a step.
            ++CurrentLine;
            continue;
        }
        if (!line.IsRecord() || !line.HasFields()) {
            FormatError();
            return;
        }
        const int length = line.Length();
        const int address = line.Address();
        const int type = line.Type();
        const bool data = line.IsData();
        if (data && length == 0) {
            // A data record without data writes nothing and moves no address.
            ++CurrentLine;
            continue;
        }
        // A data record shorter than its LL says cannot be downloaded.
        if (data && !line.Holds(RecordLine::kDataColumn, length)) {
            FormatError();
            return;
        }

        if (address == kOptionWordAddress && PresetOption &&
            line.Holds(RecordLine::kDataColumn, 4)) {
            PresetOption(static_cast<uint32_t>(line.DataByte(0)) << 24 |
                         static_cast<uint32_t>(line.DataByte(1)) << 16 |
                         static_cast<uint32_t>(line.DataByte(2)) << 8 | line.DataByte(3));
        }

        if (type == kRecordHeader) {
            // A header record that goes to the programmer would overwrite the data
            // report begun in this step: that report goes first, and the record is
            // taken up again by the next step.
            if (space > 0 && IsSentHeaderTag(line)) {
                SendBlock();
                return;
            }
            if (HandleHeaderRecord(line) != HeaderOutcome::Skipped) return;
            ++CurrentLine;
            continue;
        }
        if (!data) {
            ++CurrentLine;
            v.TransferOffset = 0;
            continue;
        }

        if (space > 0) {
            // A report is begun: the record joins it if it follows on or the gap fits.
            if (address < v.EndAddress) {
                SendBlock();
                v.EndAddress = address;
                v.TransferOffset = 0;
                HighestAddress = std::max(HighestAddress, address);
                return;
            }
            if (address - v.EndAddress > space || !Unwritten(v.EndAddress, address)) {
                SendBlock();
                v.EndAddress = address;
                v.TransferOffset = 0;
                if (address > HighestAddress) HighestAddress = address + length - 1;
                return;
            }
            fill(address - v.EndAddress);
            v.EndAddress = address;
            v.TransferOffset = 0;
        } else {
            space = kMaxBlockPayload;
            pos = 0;
            if (v.TransferOffset > 0) {
                // The rest of a record split over reports.
                block.Begin(static_cast<unsigned>(v.EndAddress));
            } else if (v.EndAddress < address && address - v.EndAddress <= kMaxBlockPayload &&
                       Unwritten(v.EndAddress, address)) {
                block.Begin(static_cast<unsigned>(v.EndAddress));
                fill(address - v.EndAddress);
            } else {
                block.Begin(static_cast<unsigned>(address));
            }
        }

        if (v.TransferOffset < 0 || v.TransferOffset > length) v.TransferOffset = 0;
        const int rest = length - v.TransferOffset;
        const auto copy = [&](int count) {
            const std::span<uint8_t> out = payload(count);
            for (int i = 0; i < count; ++i) {
                out[static_cast<std::size_t>(i)] = line.DataByte(v.TransferOffset + i);
                written_.set(static_cast<std::size_t>((address + v.TransferOffset + i) & 0xFFFF));
            }
        };
        if (rest > space) {
            copy(space);
            v.TransferOffset += space;
            v.EndAddress = address + v.TransferOffset;
            block.SetCount(kMaxBlockPayload);
            SendBlock();
            HighestAddress = std::max(HighestAddress, v.EndAddress);
            return;
        }
        copy(rest);
        block.SetCount(block.Count() + static_cast<unsigned>(rest));
        pos += rest;
        space -= rest;
        v.EndAddress = address + length;
        v.TransferOffset = 0;
        ++CurrentLine;
        if (rest > 0) HighestAddress = std::max(HighestAddress, v.EndAddress - 1);
        if (block.Count() == 0) {
            // A record without data bytes and no fill before it: a block carries
            // 1 to 59 bytes, so no report stays begun for it.
            buffer.ClearHostReport();
            space = 0;
            continue;
        }
        if (space == 0) {
            block.SetCount(kMaxBlockPayload);
            SendBlock();
            return;
        }
    }
}

bool HexLoader::Unwritten(int from, int to) const {
    for (int a = from; a < to; ++a)
        if (written_.test(static_cast<std::size_t>(a & 0xFFFF))) return false;
    return true;
}

void HexLoader::SendBlock() {
    host_.WriteHostReport();
    AddTrace();
}

void HexLoader::AddTrace() {
    host_.Controls().Memo2.lines.push_back(HexBytes(host_.Buffer().HostReport(), kReportSize));
}

void HexLoader::SettleEndAddress() {
    if (endSettled_) return;
    endSettled_ = true;
    DownloadValues v = host_.Values();
    v.EndAddress = std::max(v.EndAddress - 1, HighestAddress);
    if (v.EndAddress > 0xFFFF) {
        v.EndAddress = 0xFFFF;
        v.ImageLength = 0xFFFF;
    }
}

void HexLoader::SendDownloadEnd() {
    ReportBuffer& buffer = host_.Buffer();
    DownloadValues v = host_.Values();
    // The count and the bytes after the file kind keep what the last report left.
    EncodeDownloadEnd(buffer.HostReport(),
                      {static_cast<unsigned>(v.StartAddress), static_cast<unsigned>(v.EndAddress),
                       buffer.FileKind()});
    host_.WriteHostReport();
    buffer.ClearHostReport();
    ProgressBar& bar = host_.Controls().ProgressBar5;
    bar.position = bar.max;
}

void HexLoader::FormatError() {
    CurrentLine = image_.LineCount();
    abandoned_ = true;
    host_.UserInteraction().Message(Severity::Warning, kFormatErrorText);
    // The programmer is mid-transfer: it is told to leave its download state,
    // and the download display is put back, as for a refused file.
    LoaderControls controls = host_.Controls();
    controls.Edit1.visible = true;
    controls.ProgressBar5.visible = false;
    host_.Buffer().HeaderAccepted() = 0;
    host_.SendCommand(CMD_DOWNLOAD_ABORT, 0);
}

}  // namespace qrv
