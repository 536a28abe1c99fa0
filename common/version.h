// The program's version and the programmer firmware it expects, as --version
// prints them.
#pragma once

#include <string>

namespace qrv {

inline constexpr const char* kProgramVersion = QRV_VERSION;

// The programmer firmware this host carries (major '3', minor '6').
inline constexpr char kExpectedFirmwareMajor = '3';
inline constexpr char kExpectedFirmwareMinor = '6';

// "NAME VERSION" on the first line (as help2man reads it), the firmware next.
inline std::string VersionText(const char* program) {
    return std::string(program) + " " + kProgramVersion + "\nexpects programmer firmware " +
           kExpectedFirmwareMajor + "." + kExpectedFirmwareMinor + "\n";
}

}  // namespace qrv
