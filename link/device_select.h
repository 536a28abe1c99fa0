// Naming and choosing one of the programmers attached: by USB port path, by
// serial number, by its index in the list, or by its hidraw path (or a udev
// symlink to it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/hid_seam.h"

namespace qrv {

// One programmer attached, as `list` shows it.
struct AttachedProgrammer {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    // Its port and serial; nullopt when the seam does not know them.
    std::optional<HidIdentity> identity;
    // Why it cannot be used ("cannot be opened for writing: ..."); empty when it can.
    std::string problem;
    // "duplicate serial", "no serial": a serial that cannot name it.
    std::vector<std::string> flags;
};

// The programmers among the interfaces present, in enumeration order (the
// index of each is its place here), with their flags. Each is opened briefly
// for writing and for reading to learn whether it can be used. nullopt when
// the interface list is unavailable.
std::optional<std::vector<AttachedProgrammer>> ListProgrammers(HidSeam& seam);

// The interface path of the programmer that `name` names: a path as listed, a
// port path, a serial number, an index from the list, or a file that resolves
// (realpath) to a listed path. nullopt with *error when none does, or when the
// serial is shared by two programmers (*ambiguous then true, and *error names
// their ports).
std::optional<std::string> ResolveDevice(HidSeam& seam, const std::string& name, std::string* error,
                                         bool* ambiguous = nullptr);

// How a programmer is named in messages: its port path, or its interface path
// when the port is unknown.
std::string ProgrammerName(const AttachedProgrammer& programmer);

// One programmer of another seam: the interface list holds it alone, when it
// is present, and only it can be opened.
class OneDeviceSeam : public HidSeam {
  public:
    OneDeviceSeam(HidSeam& inner, std::string path) : inner_(inner), path_(std::move(path)) {}
    std::optional<std::vector<std::string>> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override;
    bool ListedIds(const std::string& path, uint16_t* vendorId, uint16_t* productId) override;
    std::string OpenError() const override { return inner_.OpenError(); }
    std::optional<HidIdentity> Identity(const std::string& path) override;

  private:
    HidSeam& inner_;
    std::string path_;
};

}  // namespace qrv
