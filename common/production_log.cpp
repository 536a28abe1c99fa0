#include "common/production_log.h"

#include <fcntl.h>
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
// write (a full disk) goes on with the rest.
bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
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
    const int offset = static_cast<int>(local.tm_gmtoff / 60 % (24 * 60));
    const int magnitude = offset < 0 ? -offset : offset;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return std::string(text) + zone;
}

bool ProductionLog::Append(const RunRecord& r, std::string* error) {
    const std::string line =
        CsvLine({r.time, r.programmer, r.model, r.checksum, r.steps, r.outcome, r.failedStep,
                 r.message, r.passed, r.failed, r.option, r.protect});
    // A log this call creates starts with its header, in the same write.
    bool created = true;
    int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    if (fd < 0) {
        *error = "cannot open the production log " + path_ + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (!created && ::fstat(fd, &st) == 0 && st.st_size == 0) created = true;
    const bool ok = WriteAll(fd, created ? CsvLine(kHeader) + line : line);
    const int writeErrno = errno;
    if (::close(fd) != 0 && ok) {
        *error = "cannot write the production log " + path_ + ": " + std::strerror(errno);
        return false;
    }
    if (!ok) {
        *error = "cannot write the production log " + path_ + ": " +
                 std::strerror(writeErrno != 0 ? writeErrno : ENOSPC);
        return false;
    }
    return true;
}

}  // namespace qrv
