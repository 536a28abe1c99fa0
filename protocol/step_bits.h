// The two sets of step bits. They name the same steps with different values,
// so each set has its own prefix and no layer keeps a copy of either.
#pragma once

#include <cstdint>

namespace qrv {

// StepFlags: the steps of an automatic run as CMD_AUTO_PROGRAM carries them
// and as the status reply reports them (byte 12).
inline constexpr uint8_t kStepFlagBlankCheck = 0x01;
inline constexpr uint8_t kStepFlagErase = 0x02;
inline constexpr uint8_t kStepFlagVerify = 0x04;
inline constexpr uint8_t kStepFlagProgram = 0x10;
inline constexpr uint8_t kStepFlagMask =
    kStepFlagBlankCheck | kStepFlagErase | kStepFlagVerify | kStepFlagProgram;

// autoSteps: the steps a production file's configuration record asks for
// (its byte 20). Programming itself is always part of the run.
inline constexpr uint8_t kAutoStepBlank = 0x01;   // "空校验"
inline constexpr uint8_t kAutoStepOption = 0x02;  // "user option"
inline constexpr uint8_t kAutoStepErase = 0x04;   // "擦除"
inline constexpr uint8_t kAutoStepVerify = 0x08;  // "校验"

}  // namespace qrv
