#include "image/image_buffer.h"

#include "common/hex.h"

namespace qrv {

ImageBuffer ImageBuffer::FromText(std::string text) {
    ImageBuffer image;
    image.lines_ = LinedText(std::move(text));
    return image;
}

uint8_t RecordLine::ByteAt(int column) const {
    const int value = HexDigitValue(CharAt(column)) * 16 + HexDigitValue(CharAt(column + 1));
    return static_cast<uint8_t>(value & 0xFF);
}

int NextRecordLine(const ImageBuffer& image, int i) {
    const int count = image.LineCount();
    if (i < 0) i = 0;
    while (i < count && !RecordLine(image.Line(i)).IsRecord()) ++i;
    return i < count ? i : count;
}

int ScanImageEnd(const ImageBuffer& image, int n) {
    int end = 0;
    if (n <= 0) return 0;
    // Index n lies past the last line and reads as an empty line. Line 0 counts
    // like any other: a file whose only data record stands there has an end too.
    for (int k = n; k >= 0; --k) {
        const RecordLine line(image.Line(k));
        // A record without data writes nothing and moves no end.
        if (!line.IsRecord() || !line.HasFields() || !line.IsData() || line.Length() == 0) continue;
        const int address = line.Address();
        if (address < end) break;
        end = address + line.Length();
        if (end > 0xFFFF) end = 0xFFFF;
    }
    return end;
}

}  // namespace qrv
