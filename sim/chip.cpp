// The chip in the socket and the programmer's storage: the steps (blank
// check, erase, program, verify) with their progress replies, the automatic
// run with its option and protection results and counters, the chip and
// storage read-back, and the status reply.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "protocol/protocol.h"
#include "sim/programmer.h"
#include "sim/replies.h"

namespace qrv::sim {

namespace {

constexpr uint8_t kProtectionBits = 0x07;  // read protection, debug protection, hard lock

}  // namespace

void SimProgrammer::OnStatus(const Report&, Replies& out) {
    out.Add(StatusReply());
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
    AutoProgram(Argument(c), out);
}

void SimProgrammer::OnReadChecksum(const Report&, Replies& out) {
    if (!ChipReady(out)) return;
    Report r = NewReply(RPL_CHECKSUM);
    Put16(r, 7, ChipChecksum());
    out.Add(r);
}

void SimProgrammer::OnReadChip(const Report&, Replies& out) {
    if (ChipReady(out)) ReadChip(out);
}

void SimProgrammer::OnEraseStorage(const Report&, Replies& out) {
    EraseStorage();
    out.Add(NewReply(RPL_STORAGE_ERASED));
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
        out.Add(NewReply(RPL_NO_CHIP));
        return false;
    }
    // The chip's model can only differ from a model the programmer knows: the
    // one of a stored production configuration.
    if (options_.wrongModel && kept_.config) {
        out.Add(NewReply(RPL_MODEL_MISMATCH));
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
            out.Add(Outcome(code, 2, failAt), stop - pos);
            return false;
        }
        out.Add(Outcome(code, 0, pageEnd), pageEnd - pos);
        pos = pageEnd;
    }
    if (step == ChipStep::Erase) {
        // A chip erase clears the whole flash and the option word.
        std::fill(flash.begin(), flash.end(), uint8_t{0xFF});
        kept_.chip.optionWord = 0xFFFFFFFF;
        kept_.chip.protection = 0;
    }
    out.Add(Outcome(code, 1, length));
    return true;
}

void SimProgrammer::AutoProgram(uint32_t steps, Replies& out) {
    if (options_.noChip) {
        out.Add(NewReply(RPL_NO_CHIP));
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
        Report option = NewReply(RPL_OPTION_RESULT);
        option[6] = 1;
        optionResults.push_back(option);
        const uint8_t protection = kept_.config->OptionBits() & kProtectionBits;
        if (protection != 0) {
            kept_.chip.protection = protection;
            Report protect = NewReply(RPL_PROTECT_RESULT);
            protect[6] = 1;
            optionResults.push_back(protect);
        }
    }
    const uint32_t count = passed ? ++kept_.successCount : ++kept_.failureCount;
    Report result = NewReply(RPL_AUTO_RESULT);
    result[6] = passed ? 0 : 1;
    // The counter's bytes in the order the host reads them: 10, 9, 7, 8.
    result[10] = static_cast<uint8_t>(count >> 24);
    result[9] = static_cast<uint8_t>(count >> 16);
    result[7] = static_cast<uint8_t>(count >> 8);
    result[8] = static_cast<uint8_t>(count);
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
        Report r = NewReply(RPL_CHIP_BLOCK);
        r[2] = static_cast<uint8_t>(n);
        Put16(r, 4, address);
        r[6] = 0;  // record type of the line the host builds
        std::copy_n(kept_.chip.flash.begin() + address, n, r.begin() + 7);
        out.Add(r);
    }
}

// One block of the stored image from the requested address: up to 59 bytes,
// ending with the stored image; past its end, the blank storage.
void SimProgrammer::ReadCache(const Report& c, Replies& out) {
    const unsigned address = Get16(c, 4);
    const unsigned limit =
        address < kept_.imageLength ? kept_.imageLength : static_cast<unsigned>(kStoreSize);
    const unsigned n = std::min(kCacheBlockMax, limit - address);
    Report r = NewReply(RPL_CACHE_BLOCK);
    r[2] = static_cast<uint8_t>(n);
    Put16(r, 4, address);
    std::copy_n(kept_.storage.begin() + address, n, r.begin() + 6);
    out.Add(r);
}

Report SimProgrammer::StatusReply() {
    ++statusReplies_;
    Report r = NewReply(RPL_STATUS);
    Put16(r, 5, kept_.startAddress);
    Put16(r, 7, std::min(kept_.imageLength, 0xFFFFu));
    Put16(r, 9, kept_.storedChecksum);
    uint8_t steps = 0;
    if (kept_.config) {
        const uint8_t a = kept_.config->AutoSteps();
        if (a & kAutoStepBlank) steps |= kStepFlagBlankCheck;
        if (a & kAutoStepErase) steps |= kStepFlagErase;
        if (a & kAutoStepVerify) steps |= kStepFlagVerify;
    }
    r[12] = steps;
    r[62] = steps;
    Put32(r, 18, kept_.successCount);
    Put32(r, 22, kept_.failureCount);
    r[26] = kept_.fileKind;
    if (kept_.config && kept_.fileKind != 0xFF) {
        const std::string model = kept_.config->DeviceCode();
        std::copy(model.begin(), model.end(), r.begin() + 50);
    }
    r[61] = options_.badStatus || options_.corruptStatus ? 'B' : 'A';
    r[63] = '3';
    r[64] = options_.oldFirmware && !kept_.firmwareUpdated ? '5' : '6';
    uint8_t x = 0;
    for (std::size_t k = 3; k <= 64; ++k) x ^= r[k];
    r[2] = x;
    // A programmer of another kind whose every other status reply arrives
    // damaged: the checksum field no longer matches the integrity byte.
    if (options_.corruptStatus || (options_.badStatus && statusReplies_ % 2 == 1)) r[10] ^= 0xFF;
    return r;
}

}  // namespace qrv::sim
