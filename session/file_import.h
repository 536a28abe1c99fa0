// "导入文件" (BitBtn1): the import of an Intel HEX file or a production file into
// the programmer. The loader (image/hex_loader.h) does the packing; this is its
// view of the main window's session.
#pragma once

#include "image/hex_loader.h"

namespace qrv {

class MainSession;

// The warning of an import while no programmer is connected.
inline constexpr const char* kNoProgrammerWarning = "没有连接烧录器! \n\n请连接烧录器!";
// The question before a file whose only fault is its record checksums.
inline constexpr const char* kBadChecksumQuestion = "\n\n仍要下载这个文件吗?";

// How an import ended before the download handshake took over.
enum class ImportResult {
    Requested,     // CMD_DOWNLOAD_REQUEST sent; the replies carry the download on
    NotConnected,  // no programmer: the warning was shown
    Cancelled,     // the open-file dialog was cancelled
    Unreadable,    // the chosen file could not be read: a message was shown
    Refused,       // the file failed its check: nothing was sent, a message was shown
};

// The loader's host: the session's report buffer and working values; what the
// loader reports, the session shows on the main window's controls.
class SessionLoaderHost final : public LoaderHost {
  public:
    explicit SessionLoaderHost(MainSession& session) : session_(session) {}
    ReportBuffer& Buffer() override;
    DownloadValues Values() override;
    void WriteHostReport() override;
    void ImageLoaded() override;
    void ReportSent(const uint8_t* report) override;
    void HeaderModel(const std::string& model) override;
    void StepsDecided(uint8_t autoSteps) override;
    void DownloadEndSent() override;
    void DownloadAbandoned(LoaderRefusal why) override;

  private:
    MainSession& session_;
};

}  // namespace qrv
