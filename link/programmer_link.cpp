#include "link/programmer_link.h"

namespace qrv {

ProgrammerLink::ProgrammerLink(HidSeam& seam, ReplyChannel& channel)
    : seam_(seam), channel_(channel) {}

ProgrammerLink::~ProgrammerLink() {
    CloseReadSide();
    writeHandle_.reset();
}

int ProgrammerLink::FindProgrammer() {
    auto paths = seam_.Enumerate();
    if (!paths) return kListUnavailable;
    const std::size_t count = std::min<std::size_t>(paths->size(), kMaxInterfaces);
    for (std::size_t index = 0; index < count; ++index) {
        const std::string& path = (*paths)[index];
        auto handle = seam_.Open(path, HidAccess::Write);
        if (!handle) continue;
        uint16_t vid = 0, pid = 0;
        if (!handle->Attributes(&vid, &pid)) continue;  // closes the handle
        if (vid != kProgrammerVendorId || pid != kProgrammerProductId) continue;
        writeHandle_ = std::move(handle);
        readHandle_ = std::shared_ptr<HidHandle>(seam_.Open(path, HidAccess::Read));
        uint16_t length = 0;
        if (writeHandle_->InputReportLength(&length)) inputReportLength_ = length;
        return kFound;
    }
    return kNotFound;
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
    reader_ = std::make_unique<THidthread>(readHandle_, inputReportLength_, channel_);
}

void ProgrammerLink::Write(const uint8_t* report) {
    if (writeHandle_) writeHandle_->Write(report, kReportSize);
}

std::string ProgrammerLink::WritePath() const {
    return writeHandle_ ? writeHandle_->Path() : std::string();
}

}  // namespace qrv
