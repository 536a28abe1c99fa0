// `list [--status]`: the programmers attached, with their ports and serials,
// and whether each can be used; with --status also what each one stores.
#include <CLI/CLI.hpp>
#include <memory>

#include "cli/cli.h"
#include "link/device_lock.h"
#include "link/device_select.h"

namespace qrv::cli {

namespace {

// "0 1-1.2 SIM0002 /dev/hidraw4 0483:5750 [duplicate serial] PROBLEM": the
// port and serial only when the seam knows them.
std::string ListLine(int index, const AttachedProgrammer& p, const char* id) {
    std::string line = std::to_string(index);
    if (p.identity)
        line += " " + (p.identity->port.empty() ? "-" : p.identity->port) + " " +
                (p.identity->serial.empty() ? "-" : p.identity->serial);
    line += " " + p.path + " " + id;
    for (const std::string& flag : p.flags) line += " [" + flag + "]";
    if (!p.problem.empty()) line += " " + p.problem;
    return line + "\n";
}

nlohmann::ordered_json OrNull(const std::optional<HidIdentity>& identity,
                              std::string HidIdentity::*field) {
    if (!identity) return nullptr;
    return (*identity).*field;
}

// Connects the programmer alone, briefly, and adds what it stores to fields
// and text. A programmer another process holds is skipped, and says so.
void AddStatus(Context& c, const AttachedProgrammer& p, nlohmann::ordered_json* fields,
               std::string* text) {
    const std::size_t inUse = p.problem.find(kInUseBy);
    if (inUse != std::string::npos) {
        (*fields)["skipped"] = p.problem.substr(inUse);
        *text += "  status skipped: " + p.problem.substr(inUse) + "\n";
        return;
    }
    if (!p.problem.empty()) return;
    Options options = c.options;
    options.device = p.path;
    options.log.reset();
    OneDeviceSeam one(c.Seam(), p.path);
    Context connection(options, one, c.out, c.err);
    connection.BeginCommand(c.command);
    if (connection.Connect() != kExitOk) {
        (*fields)["skipped"] = "no status: " + connection.FailureText();
        *text += "  status skipped: " + connection.FailureText() + "\n";
        return;
    }
    const MainSession& s = connection.Session();
    (*fields)["firmware"] = connection.Firmware();
    (*fields)["model"] = s.form.Edit2.text;
    (*fields)["checksum"] = HexWordJson(static_cast<unsigned>(s.ImageChecksum));
    const std::string firmware =
        connection.Firmware().is_string() ? connection.Firmware().get<std::string>() : "-";
    *text += "  firmware: " + firmware + ", model: " + s.form.Edit2.text +
             ", checksum: " + s.form.Edit3.text + "\n";
}

int RunList(Context& c, bool status) {
    const auto programmers = ListProgrammers(c.Seam());
    if (!programmers) {
        c.Error("the list of HID interfaces is unavailable");
        return kExitNoProgrammer;
    }
    // Every programmer, with the reason when it cannot be used: a node the
    // user may not open is the usual trouble on a new machine.
    int index = 0;
    int usable = 0;
    bool noAccess = false;
    for (const AttachedProgrammer& p : *programmers) {
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", p.vendorId, p.productId);
        nlohmann::ordered_json fields = {{"index", index}, {"path", p.path}, {"id", id}};
        if (!p.problem.empty()) fields["problem"] = p.problem;
        fields["port"] = OrNull(p.identity, &HidIdentity::port);
        fields["id_path"] = OrNull(p.identity, &HidIdentity::idPath);
        fields["serial"] = OrNull(p.identity, &HidIdentity::serial);
        fields["flags"] = p.flags;
        std::string text = ListLine(index, p, id);
        if (status) AddStatus(c, p, &fields, &text);
        c.Emit(fields, text);
        ++index;
        if (p.problem.empty()) ++usable;
        if (!p.problem.empty() && p.problem.find(kInUseBy) == std::string::npos) noAccess = true;
    }
    if (index == 0) c.Error("no programmer attached");
    if (noAccess)
        c.Error(
            "install the udev rule packaging/60-qrv-writer.rules as the README says, then plug "
            "the programmer in again");
    return usable > 0 ? kExitOk : kExitNoProgrammer;
}

}  // namespace

int List(Context& c, const std::string&) {
    return RunList(c, false);
}

std::function<Bind(CLI::App&)> ListOptions() {
    return [](CLI::App& command) -> Bind {
        auto status = std::make_shared<bool>(false);
        command.add_flag("--status", *status,
                         "also connect each programmer briefly and show its firmware and its "
                         "stored model and checksum (not one another process holds)");
        return [status](const std::string&) -> Run {
            const bool withStatus = *status;
            *status = false;
            return [withStatus](Context& c) { return RunList(c, withStatus); };
        };
    };
}

}  // namespace qrv::cli
