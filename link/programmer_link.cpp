#include "link/programmer_link.h"

#include "link/device_lock.h"

namespace qrv {

ProgrammerLink::ProgrammerLink(HidSeam& seam, ReplyChannel& channel)
    : seam_(seam), channel_(channel) {}

ProgrammerLink::~ProgrammerLink() {
    CloseReadSide();
    writeHandle_.reset();
}

namespace {

// What the operator reads when the programmer is there but cannot be used.
std::string NoAccessText(const std::string& path, const char* side, const std::string& cause) {
    // Another process drives it: the udev rule is not the trouble.
    if (cause.rfind(kInUseBy, 0) == 0) return "烧录器 " + path + " 正被其他进程使用: " + cause;
    // Shown in the window's message box: in Chinese, with the node and the
    // system's reason as they are.
    return "烧录器 " + path + " 无法打开(" + side +
           "): " + (cause.empty() ? std::string("no reason given") : cause) +
           "。请按 README 安装 udev 规则 packaging/60-qrv-writer.rules，然后重新插入烧录器。";
}

}  // namespace

int ProgrammerLink::FindProgrammer() {
    accessProblem_.clear();
    auto paths = seam_.Enumerate();
    if (!paths) return kListUnavailable;
    const std::size_t count = std::min<std::size_t>(paths->size(), kMaxInterfaces);
    for (std::size_t index = 0; index < count; ++index) {
        const std::string& path = (*paths)[index];
        uint16_t vid = 0, pid = 0;
        auto handle = seam_.Open(path, HidAccess::Write);
        if (!handle) {
            if (accessProblem_.empty() && seam_.ListedIds(path, &vid, &pid) &&
                vid == kProgrammerVendorId && pid == kProgrammerProductId)
                accessProblem_ = NoAccessText(path, "写入", seam_.OpenError());
            continue;
        }
        if (!handle->Attributes(&vid, &pid)) continue;  // closes the handle
        if (vid != kProgrammerVendorId || pid != kProgrammerProductId) continue;
        std::shared_ptr<HidHandle> read(seam_.Open(path, HidAccess::Read));
        if (!read) {
            if (accessProblem_.empty())
                accessProblem_ = NoAccessText(path, "读取", seam_.OpenError());
            continue;
        }
        writeHandle_ = std::move(handle);
        readHandle_ = std::move(read);
        accessProblem_.clear();
        uint16_t length = 0;
        if (writeHandle_->InputReportLength(&length)) inputReportLength_ = length;
        return kFound;
    }
    return accessProblem_.empty() ? kNotFound : kNoAccess;
}

void ProgrammerLink::CloseWriteLink() {
    if (!writeHandle_) return;
    // The change registration (the udev monitor) stays for the program's lifetime,
    // so arrival and removal keep arriving after a reconnection.
    writeHandle_.reset();
}

void ProgrammerLink::CloseReadSide() {
    if (reader_) {
        reader_->Stop();
        reader_.reset();
    }
    readHandle_.reset();
}

void ProgrammerLink::StartReader() {
    if (reader_) {
        reader_->Stop();
        reader_.reset();
    }
    channel_.SetReadFailing(false);
    reader_ = std::make_unique<THidthread>(readHandle_, inputReportLength_, channel_);
}

void ProgrammerLink::Write(const uint8_t* report) {
    if (writeHandle_) writeHandle_->Write(report, kReportSize);
}

std::string ProgrammerLink::WritePath() const {
    return writeHandle_ ? writeHandle_->Path() : std::string();
}

}  // namespace qrv
