#include "sim/options.h"

#include <algorithm>
#include <charconv>
#include <vector>

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

enum class Knob { Set, Unknown, Bad };

// The knobs besides fail=STEP and state=FILE: a flag, which takes no value,
// or a whole number of at least `minimum`.
struct KnobEntry {
    const char* name;
    bool SimOptions::*flag;
    int SimOptions::*number;
    int minimum;
};
constexpr KnobEntry kKnobs[] = {
    {"no-chip", &SimOptions::noChip, nullptr, 0},
    {"wrong-model", &SimOptions::wrongModel, nullptr, 0},
    {"bad-status", &SimOptions::badStatus, nullptr, 0},
    {"old-firmware", &SimOptions::oldFirmware, nullptr, 0},
    {"corrupt-status", &SimOptions::corruptStatus, nullptr, 0},
    {"option-results-first", &SimOptions::optionResultsFirst, nullptr, 0},
    {"resend-every", nullptr, &SimOptions::resendEvery, 1},
    {"download-error-at", nullptr, &SimOptions::downloadErrorAt, 1},
    {"latency-us", nullptr, &SimOptions::latencyUs, 0},
    {"speed", nullptr, &SimOptions::bytesPerSecond, 0},
};

// Sets one knob (not state=FILE) in *options.
Knob ApplyKnob(const std::string& item, const std::string& key, bool hasValue,
               const std::string& value, SimOptions* options, std::string* error) {
    if (key == "fail") {
        if (ParseStep(value, &options->failStep)) return Knob::Set;
        *error = "simulator option 'fail' needs blank, erase, program or verify: '" + item + "'";
        return Knob::Bad;
    }
    const auto* knob =
        std::ranges::find_if(kKnobs, [&key](const KnobEntry& k) { return key == k.name; });
    if (knob == std::ranges::end(kKnobs)) return Knob::Unknown;
    if (knob->flag) {
        if (hasValue) {
            *error = "simulator option '" + key + "' takes no value: '" + item + "'";
            return Knob::Bad;
        }
        options->*knob->flag = true;
        return Knob::Set;
    }
    if (ParseNumber(value, knob->minimum, &(options->*knob->number))) return Knob::Set;
    *error = "simulator option '" + key + "' needs a whole number of at least " +
             std::to_string(knob->minimum) + ": '" + item + "'";
    return Knob::Bad;
}

// One item of the list: "KEY" or "KEY=VALUE".
struct Item {
    std::string text, key, value;
    bool hasValue = false;
};

std::vector<Item> SplitItems(const std::string& text) {
    std::vector<Item> items;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t comma = text.find(',', begin);
        if (comma == std::string::npos) comma = text.size();
        Item i;
        i.text = text.substr(begin, comma - begin);
        begin = comma + 1;
        if (i.text.empty()) continue;
        const std::size_t eq = i.text.find('=');
        i.key = i.text.substr(0, eq);
        i.hasValue = eq != std::string::npos;
        i.value = i.hasValue ? i.text.substr(eq + 1) : std::string();
        items.push_back(i);
    }
    return items;
}

// state=FILE; with `check`, a FILE that is there must be a state the
// simulator can take (a station's options check it once count is known).
bool ParseStateOption(const Item& item, bool check, std::string* file, std::string* error) {
    if (item.value.empty()) {
        *error = "simulator option 'state' needs a file: '" + item.text + "'";
        return false;
    }
    if (check && !CheckStateFile(item.value, error)) return false;
    *file = item.value;
    return true;
}

// Takes "@K" off the end of *text: K, or 0 when there is none, -1 when K is no
// number from 1 to 16.
int TakeProgrammerNumber(std::string* text) {
    const std::size_t at = text->rfind('@');
    if (at == std::string::npos) return 0;
    int k = 0;
    if (!ParseNumber(text->substr(at + 1), 1, &k) || k > kMaxStationProgrammers) return -1;
    text->erase(at);
    return k;
}

}  // namespace

bool ParseSimOptions(const std::string& text, SimOptions* options, std::string* error) {
    for (const Item& item : SplitItems(text)) {
        if (item.key == "state") {
            if (!ParseStateOption(item, true, &options->stateFile, error)) return false;
            continue;
        }
        const Knob k = ApplyKnob(item.text, item.key, item.hasValue, item.value, options, error);
        if (k == Knob::Bad) return false;
        if (k == Knob::Unknown) {
            *error = "unknown simulator option '" + item.text + "' (see --help)";
            return false;
        }
    }
    return true;
}

