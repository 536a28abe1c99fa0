// Runs qrv-writer-cli in-process and captures its two streams.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace qrv::test {

struct ToolRun {
    int rc = -1;
    std::string out, err;
};

inline std::string ReadAll(FILE* f) {
    std::string s;
    std::rewind(f);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

inline ToolRun RunTool(const std::vector<std::string>& args, HidSeam* seam = nullptr) {
    ToolRun r;
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    r.rc = cli::RunCli(args, out, err, seam);
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    return r;
}

}  // namespace qrv::test
