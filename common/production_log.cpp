#include "common/production_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace qrv {

namespace {

const std::vector<std::string> kHeader = {"time",   "programmer", "model",       "checksum",
                                          "steps",  "outcome",    "failed step", "message",
                                          "passed", "failed",     "option",      "protect"};

std::string Quoted(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string q = "\"";
    for (char c : field) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

// Writes all of text with one write where the system allows it; a short
// write goes on with the rest. *written counts the bytes that reached the file.
bool WriteAll(int fd, const std::string& text, std::size_t* written) {
    std::size_t& done = *written;
    done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Takes back the `written` bytes of a line cut short, so that the file ends
// with a whole line again. With O_APPEND they end at the current offset; when
// another process has appended since, its line stays and ours is left as it is.
void TakeBack(int fd, std::size_t written) {
    if (written == 0) return;
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    struct stat st {};
    if (end < static_cast<off_t>(written) || ::fstat(fd, &st) != 0 || st.st_size != end) return;
    [[maybe_unused]] const int rc = ::ftruncate(fd, end - static_cast<off_t>(written));
}

}  // namespace

std::string CsvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        line += Quoted(fields[i]);
    }
    return line + "\r\n";
}

std::string LocalTimeIso8601() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    // The offset as +HH:MM (strftime's %z gives +HHMM); minutes east of UTC,
    // at most a day either way.
    const int offset = static_cast<int>(local.tm_gmtoff / 60 % (24L * 60));
    const int magnitude = offset < 0 ? -offset : offset;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return std::string(text) + zone;
}

int ProductionLog::Open(bool* created, std::string* error) const {
    // Non-blocking, so that a FIFO never holds the call in open(); only a
    // regular file is taken.
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC;
    *created = true;
    int fd = ::open(path_.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
    if (fd < 0 && errno == EEXIST) {
        // An existing log, or a link to one (which may not exist yet).
        *created = false;
        fd = ::open(path_.c_str(), kFlags | O_CREAT, 0644);
    }
    if (fd < 0) {
        // A FIFO without a reader refuses a non-blocking open with ENXIO.
        const bool special = errno == ENXIO;
        *error = "cannot open the production log " + path_ + ": " +
                 (special ? std::string("it is not a regular file") : std::strerror(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "cannot open the production log " + path_ + ": it is not a regular file";
        ::close(fd);
        return -1;
    }
    if (st.st_size == 0) *created = true;
    return fd;
}

bool ProductionLog::Check(std::string* error) const {
    bool created = false;
    const int fd = Open(&created, error);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool ProductionLog::Append(const RunRecord& r, std::string* error) {
    if (Failed()) {
        *error = failure_;
        return false;
    }
    std::vector<std::string> fields = {r.time,   r.programmer, r.model,      r.checksum,
                                       r.steps,  r.outcome,    r.failedStep, r.message,
                                       r.passed, r.failed,     r.option,     r.protect};
    std::vector<std::string> header = kHeader;
    if (station_) {
        fields.insert(fields.end(),
                      {std::to_string(station_->slot), station_->port, station_->serial});
        header.insert(header.end(), {"slot", "port", "serial"});
    }
    const std::string line = CsvLine(fields);
    // A log this call creates starts with its header, in the same write.
    bool created = false;
    const int fd = Open(&created, error);
    if (fd < 0) return false;
    // The programmers of a station, and other processes, append to one log:
    // only one of them may find it empty and write the header.
    struct stat st {};
    if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &st) == 0) created = st.st_size == 0;
    std::size_t written = 0;
    bool ok = WriteAll(fd, created ? CsvLine(header) + line : line, &written);
    int writeErrno = errno;
    if (!ok) TakeBack(fd, written);
    if (::close(fd) != 0 && ok) {
        ok = false;
        writeErrno = errno;
    }
    if (ok) return true;
    failure_ = "cannot write the production log " + path_ + ": " + std::strerror(writeErrno);
    *error = failure_;
    return false;
}

}  // namespace qrv
