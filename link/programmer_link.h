// The programmer link: finds the programmer among the HID interfaces, holds its
// write handle and read handle, and runs the one reader thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/hid_seam.h"
#include "link/reader_thread.h"
#include "link/reply_channel.h"

namespace qrv {

inline constexpr uint16_t kProgrammerVendorId = 0x0483;
inline constexpr uint16_t kProgrammerProductId = 0x5750;

class ProgrammerLink {
  public:
    // FindProgrammer result codes.
    static constexpr int kNotFound = 1;
    static constexpr int kFound = 3;
    static constexpr int kListUnavailable = 4;
    // A programmer is attached but cannot be opened for writing and reading
    // (on Linux, usually a hidraw node without permission): not connected.
    static constexpr int kNoAccess = 5;
    static constexpr int kMaxInterfaces = 20;

    ProgrammerLink(HidSeam& seam, ReplyChannel& channel);
    ~ProgrammerLink();

    // Examines interfaces 0..19 in enumeration order; the first programmer that
    // opens for writing and for reading wins, and its input report length is
    // read. A programmer that can be written but not read would take commands
    // whose replies never arrive: it does not count as connected.
    int FindProgrammer();
    // Why the last FindProgrammer gave kNoAccess, naming the programmer's path
    // and the cause; empty otherwise.
    const std::string& AccessProblem() const { return accessProblem_; }
    // Closes the write handle.
    void CloseWriteLink();
    // Stops and joins the reader and closes the read handle.
    void CloseReadSide();
    // Starts the reader on the current read handle (stopping any previous one).
    void StartReader();

    bool Connected() const { return writeHandle_ != nullptr; }
    // Writes a 65-byte report; silent when not connected or when the write fails.
    void Write(const uint8_t* report);
    // The interface path the write handle is open on (empty when not connected).
    std::string WritePath() const;
    uint16_t InputReportLength() const { return inputReportLength_; }

  private:
    HidSeam& seam_;
    ReplyChannel& channel_;
    std::unique_ptr<HidHandle> writeHandle_;
    std::shared_ptr<HidHandle> readHandle_;
    std::unique_ptr<THidthread> reader_;
    uint16_t inputReportLength_ = 0;
    std::string accessProblem_;
};

}  // namespace qrv
