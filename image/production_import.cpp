// The import side of production files: the marker record on the first line
// opens the gate for the header records, which go to the programmer as
// CMD_USER_CODE_RECORD (tag ASD) and CMD_CONFIG_RECORD (tag QRV) before the image.
#include <array>
#include <span>
#include <string>

#include "image/hex_check.h"
#include "image/hex_loader.h"
#include "protocol/reports.h"

namespace qrv {

namespace {

constexpr int kTagColumn = 9;          // three ASCII letters written as hex digits
constexpr int kHeaderDataColumn = 15;  // header data start after the tag

bool TagIs(const RecordLine& line, const char (&tag)[4]) {
    return line.ByteAt(kTagColumn) == static_cast<uint8_t>(tag[0]) &&
           line.ByteAt(kTagColumn + 2) == static_cast<uint8_t>(tag[1]) &&
           line.ByteAt(kTagColumn + 4) == static_cast<uint8_t>(tag[2]);
}

uint8_t HeaderByte(const RecordLine& line, int i) {
    return line.ByteAt(kHeaderDataColumn + 2 * i);
}

}  // namespace

void HexLoader::CheckFirstLine() {
    // Blank lines before the marker record are skipped, as everywhere else.
    int n = 0;
    while (n < image_.LineCount() && IsBlankLine(image_.Line(n))) ++n;
    const RecordLine first(image_.Line(n));
    FileMarkerBytes = {0, 0};
    if (TagIs(first, "AMC")) {
        host_.Buffer().HeaderAccepted() = kHeaderAcceptedMark;
        FileMarkerBytes = kProductionFileMark;
    }
}

bool HexLoader::IsSentHeaderTag(const RecordLine& line) {
    return TagIs(line, "ASD") || TagIs(line, "QRV");
}

HeaderOutcome HexLoader::HandleHeaderRecord(const RecordLine& line) {
    const bool userCode = TagIs(line, "ASD");
    const bool config = TagIs(line, "QRV");
    if (!userCode && !config) return HeaderOutcome::Skipped;

    ReportBuffer& buffer = host_.Buffer();
    if (buffer.HeaderAccepted() != kHeaderAcceptedMark) return Refuse();
    const int length = line.Length();
    if (!line.Holds(kHeaderDataColumn, length)) {
        FormatError();
        return HeaderOutcome::Refused;
    }
    // The record must fit the report, and a configuration record must carry the
    // whole configuration block.
    if (length > kMaxRecordPayload || (config && length < static_cast<int>(kConfigRecordSize)))
        return Refuse();

    if (config) buffer.HeaderAccepted() = 0;
    std::array<uint8_t, kMaxRecordPayload> bytes{};
    for (int i = 0; i < length; ++i) bytes[static_cast<std::size_t>(i)] = HeaderByte(line, i);
    EncodeProductionRecord(buffer.HostReport(), config ? CMD_CONFIG_RECORD : CMD_USER_CODE_RECORD,
                           std::span(bytes.data(), static_cast<std::size_t>(length)));
    host_.WriteHostReport();
    if (userCode) {
        ++CurrentLine;
        return HeaderOutcome::Sent;
    }

    AddTrace();
    const ConfigFields block = DecodeConfigBlock(bytes.data());
    buffer.FileKind() = block.fileMarker;
    ReportConfiguration(block);
    ++CurrentLine;
    return HeaderOutcome::Sent;
}

void HexLoader::ReportConfiguration(const ConfigFields& block) {
    // The whole model name, as the programmer's status shows it after the download.
    std::string model;
    for (const uint8_t c : block.deviceCode) {
        if (c == 0) break;
        model.push_back(static_cast<char>(c));
    }
    host_.HeaderModel(model);
    // The file's steps rule the automatic run.
    host_.StepsDecided(block.autoSteps);
}

HeaderOutcome HexLoader::Refuse() {
    abandoned_ = true;
    host_.DownloadAbandoned(LoaderRefusal::HeaderRefused);
    return HeaderOutcome::Refused;
}

}  // namespace qrv
