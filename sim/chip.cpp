// The chip in the socket and the programmer's storage: the steps (blank
// check, erase, program, verify) with their progress replies, the automatic
// run with its option and protection results and counters, the chip and
// storage read-back, and the status reply.
#include <algorithm>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "protocol/reports.h"
#include "sim/programmer.h"
#include "sim/replies.h"

namespace qrv::sim {

namespace {

constexpr uint8_t kProtectionBits = 0x07;  // read protection, debug protection, hard lock

}  // namespace

void SimProgrammer::OnStatus(const Report&, Replies& out) {
    out.Add(BuildStatus());
}

void SimProgrammer::OnBlankCheck(const Report&, Replies& out) {
    if (ChipReady(out)) RunStep(ChipStep::BlankCheck, out);
}

void SimProgrammer::OnErase(const Report&, Replies& out) {
    if (ChipReady(out)) RunStep(ChipStep::Erase, out);
}

void SimProgrammer::OnProgram(const Report&, Replies& out) {
    if (ChipReady(out)) RunStep(ChipStep::Program, out);
}

void SimProgrammer::OnVerify(const Report&, Replies& out) {
    if (ChipReady(out)) RunStep(ChipStep::Verify, out);
}

void SimProgrammer::OnAutoProgram(const Report& c, Replies& out) {
    AutoProgram(DecodeShortFrame(c.data()).argument, out);
}

void SimProgrammer::OnReadChecksum(const Report&, Replies& out) {
    if (!ChipReady(out)) return;
    out.Add(EncodeChecksum(ChipChecksum()));
}

void SimProgrammer::OnReadChip(const Report&, Replies& out) {
    if (ChipReady(out)) ReadChip(out);
}

void SimProgrammer::OnEraseStorage(const Report&, Replies& out) {
    EraseStorage();
    out.Add(EncodeReply(RPL_STORAGE_ERASED));
}

void SimProgrammer::EraseStorage() {
    std::fill(kept_.storage.begin(), kept_.storage.end(), uint8_t{0xFF});
    kept_.imageLength = 0;
    kept_.startAddress = 0;
    kept_.storedChecksum = 0;
    kept_.fileKind = 0xFF;
    kept_.config.reset();
    kept_.userCode.reset();
    transfer_ = Transfer{};
}

bool SimProgrammer::ChipReady(Replies& out) {
    if (options_.noChip) {
        out.Add(EncodeReply(RPL_NO_CHIP));
        return false;
    }
    // The chip's model can only differ from a model the programmer knows: the
    // one of a stored production configuration.
    if (options_.wrongModel && kept_.config) {
        out.Add(EncodeReply(RPL_MODEL_MISMATCH));
        return false;
    }
    return true;
}

// The range the chip steps work on: the stored image, or the whole chip when
// nothing is stored.
unsigned SimProgrammer::WorkLength() const {
    return kept_.imageLength > 0 ? kept_.imageLength : static_cast<unsigned>(kStoreSize);
}

bool SimProgrammer::RunStep(ChipStep step, Replies& out) {
    const uint8_t code = StepReplyCode(step);
    const unsigned length = WorkLength();
    std::vector<uint8_t>& flash = kept_.chip.flash;

    // The first address at which the step fails on this chip, if any.
    unsigned failAt = length;
    for (unsigned i = 0; i < length; ++i) {
        const bool bad =
            (step == ChipStep::BlankCheck && flash[i] != 0xFF) ||
            (step == ChipStep::Program && (flash[i] & kept_.storage[i]) != kept_.storage[i]) ||
            (step == ChipStep::Verify && flash[i] != kept_.storage[i]);
        if (bad) {
            failAt = i;
            break;
        }
    }
    if (options_.failStep == step) failAt = std::min(failAt, length / 2);

    auto work = [&](unsigned from, unsigned to) {
        for (unsigned i = from; i < to; ++i) {
            if (step == ChipStep::Erase) flash[i] = 0xFF;
            if (step == ChipStep::Program) flash[i] &= kept_.storage[i];
        }
    };
    unsigned pos = 0;
    while (pos < length) {
        const unsigned pageEnd = std::min(pos + kProgressPage, length);
        const unsigned stop = std::min(pageEnd, failAt);
        work(pos, stop);
        if (failAt < pageEnd) {
            out.Add(EncodeStepOutcome(code, {kStateFailed, failAt}), stop - pos);
            return false;
        }
        out.Add(EncodeStepOutcome(code, {kStateProgress, pageEnd}), pageEnd - pos);
        pos = pageEnd;
    }
    if (step == ChipStep::Erase) {
        // A chip erase clears the whole flash and the option word.
        std::fill(flash.begin(), flash.end(), uint8_t{0xFF});
        kept_.chip.optionWord = 0xFFFFFFFF;
        kept_.chip.protection = 0;
    }
    out.Add(EncodeStepOutcome(code, {kStatePassed, length}));
    return true;
}

void SimProgrammer::AutoProgram(uint32_t steps, Replies& out) {
    if (options_.noChip) {
        out.Add(EncodeReply(RPL_NO_CHIP));
        return;
    }
    InsertBlankChip();  // the operator puts a new chip in the socket for each run
    if (!ChipReady(out)) return;

    static constexpr std::pair<uint8_t, ChipStep> kOrder[] = {
        {kStepFlagBlankCheck, ChipStep::BlankCheck},
        {kStepFlagErase, ChipStep::Erase},
        {kStepFlagProgram, ChipStep::Program},
        {kStepFlagVerify, ChipStep::Verify}};
    bool passed = true;
    for (const auto& [bit, step] : kOrder) {
        if ((steps & bit) != 0 && !RunStep(step, out)) {
            passed = false;
            break;
        }
    }
    std::vector<Report> optionResults;
    if (passed && kept_.config && (kept_.config->AutoSteps() & kAutoStepOption) != 0) {
        kept_.chip.optionWord = static_cast<uint32_t>(kept_.config->OptionBits()) |
                                static_cast<uint32_t>(kept_.config->HardLockSize()) << 8 |
                                static_cast<uint32_t>(kept_.config->DataFlashSize()) << 16;
        optionResults.push_back(EncodeResult(RPL_OPTION_RESULT, kStatePassed));
        const uint8_t protection = kept_.config->OptionBits() & kProtectionBits;
        if (protection != 0) {
            kept_.chip.protection = protection;
            optionResults.push_back(EncodeResult(RPL_PROTECT_RESULT, kStatePassed));
        }
    }
    const uint32_t count = passed ? ++kept_.successCount : ++kept_.failureCount;
    const Report result = EncodeAutoResult({!passed, count});
    if (!options_.optionResultsFirst) out.Add(result);
    for (const Report& r : optionResults) out.Add(r);
    if (options_.optionResultsFirst) out.Add(result);
}

uint16_t SimProgrammer::ChipChecksum() const {
    return Sum16(kept_.chip.flash.data(), WorkLength());
}

void SimProgrammer::ReadChip(Replies& out) {
    const unsigned length = WorkLength();
    for (unsigned address = 0; address < length; address += kChipBlockSize) {
        const unsigned n = std::min(kChipBlockSize, length - address);
        out.Add(EncodeChipBlock(address, std::span(kept_.chip.flash).subspan(address, n)));
    }
}

// One block of the stored image from the requested address: up to 59 bytes,
// ending with the stored image; past its end, the blank storage.
void SimProgrammer::ReadCache(const Report& c, Replies& out) {
    const unsigned address = DecodeCacheRequest(c.data()).address;
    const unsigned limit =
        address < kept_.imageLength ? kept_.imageLength : static_cast<unsigned>(kStoreSize);
    const unsigned n = std::min(kCacheBlockMax, limit - address);
    out.Add(EncodeCacheBlock(address, std::span(kept_.storage).subspan(address, n)));
}

Report SimProgrammer::BuildStatus() {
    ++statusReplies_;
    StatusFields s;
    s.startAddress = kept_.startAddress;
    s.imageLength = std::min(kept_.imageLength, 0xFFFFu);
    s.checksum = kept_.storedChecksum;
    uint8_t steps = 0;
    if (kept_.config) {
        const uint8_t a = kept_.config->AutoSteps();
        if (a & kAutoStepBlank) steps |= kStepFlagBlankCheck;
        if (a & kAutoStepErase) steps |= kStepFlagErase;
        if (a & kAutoStepVerify) steps |= kStepFlagVerify;
    }
    s.steps = steps;
    s.secondSteps = steps;
    s.successCount = kept_.successCount;
    s.failureCount = kept_.failureCount;
    s.fileKind = kept_.fileKind;
    if (kept_.config && kept_.fileKind != 0xFF) s.model = kept_.config->Fields().deviceCode;
    s.kind = options_.badStatus || options_.corruptStatus ? 'B' : 'A';
    s.firmwareMajor = '3';
    s.firmwareMinor = options_.oldFirmware && !kept_.firmwareUpdated ? '5' : '6';
    s.integrity = StatusIntegrity(s);
    // A programmer of another kind whose every other status reply arrives
    // damaged: the checksum field no longer matches the integrity byte.
    if (options_.corruptStatus || (options_.badStatus && statusReplies_ % 2 == 1))
        s.checksum ^= 0x00FF;
    return EncodeStatus(s);
}

}  // namespace qrv::sim
