#include "common/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <utility>

namespace qrv {

namespace {
std::string Describe(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}
}  // namespace

namespace {

// The file a write to `path` replaces: the target of a symlink (followed
// through chains of links), else path itself.
std::string ResolveTarget(const std::string& path) {
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0) return target;
        link.resize(static_cast<std::size_t>(n));
        if (!link.empty() && link[0] != '/') {
            const auto slash = target.rfind('/');
            if (slash != std::string::npos) link = target.substr(0, slash + 1) + link;
        }
        target = link;
    }
    return target;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The process's umask, read without changing it where the system tells it.
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// The temporary file of the write in progress, for the interrupt signals: a
// signal that ends the program (SIGINT, SIGTERM, SIGHUP at their default)
// first removes it, so an interrupted save leaves no OUT.tmpXXXXXX behind. A
// program that handles the signal itself goes on: its handler runs, and the
// write finishes (or fails and removes its file) as usual.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kInterruptSignalCount = std::size(kInterruptSignals);
char g_tempPath[PATH_MAX];
volatile std::sig_atomic_t g_tempActive = 0;
struct sigaction g_previous[kInterruptSignalCount];
std::atomic<bool> g_guardTaken{false};

void OnInterruptDuringWrite(int signal, siginfo_t* info, void* context) {
    std::size_t i = 0;
    while (i < kInterruptSignalCount && kInterruptSignals[i] != signal) ++i;
    if (i == kInterruptSignalCount) return;
    const struct sigaction& previous = g_previous[i];
    if (previous.sa_flags & SA_SIGINFO) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler == SIG_IGN) return;
    if (previous.sa_handler != SIG_DFL) {
        previous.sa_handler(signal);
        return;
    }
    // The signal ends the program: remove the file, then let it do so.
    if (g_tempActive) ::unlink(g_tempPath);
    g_tempActive = 0;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);  // delivered as the handler returns
}

// Watches one temporary file while it exists. Only one write at a time is
// watched; a write on another thread meanwhile goes unwatched.
class TemporaryFileGuard {
  public:
    explicit TemporaryFileGuard(const std::string& tmp) {
        if (tmp.size() >= sizeof g_tempPath || g_guardTaken.exchange(true)) return;
        std::memcpy(g_tempPath, tmp.c_str(), tmp.size() + 1);
        g_tempActive = 1;
        struct sigaction action {};
        action.sa_sigaction = OnInterruptDuringWrite;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (int s : kInterruptSignals) sigaddset(&action.sa_mask, s);
        for (std::size_t i = 0; i < kInterruptSignalCount; ++i)
            ::sigaction(kInterruptSignals[i], &action, &g_previous[i]);
        owner_ = true;
    }
    ~TemporaryFileGuard() {
        if (!owner_) return;
        for (std::size_t i = 0; i < kInterruptSignalCount; ++i)
            ::sigaction(kInterruptSignals[i], &g_previous[i], nullptr);
        g_tempActive = 0;
        g_guardTaken = false;
    }
    TemporaryFileGuard(const TemporaryFileGuard&) = delete;
    TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;

  private:
    bool owner_ = false;
};

std::function<void(const std::string&)>& TemporaryFileHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

}  // namespace

void SetTemporaryFileHookForTests(std::function<void(const std::string&)> hook) {
    TemporaryFileHook() = std::move(hook);
}

bool IsReadOnlyFile(const std::string& path) {
    const std::string target = ResolveTarget(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // A read-only file system is no property of the file: its write fails
    // later with that reason.
    return (st.st_mode & 0222) == 0 || (::access(target.c_str(), W_OK) != 0 && errno == EACCES);
}

namespace {

// The mode the written file gets: that of the regular file it replaces, else
// the mode the umask leaves of 0666, as any new file would get. False when
// target exists and is no regular file.
bool ModeOfReplacement(const std::string& target, mode_t* mode) {
    *mode = 0666 & ~CurrentUmask();
    struct stat existing {};
    if (::stat(target.c_str(), &existing) != 0) return true;
    if (!S_ISREG(existing.st_mode)) return false;
    *mode = existing.st_mode & 07777;
    return true;
}

// Writes all of content to fd, again after an interrupted write; false with
// errno set (ENOSPC for a write that makes no progress).
bool WriteAll(int fd, const std::string& content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The rename itself lasts only once the directory is on disk: syncs the
// directory that holds target. False, with errno, when the sync fails; a
// directory that cannot be opened is left as it is.
bool SyncDirectoryOf(const std::string& target) {
    const int dir = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return true;
    const int synced = ::fsync(dir);
    ::close(dir);
    return synced == 0;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* error,
                         bool replaceReadOnly) {
    const std::string target = ResolveTarget(path);
    const auto refuse = [&](const char* why) {
        if (error) *error = "cannot replace " + path + ": " + why;
        return false;
    };
    if (!replaceReadOnly && IsReadOnlyFile(target)) return refuse("it is read-only");
    mode_t mode = 0;
    if (!ModeOfReplacement(target, &mode)) return refuse("it is not a regular file");
    std::string tmp = target + ".tmpXXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = Describe("cannot create a temporary file beside", path);
        return false;
    }
    const TemporaryFileGuard guard(tmp);
    if (TemporaryFileHook()) TemporaryFileHook()(tmp);
    const auto fail = [&](const char* what) {
        if (error) *error = Describe(what, path);
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    };
    if (!WriteAll(fd, content)) return fail("cannot write");
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) return fail("cannot write");
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail("cannot write");
    if (std::rename(tmp.c_str(), target.c_str()) != 0) return fail("cannot replace");
    if (!SyncDirectoryOf(target)) {
        if (error) *error = Describe("cannot write the directory of", path);
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

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error,
                   std::size_t maxSize) {
    // Non-blocking, so that opening a FIFO never waits for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = Describe("cannot open", path);
        return false;
    }
    const auto refuse = [&](const std::string& why) {
        if (error) *error = "cannot read " + path + ": " + why;
        ::close(fd);
        return false;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return refuse(std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return refuse("it is a directory");
    if (!S_ISREG(st.st_mode)) return refuse("it is not a regular file");
    if (static_cast<unsigned long long>(st.st_size) > maxSize)
        return refuse("it is larger than " + std::to_string(maxSize >> 20) +
                      " MiB, more than any image of this programmer needs");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // One buffer of the file's size, read into directly; one byte more, so
    // that the end shows without growing it.
    std::string text;
    text.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == text.size()) {
            // The file may have grown since: read on, up to the limit.
            if (text.size() > maxSize) return refuse("it is larger than allowed");
            text.resize(std::min(maxSize + 1, text.size() + 65536));
        }
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return refuse(std::strerror(errno));
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (done > maxSize) {
        if (error) *error = "cannot read " + path + ": it is larger than allowed";
        return false;
    }
    text.resize(done);
    *content = std::move(text);
    return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    // A UTF-8 byte-order mark, as some editors write, is no part of the first line.
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::size_t start = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    while (start < text.size()) {
        // A line ends at LF, at CR LF, or at a CR alone.
        const std::size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string::npos) {
            lines.emplace_back(text, start);
            break;
        }
        lines.emplace_back(text, start, stop - start);
        start = stop + 1;
        if (text[stop] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

}  // namespace qrv
