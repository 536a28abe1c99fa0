#include "link/device_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qrv {

std::unique_ptr<DeviceLock> DeviceLock::Take(const std::string& path, std::string* why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = std::strerror(errno);
        return nullptr;
    }
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        *why = error == EWOULDBLOCK ? kInUseBy + LockHolder(path) : std::strerror(error);
        return nullptr;
    }
    return std::unique_ptr<DeviceLock>(new DeviceLock(fd));
}

DeviceLock::~DeviceLock() {
    ::close(fd_);  // releases the lock
}

std::string LockHolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "another process";
    // /proc/locks names a file as MAJOR:MINOR:INODE of the file system it is on,
    // in hex, hex and decimal: "1: FLOCK  ADVISORY  WRITE 1234 00:05:1024 0 EOF".
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        fields >> number >> kind;
        if (kind == "->") continue;  // a process waiting for the lock, not holding it
        fields >> mode >> access >> pid >> file;
        if (kind != "FLOCK" || file != id) continue;
        std::ifstream commFile("/proc/" + pid + "/comm");
        std::string comm;
        std::getline(commFile, comm);
        return "process " + pid + (comm.empty() ? "" : " (" + comm + ")");
    }
    return "another process";
}

}  // namespace qrv
