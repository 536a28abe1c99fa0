// The control FIFO of a simulated station (--simulate=count=N,control=PATH):
// a thread of its own reads lines from the FIFO and hands each to a handler,
// so that a test or a person can unplug and plug one programmer of a running
// station (`echo "unplug 2" > PATH`).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace qrv::sim {

class ControlFifo {
  public:
    using Handler = std::function<void(const std::string& line)>;

    // Opens the FIFO at path (made when it does not exist) and starts reading.
    // nullptr with *error when path is no FIFO or cannot be opened.
    static std::unique_ptr<ControlFifo> Open(const std::string& path, Handler handler,
                                             std::string* error);
    // Stops the reader and joins it; a writer that is still writing is not
    // waited for.
    ~ControlFifo();
    ControlFifo(const ControlFifo&) = delete;
    ControlFifo& operator=(const ControlFifo&) = delete;

  private:
    ControlFifo(int fd, int keep, int stopRead, int stopWrite, Handler handler);
    void Run();

    int fd_;                    // the FIFO, read without blocking
    int keep_;                  // a write end of our own, so that a writer closing it is no end
    int stopRead_, stopWrite_;  // a byte on this pipe stops the reader
    Handler handler_;
    std::thread thread_;
};

}  // namespace qrv::sim
