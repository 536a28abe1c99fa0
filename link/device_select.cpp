#include "link/device_select.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>

#include "link/programmer_link.h"

namespace qrv {

namespace {

// Flags the serials that do not name one programmer alone.
void FlagSerials(std::vector<AttachedProgrammer>* programmers) {
    std::map<std::string, int> uses;
    for (const AttachedProgrammer& p : *programmers)
        if (p.identity) ++uses[p.identity->serial];
    for (AttachedProgrammer& p : *programmers) {
        if (!p.identity) continue;
        if (p.identity->serial.empty())
            p.flags.push_back("no serial");
        else if (uses[p.identity->serial] > 1)
            p.flags.push_back("duplicate serial");
    }
}

std::optional<AttachedProgrammer> Examine(HidSeam& seam, const std::string& path) {
    AttachedProgrammer p;
    p.path = path;
    auto handle = seam.Open(path, HidAccess::Write);
    if (!handle) {
        if (!seam.ListedIds(path, &p.vendorId, &p.productId)) return std::nullopt;
        p.problem = "cannot be opened for writing: " + seam.OpenError();
    } else if (!handle->Attributes(&p.vendorId, &p.productId)) {
        return std::nullopt;
    }
    if (p.vendorId != kProgrammerVendorId || p.productId != kProgrammerProductId)
        return std::nullopt;
    if (p.problem.empty() && !seam.Open(path, HidAccess::Read))
        p.problem = "cannot be opened for reading: " + seam.OpenError();
    p.identity = seam.Identity(path);
    return p;
}

bool IsIndex(const std::string& s) {
    return !s.empty() && s.size() < 4 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<std::vector<AttachedProgrammer>> ListProgrammers(HidSeam& seam) {
    auto paths = seam.Enumerate();
    if (!paths) return std::nullopt;
    std::vector<AttachedProgrammer> programmers;
    for (const std::string& path : *paths)
        if (auto p = Examine(seam, path)) programmers.push_back(std::move(*p));
    FlagSerials(&programmers);
    return programmers;
}

std::string ProgrammerName(const AttachedProgrammer& p) {
    return p.identity && !p.identity->port.empty() ? p.identity->port : p.path;
}

std::optional<std::string> ResolveDevice(HidSeam& seam, const std::string& name, std::string* error,
                                         bool* ambiguous) {
    if (ambiguous) *ambiguous = false;
    const auto programmers = ListProgrammers(seam);
    if (!programmers) {
        *error = "the list of HID interfaces is unavailable";
        return std::nullopt;
    }
    const auto find = [&](auto&& match) -> const AttachedProgrammer* {
        for (const AttachedProgrammer& p : *programmers)
            if (match(p)) return &p;
        return nullptr;
    };
    if (auto p = find([&](const auto& q) { return q.path == name; })) return p->path;
    if (auto p = find([&](const auto& q) { return q.identity && q.identity->port == name; }))
        return p->path;
    std::vector<const AttachedProgrammer*> bySerial;
    for (const AttachedProgrammer& p : *programmers)
        if (p.identity && p.identity->serial == name) bySerial.push_back(&p);
    if (bySerial.size() > 1) {
        *error = "the serial " + name + " is shared by the programmers at " +
                 ProgrammerName(*bySerial[0]) + " and " + ProgrammerName(*bySerial[1]) +
                 ": choose one by its port";
        if (ambiguous) *ambiguous = true;
        return std::nullopt;
    }
    if (bySerial.size() == 1) return bySerial[0]->path;
    if (IsIndex(name) && std::stoul(name) < programmers->size())
        return (*programmers)[std::stoul(name)].path;
    // A udev symlink (or any other name) of a hidraw node.
    char resolved[PATH_MAX];
    if (::realpath(name.c_str(), resolved))
        if (auto p = find([&](const auto& q) { return q.path == resolved; })) return p->path;
    *error = "no programmer at " + name;
    return std::nullopt;
}

std::optional<std::vector<std::string>> OneDeviceSeam::Enumerate() {
    auto all = inner_.Enumerate();
    if (!all) return std::nullopt;
    if (std::find(all->begin(), all->end(), path_) == all->end()) return std::vector<std::string>{};
    return std::vector<std::string>{path_};
}

std::unique_ptr<HidHandle> OneDeviceSeam::Open(const std::string& path, HidAccess access) {
    return path == path_ ? inner_.Open(path, access) : nullptr;
}

bool OneDeviceSeam::ListedIds(const std::string& path, uint16_t* vendorId, uint16_t* productId) {
    return path == path_ && inner_.ListedIds(path, vendorId, productId);
}

std::optional<HidIdentity> OneDeviceSeam::Identity(const std::string& path) {
    return path == path_ ? inner_.Identity(path) : std::nullopt;
}

}  // namespace qrv
