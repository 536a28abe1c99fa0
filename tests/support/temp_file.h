// Scratch files of tests and benchmarks. Header-only and free of gtest: the
// scratch folder is TEST_TMPDIR when set (as ctest sets it, and as gtest's
// TempDir reads it), /tmp/ otherwise.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace qrv::test {

// The scratch folder, ending in '/'.
inline std::string ScratchDir() {
    const char* base = std::getenv("TEST_TMPDIR");
    std::string dir = base && *base ? base : "/tmp/";
    if (dir.back() != '/') dir += '/';
    return dir;
}

// Writes the lines, each ended by CR LF, to a file of this name in the scratch
// folder; returns its path.
inline std::string WriteTempFile(const std::string& name, const std::vector<std::string>& lines) {
    const std::string path = ScratchDir() + name;
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << "\r\n";
    return path;
}

}  // namespace qrv::test
