// THidthread: reads the programmer's input reports and hands every report that
// carries the reply marker ';' to the UI thread through the ReplyChannel.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "link/hid_seam.h"
#include "link/reply_channel.h"

namespace qrv {

class THidthread {
  public:
    // readHandle may be null (the read open failed): every pass then fails, and
    // nothing is handed over. inputReportLength 0 reads 65 bytes.
    THidthread(std::shared_ptr<HidHandle> readHandle, uint16_t inputReportLength,
               ReplyChannel& channel);
    ~THidthread();  // stops and joins
    THidthread(const THidthread&) = delete;
    THidthread& operator=(const THidthread&) = delete;

    // Requests the stop and joins; a reply not yet taken is dropped.
    void Stop();

  private:
    void Execute();

    std::shared_ptr<HidHandle> readHandle_;
    std::size_t readLength_;
    ReplyChannel& channel_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace qrv
