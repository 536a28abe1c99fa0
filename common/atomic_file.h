#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qrv {

// Writes content to a temporary file beside path and renames it into place, so a
// failed write never leaves a half file; then syncs the file and its directory,
// so the new content survives a power cut. A symlink is written through (its
// target is replaced, the link stays); a file replaced keeps its mode; a path
// that exists but is not a regular file is refused. Returns false and sets
// error on failure.
// A new file gets 0666 less the umask. Ctrl-C, SIGTERM or SIGHUP that end the
// program during the write remove the temporary file first.
// A file the user cannot write (read-only) is replaced only with
// replaceReadOnly; else it is refused with the reason.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* error,
                         bool replaceReadOnly = false);

// Whether path (or the file a symlink at path leads to) is an existing file
// that the user cannot write: no write permission, or none of its write bits
// set (even for root), as `chmod a-w` leaves it.
bool IsReadOnlyFile(const std::string& path);
// What the window asks, with the path on a line of its own, before it replaces one.
inline constexpr const char* kReplaceReadOnlyQuestion = "文件是只读的，是否替换?";

// Tests only: called with the temporary file's path as soon as it exists.
void SetTemporaryFileHookForTests(std::function<void(const std::string&)> hook);

// Joins lines with CR LF after every line (the line ends of the files operators have).
std::string JoinCrLf(const std::vector<std::string>& lines);

// Reads a whole regular file of at most maxSize bytes (16 MiB: no 64 KiB image
// needs a larger file); false and error when it
// cannot be read, is no regular file (a FIFO, a device, a directory: refused at
// once, never waited on) or is larger.
inline constexpr std::size_t kMaxInputFileSize = std::size_t(16) << 20;
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error,
                   std::size_t maxSize = kMaxInputFileSize);

// Splits text into lines as a plain text read yields them: CR LF, LF or CR line
// ends, no extra empty line after a final line end. A UTF-8 byte-order mark at the
// start of the text is dropped. Every reader of HEX files takes its lines here.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace qrv