namespace {

// count=N, control=PATH, serial@K=TEXT, port@K=PATH: true when the item is one
// of them (*error set when it is bad), with *k the K it names.
bool ParseStationItem(const Item& item, StationOptions* station, int* k, bool* bad,
                      std::string* error) {
    *bad = false;
    if (item.key == "count") {
        if (ParseNumber(item.value, 1, &station->count) && station->count <= kMaxStationProgrammers)
            return true;
        *error = "simulator option 'count' needs a number from 1 to " +
                 std::to_string(kMaxStationProgrammers) + ": '" + item.text + "'";
        *bad = true;
        return true;
    }
    if (item.key == "control") {
        station->control = item.value;
        if (!item.value.empty()) return true;
        *error = "simulator option 'control' needs a FIFO: '" + item.text + "'";
        *bad = true;
        return true;
    }
    std::string key = item.key;
    *k = TakeProgrammerNumber(&key);
    if (key != "serial" && key != "port") return false;
    if (*k <= 0 || !item.hasValue || (key == "port" && item.value.empty())) {
        *error = "simulator option '" + key + "' needs @K (1 to " +
                 std::to_string(kMaxStationProgrammers) + ") and a value: '" + item.text + "'";
        *bad = true;
        return true;
    }
    if (key == "serial")
        station->serials[std::size_t(*k - 1)] = item.value;
    else
        station->ports[std::size_t(*k - 1)] = item.value;
    return true;
}

// A knob, with or without @K at the end of its key or its value.
bool ParseStationKnob(const Item& item, StationOptions* station, SimOptions* common, int* k,
                      std::string* error) {
    std::string key = item.key, value = item.value;
    *k = TakeProgrammerNumber(item.hasValue ? &value : &key);
    if (*k < 0) {
        *error = "simulator option '" + item.text + "' needs @K with K from 1 to " +
                 std::to_string(kMaxStationProgrammers);
        return false;
    }
    const bool hasValue = item.hasValue;
    Knob result = Knob::Set;
    if (*k > 0) {
        result = ApplyKnob(item.text, key, hasValue, value, &station->programmers[*k - 1], error);
    } else {
        for (SimOptions& o : station->programmers)
            if (result == Knob::Set) result = ApplyKnob(item.text, key, hasValue, value, &o, error);
        if (result == Knob::Set) result = ApplyKnob(item.text, key, hasValue, value, common, error);
    }
    if (result == Knob::Unknown)
        *error = "unknown simulator option '" + item.text + "' (see --help)";
    return result == Knob::Set;
}

}  // namespace

bool ParseStationOptions(const std::string& text, StationOptions* station, SimOptions* common,
                         std::string* error) {
    int highest = 0;  // the highest K named
    std::string needsCount;
    for (const Item& item : SplitItems(text)) {
        int k = 0;
        bool bad = false;
        if (item.key == "state") {
            if (!ParseStateOption(item, false, &station->stateFile, error)) return false;
            common->stateFile = station->stateFile;
        } else if (ParseStationItem(item, station, &k, &bad, error)) {
            if (bad) return false;
            if (item.key == "control" && needsCount.empty()) needsCount = item.text;
        } else if (!ParseStationKnob(item, station, common, &k, error)) {
            return false;
        }
        if (k > 0 && needsCount.empty()) needsCount = item.text;
        highest = std::max(highest, k);
    }
    // A station takes a file of one programmer or of a station; the lone
    // programmer only the former.
    if (!station->stateFile.empty() &&
        !CheckStateFile(station->stateFile, error, station->count > 0))
        return false;
    if (station->count == 0 && !needsCount.empty()) {
        *error = "simulator option '" + needsCount + "' needs count=N";
        return false;
    }
    if (highest > station->count && station->count > 0) {
        *error = "simulator option @" + std::to_string(highest) +
                 " names a programmer beyond count=" + std::to_string(station->count);
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
           "                                               the chip in FILE between calls\n"
           "                          count=N              a station of N programmers (1 to 16)\n"
           "                                               at ports 1-1.K with serials SIM000K\n"
           "                          KNOB@K               a knob for programmer K alone, for\n"
           "                                               example fail=verify@3 or no-chip@5\n"
           "                          serial@K=TEXT        programmer K's serial (may be empty)\n"
           "                          port@K=PATH          programmer K's port path\n"
           "                          control=FIFO         take 'unplug K' and 'plug K [PORT]'\n"
           "                                               lines from FIFO\n";
}

}  // namespace qrv::sim
