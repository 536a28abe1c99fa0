// File tools of qrv-writer-cli that need no programmer.
#pragma once

#include <cstdio>
#include <string>

namespace qrv {

// `info FILE`: opens a HEX file as the configuration window's file view does and
// prints its end address, checksum and, when it has an option record at 0x0100,
// the option word. Returns 0, or 2 when the file cannot be read.
int RunInfoCommand(const std::string& path, FILE* out, FILE* err);

}  // namespace qrv
