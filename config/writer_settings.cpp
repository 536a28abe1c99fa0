#include "config/writer_settings.h"

namespace qrv {

std::array<uint8_t, kSettingsBlockSize> WriterSettings::Block() const {
    std::array<uint8_t, kSettingsBlockSize> b{};
    b[0] = startHigh;
    b[1] = startLow;
    b[2] = endHigh;
    b[3] = endLow;
    b[4] = supplyFlags;
    for (std::size_t i = 0; i < deviceCode.size(); ++i)
        b[5 + i] = static_cast<uint8_t>(deviceCode[i]);
    b[16] = fileMarker;
    b[17] = optionBits;
    b[18] = hardLockSize;
    b[19] = dataFlashSize;
    b[20] = autoSteps;
    return b;
}

}  // namespace qrv
