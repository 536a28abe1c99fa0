// File tools of qrv-writer-cli that need no programmer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/interaction.h"

namespace qrv {

// What `info` shows of a HEX file.
struct FileInfo {
    std::string end;       // the end address, "7FFFH"
    std::string checksum;  // the file view's checksum
    unsigned checksumValue = 0;
    std::optional<uint32_t> optionWord;
};

// Opens a HEX file as the configuration window's file view does; nullopt with
// the reason when it cannot be read. The view's notices go to `notices`.
std::optional<FileInfo> ReadFileInfo(const std::string& path, Interaction& notices,
                                     std::string* error);

}  // namespace qrv
