// A session's report buffer: the outgoing HostReport, the incoming
// DeviceReport, and the state bytes that follow them. Only the UI thread (or
// the CLI's main thread) writes it; the reader thread reads into a buffer of
// its own and hands each reply over.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace qrv {

inline constexpr std::size_t kReportSize = 65;  // report ID 0 plus 64 bytes
using Report = std::array<uint8_t, kReportSize>;

inline constexpr uint8_t kHostMarker = ':';    // 0x3A, byte 1 of every report sent
inline constexpr uint8_t kDeviceMarker = ';';  // 0x3B, byte 1 of every reply

struct ReportBuffer {
    static constexpr std::size_t kHostReport = 0;
    static constexpr std::size_t kDeviceReport = 65;
    static constexpr std::size_t kLastDownloadStatus = 130;
    static constexpr std::size_t kFileKind = 131;
    static constexpr std::size_t kHeaderAccepted = 134;
    static constexpr std::size_t kEepromAddress = 135;
    static constexpr std::size_t kUpdateMode = 136;
    static constexpr std::size_t kUpdateEndSent = 137;
    static constexpr std::size_t kSize = 138;

    std::array<uint8_t, kSize> bytes{};

    uint8_t* HostReport() { return bytes.data() + kHostReport; }
    const uint8_t* HostReport() const { return bytes.data() + kHostReport; }
    uint8_t* DeviceReport() { return bytes.data() + kDeviceReport; }
    const uint8_t* DeviceReport() const { return bytes.data() + kDeviceReport; }

    // Byte k of the HostReport / DeviceReport (k < 65).
    uint8_t& Host(std::size_t k) { return bytes[kHostReport + k]; }
    uint8_t& Device(std::size_t k) { return bytes[kDeviceReport + k]; }
    uint8_t Device(std::size_t k) const { return bytes[kDeviceReport + k]; }
    // Big-endian 16-bit value at DeviceReport bytes k, k+1.
    unsigned Device16(std::size_t k) const { return (Device(k) << 8) | Device(k + 1); }

    uint8_t& LastDownloadStatus() { return bytes[kLastDownloadStatus]; }
    uint8_t& FileKind() { return bytes[kFileKind]; }
    uint8_t& HeaderAccepted() { return bytes[kHeaderAccepted]; }
    uint8_t& EepromAddress() { return bytes[kEepromAddress]; }
    uint8_t& UpdateMode() { return bytes[kUpdateMode]; }
    uint8_t& UpdateEndSent() { return bytes[kUpdateEndSent]; }

    void ClearHostReport() { std::fill_n(bytes.begin() + kHostReport, kReportSize, uint8_t{0}); }
    void ClearDeviceReport() {
        std::fill_n(bytes.begin() + kDeviceReport, kReportSize, uint8_t{0});
    }
    void SetDeviceReport(const Report& r) {
        std::copy(r.begin(), r.end(), bytes.begin() + kDeviceReport);
    }
};

}  // namespace qrv
