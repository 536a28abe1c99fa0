#include "config/writer_settings.h"

#include <algorithm>

#include "protocol/reports.h"

namespace qrv {

std::array<uint8_t, kSettingsBlockSize> WriterSettings::Block() const {
    ConfigFields c;
    c.startAddress = unsigned{startHigh} << 8 | startLow;
    c.endAddress = EndAddress();
    c.supplyFlags = supplyFlags;
    std::ranges::transform(deviceCode, c.deviceCode.begin(),
                           [](char ch) { return static_cast<uint8_t>(ch); });
    c.fileMarker = fileMarker;
    c.optionBits = optionBits;
    c.hardLockSize = hardLockSize;
    c.dataFlashSize = dataFlashSize;
    c.autoSteps = autoSteps;
    return EncodeConfigBlock(c);
}

}  // namespace qrv
