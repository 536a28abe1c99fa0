// The service functions of the main window, the parts that need no session:
// the working-mode and EEPROM lists, the read-back lines, the Intel HEX
// records of a read-back written for other tools, and the programmer firmware
// file that "Update" sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/reports.h"

namespace qrv {

// The working modes of ComboBox1 and the CMD_WRITER_MODE argument of each.
struct WorkingMode {
    const char* item;
    uint32_t value;
};
inline constexpr WorkingMode kWorkingModes[] = {
    {"S3_default", 0xA5}, {"S3_4K", 0x0FFF},  {"S3_8K", 0x1FFF},
    {"S3_16K", 0x3FFF},   {"S3_32K", 0x7FFF}, {"S3_48K", 0x8FFF},
    {"S3_64K", 0xFFFF},   {"QRV", 0xA6},      {"QRV_ISP_Updata", 0xA7},
};
// The argument of a working mode that is not in the list (no selection).
inline constexpr uint32_t kDefaultWorkingMode = 0xA5;
// The CMD_WRITER_MODE argument of ComboBox1's item `index` (-1: no selection).
uint32_t WorkingModeValue(int index);

// ComboBox3 ("EEP地址"): item i is the device address 0xA0 + i.
inline constexpr const char* kEepromAddressItems[] = {"0xA0", "0XA1", "0XA2", "0XA3",
                                                      "0XA4", "0XA5", "0XA6", "0XA7"};
inline constexpr uint8_t kFirstEepromAddress = 0xA0;
// ComboBox4 ("型号"): item 1 is type code 2, anything else type code 1.
inline constexpr const char* kEepromTypeItems[] = {"24C02", "24C04"};

// The firmware of the programmer that "Update" sends: exactly 57,304 bytes,
// sent unchanged from offset 0 in blocks of up to 59 bytes.
inline constexpr std::size_t kFirmwareImageSize = 57304;  // 0xDFD8
inline constexpr int kFirmwareBlockSize = kMaxBlockPayload;
// The request of a replacement carries kFirmwareUpdateMark (protocol/reports.h).
inline constexpr uint8_t kUpdateModeFirmware = 0xBB;  // UpdateMode during a replacement

// Where the programmer's firmware file is looked for when none is named:
// $XDG_DATA_HOME/qrv-writer/programmer-firmware.bin, or
// ~/.local/share/qrv-writer/programmer-firmware.bin.
std::string DefaultFirmwarePath();
// Reads a firmware file. False, with a message naming the file, when it cannot
// be read or does not hold exactly kFirmwareImageSize bytes.
bool LoadFirmwareImage(const std::string& path, std::vector<uint8_t>* image, std::string* error);

// The firmware version of RPL_STATUS (its major and minor characters) as text: the major digit,
// then "." and 0..20 for the minor characters '0'..'D' ("3.6", "3.11").
std::string FirmwareVersionText(uint8_t major, uint8_t minor);

// The data a read-back reply carries (pointers into the reply).
struct ReadBackData {
    unsigned address = 0;
    unsigned count = 0;
    const uint8_t* bytes = nullptr;
};
// The data of an RPL_CHIP_BLOCK / RPL_CACHE_BLOCK reply; no data for a block
// whose count would reach past the report.
ReadBackData ChipBlockData(const uint8_t* reply);
ReadBackData CacheBlockData(const uint8_t* reply);

// The lines Memo2 collects. Both end with the low byte of the plain sum of the
// bytes after the address, which is not an Intel HEX checksum; a block whose
// count would reach past the report gives no line.
// Chip: ":" LL AAAA, the record-type byte and the LL data bytes, SS.
std::string ChipBlockLine(const uint8_t* reply);
// Cache: ":" LL AAAA "00", the LL data bytes, SS.
std::string CacheBlockLine(const uint8_t* reply);

// A standard Intel HEX data record (type 00) with its two's-complement
// checksum, and the end-of-file record.
std::string IntelHexDataRecord(unsigned address, const uint8_t* data, unsigned count);
inline constexpr const char* kIntelHexEndOfFile = ":00000001FF";

}  // namespace qrv
