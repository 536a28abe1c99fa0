#include "sim/station_seam.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace qrv::sim {

namespace {

// The numbers of a port path ("1-1.10" -> 1, 1, 10), so that 1-1.10 comes
// after 1-1.9 as on a hub.
std::vector<long> PortNumbers(const std::string& port) {
    std::vector<long> numbers;
    long n = -1;
    for (char c : port) {
        if (c >= '0' && c <= '9') {
            n = (n < 0 ? 0 : n * 10) + (c - '0');
        } else if (n >= 0) {
            numbers.push_back(n);
            n = -1;
        }
    }
    if (n >= 0) numbers.push_back(n);
    return numbers;
}

}  // namespace

std::string DefaultPort(int k) {
    return "1-1." + std::to_string(k);
}

std::string DefaultSerial(int k) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%04d", k);
    return serial;
}

std::string StationPath(int k, int count) {
    return count == 1 ? std::string(kSimPath) : std::string(kSimPath) + "-" + std::to_string(k);
}

SimStationSeam::SimStationSeam(const StationOptions& options, std::string* error) {
    const int count = std::clamp(options.count, 1, kMaxStationProgrammers);
    for (int k = 1; k <= count; ++k) {
        const std::size_t i = std::size_t(k - 1);
        SimOptions o = options.programmers[i];
        o.stateFile = options.stateFile;
        SimPlace place;
        place.path = StationPath(k, count);
        place.identity = HidIdentity{};
        place.identity->serial = options.serials[i].value_or(DefaultSerial(k));
        place.stateSection = k;
        programmers_.push_back(std::make_unique<SimSeam>(o, true, place));
        programmers_.back()->SetPort(options.ports[i].empty() ? DefaultPort(k) : options.ports[i]);
    }
    if (options.control.empty()) return;
    std::string why;
    control_ = ControlFifo::Open(
        options.control,
        [this](const std::string& line) {
            std::string bad;
            if (!Control(line, &bad)) std::fprintf(stderr, "simulator control: %s\n", bad.c_str());
        },
        &why);
    if (!control_ && error) *error = why;
}

SimStationSeam::~SimStationSeam() {
    control_.reset();
}

std::optional<std::vector<std::string>> SimStationSeam::Enumerate() {
    std::vector<std::pair<std::vector<long>, std::string>> present;
    for (const auto& p : programmers_)
        if (auto identity = p->Identity(p->Path()))
            present.emplace_back(PortNumbers(identity->port), p->Path());
    std::stable_sort(present.begin(), present.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> paths;
    paths.reserve(present.size());
    for (const auto& [port, path] : present) paths.push_back(path);
    return paths;
}

SimSeam* SimStationSeam::Find(const std::string& path) {
    for (const auto& p : programmers_)
        if (p->Path() == path) return p.get();
    return nullptr;
}

std::unique_ptr<HidHandle> SimStationSeam::Open(const std::string& path, HidAccess access) {
    SimSeam* p = Find(path);
    return p ? p->Open(path, access) : nullptr;
}

std::optional<HidIdentity> SimStationSeam::Identity(const std::string& path) {
    SimSeam* p = Find(path);
    return p ? p->Identity(path) : std::nullopt;
}

void SimStationSeam::SetChangeListener(const SimSeam::ChangeListener& listener) {
    for (const auto& p : programmers_) p->SetChangeListener(listener);
}

void SimStationSeam::Unplug(int k) {
    Programmer(k).Unplug();
}

void SimStationSeam::Plug(int k, const std::string& port) {
    SimSeam& p = Programmer(k);
    if (!port.empty()) {
        p.Unplug();
        p.SetPort(port);
    }
    p.Plug();
}

bool SimStationSeam::Control(const std::string& line, std::string* error) {
    std::istringstream words(line);
    std::string verb, port, extra;
    int k = 0;
    words >> verb >> k;
    const bool numbered = !words.fail() && k >= 1 && k <= Count();
    words >> port >> extra;
    if (numbered && verb == "unplug" && port.empty()) {
        Unplug(k);
        return true;
    }
    if (numbered && verb == "plug" && extra.empty()) {
        Plug(k, port);
        return true;
    }
    *error = "'" + line + "': not 'unplug K' or 'plug K [PORT]' with K from 1 to " +
             std::to_string(Count());
    return false;
}

}  // namespace qrv::sim
