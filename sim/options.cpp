#include "sim/options.h"

#include <charconv>

#include "sim/state_file.h"

namespace qrv::sim {

namespace {

// A whole decimal number of at least `minimum` that fits an int.
bool ParseNumber(const std::string& s, int minimum, int* out) {
    int value = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size() || value < minimum) return false;
    *out = value;
    return true;
}

bool ParseStep(const std::string& s, ChipStep* out) {
    if (s == "blank")
        *out = ChipStep::BlankCheck;
    else if (s == "erase")
        *out = ChipStep::Erase;
    else if (s == "program")
        *out = ChipStep::Program;
    else if (s == "verify")
        *out = ChipStep::Verify;
    else
        return false;
    return true;
}

}  // namespace

bool ParseSimOptions(const std::string& text, SimOptions* options, std::string* error) {
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t comma = text.find(',', begin);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(begin, comma - begin);
        begin = comma + 1;
        if (item.empty()) continue;

        const std::size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const bool hasValue = eq != std::string::npos;
        const std::string value = hasValue ? item.substr(eq + 1) : std::string();

        bool* flag = key == "no-chip"                ? &options->noChip
                     : key == "wrong-model"          ? &options->wrongModel
                     : key == "bad-status"           ? &options->badStatus
                     : key == "old-firmware"         ? &options->oldFirmware
                     : key == "corrupt-status"       ? &options->corruptStatus
                     : key == "option-results-first" ? &options->optionResultsFirst
                                                     : nullptr;
        if (flag) {
            if (hasValue) {
                *error = "simulator option '" + key + "' takes no value: '" + item + "'";
                return false;
            }
            *flag = true;
            continue;
        }
        if (key == "state") {
            if (value.empty()) {
                *error = "simulator option 'state' needs a file: '" + item + "'";
                return false;
            }
            // A file that is there must be a state the simulator can take.
            if (!CheckStateFile(value, error)) return false;
            options->stateFile = value;
            continue;
        }
        if (key == "fail") {
            if (!ParseStep(value, &options->failStep)) {
                *error =
                    "simulator option 'fail' needs blank, erase, program or verify: '" + item + "'";
                return false;
            }
            continue;
        }
        int* number = key == "resend-every"        ? &options->resendEvery
                      : key == "download-error-at" ? &options->downloadErrorAt
                      : key == "latency-us"        ? &options->latencyUs
                      : key == "speed"             ? &options->bytesPerSecond
                                                   : nullptr;
        if (number) {
            const int minimum = key == "latency-us" || key == "speed" ? 0 : 1;
            if (!ParseNumber(value, minimum, number)) {
                *error = "simulator option '" + key + "' needs a whole number of at least " +
                         std::to_string(minimum) + ": '" + item + "'";
                return false;
            }
            continue;
        }
        *error = "unknown simulator option '" + item + "' (see --help)";
        return false;
    }
    return true;
}

const char* SimOptionsHelp() {
    return "  --simulate[=OPTIONS]  use the built-in simulated programmer instead of USB;\n"
           "                        OPTIONS is a comma-separated list of:\n"
           "                          no-chip              no chip in the socket\n"
           "                          wrong-model          the chip is not the model of the\n"
           "                                               stored production file\n"
           "                          fail=STEP            STEP fails: blank, erase, program\n"
           "                                               or verify\n"
           "                          resend-every=N       ask for every N-th report again\n"
           "                          download-error-at=N  refuse the N-th data block of a\n"
           "                                               download\n"
           "                          bad-status           a non-'A' programmer whose every\n"
           "                                               other status reply is corrupted\n"
           "                          corrupt-status       a non-'A' programmer whose every\n"
           "                                               status reply is corrupted\n"
           "                          option-results-first\n"
           "                                               the option and protection results\n"
           "                                               come before the run's result\n"
           "                          old-firmware         report firmware 3.5 (update offered)\n"
           "                          latency-us=N         delay per reply in microseconds\n"
           "                                               (default 1000)\n"
           "                          speed=N              programming speed in bytes per\n"
           "                                               second (default 0: no extra time)\n"
           "                          state=FILE           keep the storage, the counters and\n"
           "                                               the chip in FILE between calls\n";
}

}  // namespace qrv::sim
