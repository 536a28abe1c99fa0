#include "common/interaction.h"

#include <chrono>
#include <thread>

namespace qrv {

void SleepingClock::Pause(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace qrv
