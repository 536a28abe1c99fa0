#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace qrv {

namespace {
std::string Describe(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}
}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* error) {
    std::string tmp = path + ".tmpXXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        if (error) *error = Describe("cannot create a temporary file beside", path);
        return false;
    }
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = Describe("cannot write", path);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::fchmod(fd, 0644) != 0) {
        if (error) *error = Describe("cannot write", path);
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::close(fd) != 0) {
        if (error) *error = Describe("cannot write", path);
        ::unlink(tmp.c_str());
        return false;
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error) *error = Describe("cannot replace", path);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
    std::string out;
    std::size_t total = 0;
    for (const auto& l : lines) total += l.size() + 2;
    out.reserve(total);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = Describe("cannot open", path);
        return false;
    }
    // One buffer of the file's size, read into directly: no copy on the way.
    std::string data;
    struct stat st {};
    std::size_t capacity = 64 * 1024;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        capacity = static_cast<std::size_t>(st.st_size) + 1;  // + 1: the end shows at once
    std::size_t size = 0;
    for (;;) {
        if (size == data.size()) data.resize(std::max(capacity, data.size() * 2));
        const ssize_t n = ::read(fd, data.data() + size, data.size() - size);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = Describe("cannot read", path);
            ::close(fd);
            return false;
        }
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    data.resize(size);
    *content = std::move(data);
    return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    // A UTF-8 byte-order mark, as some editors write, is no part of the first line.
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::size_t start = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        std::size_t end = nl == std::string::npos ? text.size() : nl;
        std::size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        lines.emplace_back(text, start, stop - start);
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return lines;
}

}  // namespace qrv
