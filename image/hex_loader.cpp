#include "image/hex_loader.h"

#include <algorithm>
#include <span>

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
    host_.ImageLoaded();
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

// The report begun in one packing step and where its payload stands.
struct HexLoader::PackStep {
    explicit PackStep(uint8_t* report) : block(report) {}

    std::span<uint8_t> Payload(int count) {
        return block.Payload(static_cast<std::size_t>(pos), static_cast<std::size_t>(count));
    }
    // Fill bytes over a gap between records.
    void Fill(int gap) {
        std::ranges::fill(Payload(gap), kFillByte);
        pos += gap;
        block.SetCount(block.Count() + static_cast<unsigned>(gap));
        space -= gap;
    }

    WriteBlockView block;
    int space = 0;  // payload bytes still free in the report begun in this step
    int pos = 0;    // next payload byte of that report
};

void HexLoader::PackNextReport() {
    ReportBuffer& buffer = host_.Buffer();
    PackStep step(buffer.HostReport());
    buffer.ClearHostReport();
    while (!PackLine(step)) {
    }
}

bool HexLoader::PackLine(PackStep& step) {
    if (CurrentLine >= image_.LineCount()) {
        PackImageEnd(step);
        return true;
    }
    const RecordLine line(image_.Line(CurrentLine));
    if (IsBlankLine(line.Text())) {
        // A blank line is skipped wherever it falls, also inside a step.
        ++CurrentLine;
        return false;
    }
    if (!line.IsRecord() || !line.HasFields()) {
        FormatError();
        return true;
    }
    const int length = line.Length();
    const bool data = line.IsData();
    if (data && length == 0) {
        // A data record without data writes nothing and moves no address.
        ++CurrentLine;
        return false;
    }
    // A data record shorter than its LL says cannot be downloaded.
    if (data && !line.Holds(RecordLine::kDataColumn, length)) {
        FormatError();
        return true;
    }
    OfferOptionWord(line);
    if (line.Type() == kRecordHeader) return PackHeader(step, line);
    if (!data) {
        ++CurrentLine;
        host_.Values().TransferOffset = 0;
        return false;
    }
    return PackData(step, line);
}

void HexLoader::PackImageEnd(PackStep& step) {
    SettleEndAddress();
    if (step.block.Begun()) {
        SendBlock();
        return;
    }
    SendDownloadEnd();
}

void HexLoader::OfferOptionWord(const RecordLine& line) const {
    if (line.Address() == kOptionWordAddress && PresetOption &&
        line.Holds(RecordLine::kDataColumn, 4)) {
        PresetOption(static_cast<uint32_t>(line.DataByte(0)) << 24 |
                     static_cast<uint32_t>(line.DataByte(1)) << 16 |
                     static_cast<uint32_t>(line.DataByte(2)) << 8 | line.DataByte(3));
    }
}

bool HexLoader::PackHeader(const PackStep& step, const RecordLine& line) {
    // A header record that goes to the programmer would overwrite the data
    // report begun in this step: that report goes first, and the record is
    // taken up again by the next step.
    if (step.space > 0 && IsSentHeaderTag(line)) {
        SendBlock();
        return true;
    }
    if (HandleHeaderRecord(line) != HeaderOutcome::Skipped) return true;
    ++CurrentLine;
    return false;
}

bool HexLoader::PackData(PackStep& step, const RecordLine& line) {
    if (step.space > 0) {
        if (SendBeforeRecord(step, line)) return true;
    } else {
        BeginBlock(step, line.Address());
    }
    return CopyRecord(step, line);
}

bool HexLoader::SendBeforeRecord(PackStep& step, const RecordLine& line) {
    // A report is begun: the record joins it if it follows on or the gap fits.
    DownloadValues v = host_.Values();
    const int address = line.Address();
    if (address < v.EndAddress) {
        SendBlock();
        v.EndAddress = address;
        v.TransferOffset = 0;
        HighestAddress = std::max(HighestAddress, address);
        return true;
    }
    if (address - v.EndAddress > step.space || !Unwritten(v.EndAddress, address)) {
        SendBlock();
        v.EndAddress = address;
        v.TransferOffset = 0;
        if (address > HighestAddress) HighestAddress = address + line.Length() - 1;
        return true;
    }
    step.Fill(address - v.EndAddress);
    v.EndAddress = address;
    v.TransferOffset = 0;
    return false;
}

void HexLoader::BeginBlock(PackStep& step, int address) {
    DownloadValues v = host_.Values();
    step.space = kMaxBlockPayload;
    step.pos = 0;
    if (v.TransferOffset > 0) {
        // The rest of a record split over reports.
        step.block.Begin(static_cast<unsigned>(v.EndAddress));
    } else if (v.EndAddress < address && address - v.EndAddress <= kMaxBlockPayload &&
               Unwritten(v.EndAddress, address)) {
        step.block.Begin(static_cast<unsigned>(v.EndAddress));
        step.Fill(address - v.EndAddress);
    } else {
        step.block.Begin(static_cast<unsigned>(address));
    }
}

bool HexLoader::CopyRecord(PackStep& step, const RecordLine& line) {
    DownloadValues v = host_.Values();
    const int address = line.Address();
    const int length = line.Length();
    if (v.TransferOffset < 0 || v.TransferOffset > length) v.TransferOffset = 0;
    const int rest = length - v.TransferOffset;
    const auto copy = [&](int count) {
        const std::span<uint8_t> out = step.Payload(count);
        for (int i = 0; i < count; ++i) {
            out[static_cast<std::size_t>(i)] = line.DataByte(v.TransferOffset + i);
            written_.set(static_cast<std::size_t>((address + v.TransferOffset + i) & 0xFFFF));
        }
    };
    if (rest > step.space) {
        copy(step.space);
        v.TransferOffset += step.space;
        v.EndAddress = address + v.TransferOffset;
        step.block.SetCount(kMaxBlockPayload);
        SendBlock();
        HighestAddress = std::max(HighestAddress, v.EndAddress);
        return true;
    }
    copy(rest);
    step.block.SetCount(step.block.Count() + static_cast<unsigned>(rest));
    step.pos += rest;
    step.space -= rest;
    v.EndAddress = address + length;
    v.TransferOffset = 0;
    ++CurrentLine;
    if (rest > 0) HighestAddress = std::max(HighestAddress, v.EndAddress - 1);
    if (step.block.Count() == 0) {
        // A record without data bytes and no fill before it: a block carries
        // 1 to 59 bytes, so no report stays begun for it.
        host_.Buffer().ClearHostReport();
        step.space = 0;
        return false;
    }
    if (step.space == 0) {
        step.block.SetCount(kMaxBlockPayload);
        SendBlock();
        return true;
    }
    return false;
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
    host_.ReportSent(host_.Buffer().HostReport());
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
    host_.DownloadEndSent();
}

void HexLoader::FormatError() {
    CurrentLine = image_.LineCount();
    abandoned_ = true;
    host_.DownloadAbandoned(LoaderRefusal::FormatError);
}

}  // namespace qrv
