// One process per programmer: whoever drives a programmer holds an advisory
// lock (flock) on an open of its own of the programmer's hidraw node, for as
// long as the connection lives. hidapi opens the node itself, so the lock is a
// separate open file description; the kernel drops it when that process ends,
// however it ends.
#pragma once

#include <memory>
#include <string>

namespace qrv {

// How the reason a locked node cannot be opened begins ("in use by process
// 1234 (qrv-writer-cli)").
inline constexpr const char* kInUseBy = "in use by ";

class DeviceLock {
  public:
    // Takes the lock of the node at path without waiting. nullptr with *why
    // when another open of the node holds it ("in use by process PID (NAME)")
    // or when the node cannot be opened (the system's reason).
    static std::unique_ptr<DeviceLock> Take(const std::string& path, std::string* why);
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

  private:
    explicit DeviceLock(int fd) : fd_(fd) {}
    int fd_;
};

// The process holding a flock on the file at path, from /proc/locks (by the
// file's device and inode) and /proc/PID/comm: "process 1234
// (qrv-writer-cli)", "another process" when the kernel does not say.
std::string LockHolder(const std::string& path);

}  // namespace qrv
