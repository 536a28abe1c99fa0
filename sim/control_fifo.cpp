#include "sim/control_fifo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qrv::sim {

std::unique_ptr<ControlFifo> ControlFifo::Open(const std::string& path, Handler handler,
                                               std::string* error) {
    if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
        *error = "control FIFO " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
        *error = "control FIFO " + path + ": not a FIFO";
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int keep = fd < 0 ? -1 : ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    int stop[2] = {-1, -1};
    if (fd < 0 || keep < 0 || ::pipe2(stop, O_CLOEXEC) != 0) {
        *error = "control FIFO " + path + ": " + std::strerror(errno);
        for (int f : {fd, keep})
            if (f >= 0) ::close(f);
        return nullptr;
    }
    return std::unique_ptr<ControlFifo>(
        new ControlFifo(fd, keep, stop[0], stop[1], std::move(handler)));
}

ControlFifo::ControlFifo(int fd, int keep, int stopRead, int stopWrite, Handler handler)
    : fd_(fd),
      keep_(keep),
      stopRead_(stopRead),
      stopWrite_(stopWrite),
      handler_(std::move(handler)),
      thread_([this] { Run(); }) {}

ControlFifo::~ControlFifo() {
    const char c = 'q';
    while (::write(stopWrite_, &c, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    for (int f : {fd_, keep_, stopRead_, stopWrite_}) ::close(f);
}

void ControlFifo::Run() {
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stopRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        char buf[256];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) continue;
        pending.append(buf, std::size_t(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) handler_(line);
        }
        if (pending.size() > 4096) pending.clear();  // no line is that long
    }
}

}  // namespace qrv::sim
