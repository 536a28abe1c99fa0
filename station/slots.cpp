#include "station/slots.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <nlohmann/json.hpp>

#include "common/atomic_file.h"

namespace qrv {

const SlotBinding* Station::Find(int slot) const {
    for (const SlotBinding& b : slots)
        if (b.slot == slot) return &b;
    return nullptr;
}

namespace {

std::optional<int> SlotNumber(const std::string& text) {
    if (text.empty() || text.size() > 2 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    const int n = std::stoi(text);
    if (n < 1 || n > kMaxSlots) return std::nullopt;
    return n;
}

bool ParseBinding(const std::string& key, const nlohmann::json& value, SlotBinding* b,
                  std::string* error) {
    const std::string where = "slot " + key + ": ";
    if (!value.is_object()) {
        *error = where + "needs an object with \"port\" or \"serial\"";
        return false;
    }
    for (const auto& [field, v] : value.items()) {
        if (field != "port" && field != "serial" && field != "name") {
            *error = where + "unknown field \"" + field + "\"";
            return false;
        }
        if (!v.is_string()) {
            *error = where + "\"" + field + "\" must be a string";
            return false;
        }
    }
    b->port = value.value("port", "");
    b->serial = value.value("serial", "");
    b->name = value.value("name", "");
    if (b->port.empty() == b->serial.empty()) {
        *error = where + "needs exactly one of \"port\" and \"serial\"";
        return false;
    }
    return true;
}

}  // namespace

std::optional<Station> ParseStation(const std::string& text, std::string* error) {
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        *error = "the station file is not a JSON object of slot numbers";
        return std::nullopt;
    }
    Station station;
    std::map<std::string, int> ports, serials;
    for (const auto& [key, value] : doc.items()) {
        const std::optional<int> slot = SlotNumber(key);
        if (!slot) {
            *error = "\"" + key + "\" is not a slot number (1 to 16)";
            return std::nullopt;
        }
        SlotBinding b;
        b.slot = *slot;
        if (!ParseBinding(key, value, &b, error)) return std::nullopt;
        if (station.Find(b.slot)) {
            *error = "slot " + key + " is given twice";
            return std::nullopt;
        }
        // Two slots on one socket would drive one programmer twice.
        std::map<std::string, int>& seen = b.port.empty() ? serials : ports;
        const std::string& id = b.port.empty() ? b.serial : b.port;
        if (const auto it = seen.find(id); it != seen.end()) {
            *error =
                "slots " + std::to_string(it->second) + " and " + key + " are both bound to " + id;
            return std::nullopt;
        }
        seen[id] = b.slot;
        station.slots.push_back(std::move(b));
    }
    if (station.slots.empty()) {
        *error = "the station file binds no slot";
        return std::nullopt;
    }
    std::sort(station.slots.begin(), station.slots.end(),
              [](const SlotBinding& a, const SlotBinding& b) { return a.slot < b.slot; });
    return station;
}

std::optional<Station> ReadStationFile(const std::string& path, std::string* error) {
    std::string text;
    if (!ReadWholeFile(path, &text, error)) return std::nullopt;
    std::string why;
    auto station = ParseStation(text, &why);
    if (!station) *error = path + ": " + why;
    return station;
}

bool PortBefore(const std::string& a, const std::string& b) {
    // Compare runs of digits by their value, everything else by character.
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            const auto strip = [](const std::string& s) {
                const std::size_t k = s.find_first_not_of('0');
                return k == std::string::npos ? std::string() : s.substr(k);
            };
            const std::string sa = strip(na), sb = strip(nb);
            if (sa.size() != sb.size()) return sa.size() < sb.size();
            if (sa != sb) return sa < sb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

Station StationFromPresent(const std::vector<AttachedProgrammer>& present) {
    std::vector<const AttachedProgrammer*> order;
    order.reserve(present.size());
    for (const AttachedProgrammer& p : present) order.push_back(&p);
    std::stable_sort(order.begin(), order.end(), [](const auto* a, const auto* b) {
        return PortBefore(ProgrammerName(*a), ProgrammerName(*b));
    });
    Station station;
    for (const AttachedProgrammer* p : order) {
        if (static_cast<int>(station.slots.size()) == kMaxSlots) break;
        SlotBinding b;
        b.slot = static_cast<int>(station.slots.size()) + 1;
        if (p->identity && !p->identity->port.empty())
            b.port = p->identity->port;
        else if (p->identity && !p->identity->serial.empty())
            b.serial = p->identity->serial;
        else
            b.port = p->path;  // no identity at all: the path is all there is
        station.slots.push_back(std::move(b));
    }
    return station;
}

namespace {

bool Bound(const SlotBinding& b, const AttachedProgrammer& p) {
    if (!b.port.empty())
        return (p.identity && p.identity->port == b.port) || (!p.identity && p.path == b.port);
    return p.identity && p.identity->serial == b.serial;
}

}  // namespace

SlotMap AssignSlots(const Station& station, const std::vector<AttachedProgrammer>& present) {
    SlotMap map;
    std::vector<bool> taken(present.size(), false);
    for (const SlotBinding& b : station.slots) {
        SlotState state;
        state.binding = b;
        std::vector<std::size_t> matches;
        for (std::size_t i = 0; i < present.size(); ++i)
            if (Bound(b, present[i])) matches.push_back(i);
        for (std::size_t i : matches) taken[i] = true;
        if (matches.size() == 1)
            state.programmer = present[matches.front()];
        else if (matches.size() > 1)
            state.problem = "the serial " + b.serial + " is shared by the programmers at " +
                            ProgrammerName(present[matches[0]]) + " and " +
                            ProgrammerName(present[matches[1]]);
        map.slots.push_back(std::move(state));
    }
    for (std::size_t i = 0; i < present.size(); ++i)
        if (!taken[i]) map.unassigned.push_back(present[i]);
    return map;
}

std::optional<std::vector<int>> ParseSlotList(const std::string& text, const Station& station,
                                              std::string* error) {
    std::vector<int> slots;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        const std::optional<int> first = SlotNumber(item.substr(0, dash));
        const std::optional<int> last =
            dash == std::string::npos ? first : SlotNumber(item.substr(dash + 1));
        if (!first || !last || *last < *first) {
            *error = "--slots takes slot numbers and ranges such as 1,3-5, not '" + text + "'";
            return std::nullopt;
        }
        for (int s = *first; s <= *last; ++s) {
            if (!station.Find(s)) {
                *error = "the station has no slot " + std::to_string(s);
                return std::nullopt;
            }
            if (std::find(slots.begin(), slots.end(), s) == slots.end()) slots.push_back(s);
        }
        start = comma + 1;
    }
    std::sort(slots.begin(), slots.end());
    return slots;
}

bool SlotSeam::Matches(const std::string& path) {
    const std::optional<HidIdentity> id = inner_.Identity(path);
    if (!binding_.port.empty()) return id ? id->port == binding_.port : path == binding_.port;
    return id && id->serial == binding_.serial;
}

std::optional<std::vector<std::string>> SlotSeam::Enumerate() {
    auto all = inner_.Enumerate();
    if (!all) return std::nullopt;
    std::vector<std::string> mine;
    for (const std::string& path : *all)
        if (Matches(path)) mine.push_back(path);
    // A serial two programmers share names neither.
    if (mine.size() > 1) mine.clear();
    return mine;
}

std::unique_ptr<HidHandle> SlotSeam::Open(const std::string& path, HidAccess access) {
    return Matches(path) ? inner_.Open(path, access) : nullptr;
}

bool SlotSeam::ListedIds(const std::string& path, uint16_t* vendorId, uint16_t* productId) {
    return Matches(path) && inner_.ListedIds(path, vendorId, productId);
}

std::optional<HidIdentity> SlotSeam::Identity(const std::string& path) {
    return Matches(path) ? inner_.Identity(path) : std::nullopt;
}

}  // namespace qrv
