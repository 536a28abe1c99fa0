// The file loader: imports an Intel HEX file or a production file and downloads
// it into the programmer, one report per acknowledgement. Each RPL_BLOCK_ACK
// makes the loader read on through the file's lines and send exactly one more
// report: the production file's header records first, then CMD_WRITE_BLOCK
// reports of up to 59 bytes, and finally CMD_DOWNLOAD_END.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/image_buffer.h"
#include "link/report_buffer.h"
#include "protocol/reports.h"

namespace qrv {

// Texts the loader shows.
inline constexpr const char* kFormatErrorText = "文件格式出错!";
inline constexpr const char* kFileRefusedText = "文件错误！无法下载！";

// Report bytes the loader writes.
inline constexpr uint8_t kFillByte = 0xFF;  // gaps between records
inline constexpr uint8_t kHeaderAcceptedMark = 0xAA;
inline constexpr uint8_t kPlainImage = 0xFF;  // FileKind of an image without configuration

// The working values the loader shares with the reply dispatcher.
struct DownloadValues {
    int& StartAddress;
    int& EndAddress;
    int& ImageLength;
    int& TransferOffset;
};

// Why the loader abandoned a download.
enum class LoaderRefusal {
    FormatError,    // a line the packer cannot read (kFormatErrorText)
    HeaderRefused,  // a header record the programmer would not take (kFileRefusedText)
};

// What the loader needs from the main window's session, and what it tells the
// session it did. The loader knows the file and the reports; what the window
// shows, and the abort that follows an abandoned download, are the session's.
class LoaderHost {
  public:
    virtual ~LoaderHost() = default;
    virtual ReportBuffer& Buffer() = 0;
    virtual DownloadValues Values() = 0;
    // Writes the HostReport as it stands.
    virtual void WriteHostReport() = 0;

    // A file was taken for download: the trace of reports starts empty.
    virtual void ImageLoaded() = 0;
    // A traced report went out: a CMD_WRITE_BLOCK or the configuration record
    // (the whole report, kReportSize bytes).
    virtual void ReportSent(const uint8_t* report) = 0;
    // The configuration record names the device model.
    virtual void HeaderModel(const std::string& model) = 0;
    // The configuration record decides the automatic run's steps
    // (kAutoStepBlank, kAutoStepErase, kAutoStepVerify; programming is no
    // selectable step): the manual step controls follow them and are locked.
    virtual void StepsDecided(uint8_t autoSteps) = 0;
    // CMD_DOWNLOAD_END went out: the whole image is sent.
    virtual void DownloadEndSent() = 0;
    // The download is abandoned: the user is told why, the download display is
    // put back, HeaderAccepted is cleared and CMD_DOWNLOAD_ABORT tells the
    // programmer, which is mid-transfer, to leave its download state.
    virtual void DownloadAbandoned(LoaderRefusal why) = 0;
};

// What HandleHeaderRecord did with a type-0x22 line.
enum class HeaderOutcome { Sent, Skipped, Refused };

class HexLoader {
  public:
    explicit HexLoader(LoaderHost& host) : host_(host) {}

    // Import: the values reset before the file is chosen (they stay reset when
    // the dialog is cancelled).
    void ResetForImport();
    // Import: takes the chosen file's lines as the image, resets the download
    // state, finds the end of the image and examines the first line; then
    // reports ImageLoaded: the trace of reports starts from here.
    void Load(ImageBuffer image);
    // Import: sends CMD_DOWNLOAD_REQUEST (with FileMarkerBytes) and clears the
    // HostReport.
    void SendDownloadRequest();

    // On every RPL_BLOCK_ACK (after the progress update): one more report.
    void SendNextBlock();
    // One packing step: reads record lines from CurrentLine on and sends exactly
    // one report, or stops with an error.
    void PackNextReport();

    // Production files: the first-line check sets HeaderAccepted and
    // FileMarkerBytes; HandleHeaderRecord sends, skips or refuses a type-0x22 line.
    void CheckFirstLine();
    HeaderOutcome HandleHeaderRecord(const RecordLine& line);

    const ImageBuffer& Image() const { return image_; }
    // Whether this download was abandoned: a line the packer could not read, or
    // a refused header record (reported to the host as DownloadAbandoned).
    bool Abandoned() const { return abandoned_; }

    // Hand-off of the option word found at address 0x0100 to the user option
    // chooser's preset (b0·2^24 + b1·2^16 + b2·2^8 + b3, in file order).
    std::function<void(uint32_t word)> PresetOption;

    int CurrentLine = 0;                       // next line to examine
    int HighestAddress = 0;                    // highest address written so far
    std::array<uint8_t, 2> FileMarkerBytes{};  // bytes 25-26 of CMD_DOWNLOAD_REQUEST

  private:
    // One packing step's begun report; the steps of PackNextReport, each
    // true when the step is over (a report sent, or the download stopped).
    struct PackStep;
    bool PackLine(PackStep& step);
    void PackImageEnd(PackStep& step);
    bool PackHeader(const PackStep& step, const RecordLine& line);
    bool PackData(PackStep& step, const RecordLine& line);
    // A report is begun: sends it first if the record neither follows on nor
    // fits after fill bytes; otherwise fills the gap.
    bool SendBeforeRecord(PackStep& step, const RecordLine& line);
    // No report is begun: begins one, at the end address or the record's.
    void BeginBlock(PackStep& step, int address);
    // Copies the record's data bytes (the rest of them, if it was split).
    bool CopyRecord(PackStep& step, const RecordLine& line);
    // The option word found at address 0x0100 goes to PresetOption.
    void OfferOptionWord(const RecordLine& line) const;

    // Sends the data report begun in this step and adds its trace line.
    void SendBlock();
    void AddTrace();
    // End of image: EndAddress becomes the last address written.
    void SettleEndAddress();
    void SendDownloadEnd();
    // A line the packer cannot read: the download is abandoned.
    void FormatError();
    HeaderOutcome Refuse();
    // A header record's model and steps, reported to the host.
    void ReportConfiguration(const ConfigFields& block);
    // The tags of the header records that go to the programmer (ASD, QRV).
    static bool IsSentHeaderTag(const RecordLine& line);

    // Whether no data byte has been written yet at the addresses [from, to).
    bool Unwritten(int from, int to) const;

    LoaderHost& host_;
    ImageBuffer image_;
    // Addresses that carried record data in this download. A gap is filled only
    // where no record has written yet, so that a file whose records are not in
    // address order never has data overwritten by fill bytes.
    std::bitset<0x10000> written_;
    bool endSettled_ = false;  // EndAddress already holds the last address written
    bool abandoned_ = false;
};

}  // namespace qrv
