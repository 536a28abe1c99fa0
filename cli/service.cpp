// The service commands of qrv-writer-cli: the main window's service controls
// (read-back, working mode, user option, EEPROM, firmware replacement) run
// through the session.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <memory>

#include "cli/cli.h"
#include "common/atomic_file.h"
#include "sim/programmer.h"

namespace qrv::cli {

namespace {

// The programmer sends the chip's blocks on its own: a second without one
// ends the read-back.
constexpr std::chrono::milliseconds kReadBackQuiet{1000};

std::string Upper(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

// Reads the chip (Button9) or the stored image (Button10) back and writes the
// blocks to `file`: as standard Intel HEX records with an end-of-file record,
// or (raw) as the lines of Memo2, exactly as "save" writes them.
int RunReadBack(Context& c, ReadBack source, const std::string& file, bool raw) {
    MainSession& s = c.Session();
    const bool chip = source == ReadBack::Chip;
    const char* name = chip ? "read-chip" : "read-cache";
    // Both read-backs are complete at the length of the image the programmer
    // holds, as its status gave it.
    const auto expected = static_cast<unsigned>(c.LastStatus().storedLength);
    std::vector<std::string> records;
    unsigned bytes = 0;
    if (chip)
        s.Button9Click();
    else
        s.Button10Click();
    const auto onEvent = [&](const SessionEvent& e) -> std::optional<int> {
        if (const auto* block = std::get_if<event::ReadBackBlock>(&e)) {
            const auto count = static_cast<unsigned>(block->bytes.size());
            records.push_back(IntelHexDataRecord(block->address, block->bytes.data(), count));
            bytes += count;
            c.ShowProgress(name, block->percent);
            return std::nullopt;
        }
        if (std::holds_alternative<event::ReadBackEnded>(e)) return kExitOk;
        return std::nullopt;
    };
    const int rc = c.Await(onEvent, kReadBackQuiet, [&] {
        // A read-back still waiting for its next block ends incomplete, as
        // the window's timer ends it.
        s.ReadBackTimedOut();
        return kExitOk;
    });
    if (rc != kExitOk && records.empty()) return rc;

    std::string error;
    bool written;
    if (raw) {
        written = s.SaveMemo2(file, &error, c.options.force);
    } else {
        records.emplace_back(kIntelHexEndOfFile);
        written = WriteFileAtomically(file, JoinCrLf(records), &error, c.options.force);
    }
    if (!written) {
        if (!c.options.force && IsReadOnlyFile(file)) error += " (--force replaces it)";
        c.Error(std::string(name) + ": " + error);
        return kExitUsage;
    }
    c.Emit({{"bytes", bytes}, {"expected", expected}, {"file", file}},
           std::string(name) + ": " + std::to_string(bytes) + " bytes to " + file + "\n");
    if (rc != kExitOk) return rc;
    if (bytes < expected) {
        c.Error(std::string(name) + ": read " + std::to_string(bytes) + " of " +
                std::to_string(expected) + " bytes");
        return kExitFailure;
    }
    return kExitOk;
}

int RunMode(Context& c, int index) {
    c.Session().ComboBox1Click(index);
    char text[80];
    std::snprintf(text, sizeof text, "mode: sent CMD_WRITER_MODE 0x%04X (%s)\n",
                  WorkingModeValue(index), kWorkingModes[index].item);
    c.Emit({{"mode", kWorkingModes[index].item}, {"argument", WorkingModeValue(index)}}, text);
    return kExitOk;
}

int RunEeprom(Context& c, bool write, int address, int type) {
    MainSession& s = c.Session();
    s.ComboBox3Click(address);
    s.ComboBox4Click(type);
    if (write)
        s.Button15Click();
    else
        s.Button14Click();
    // The programmer answers these requests with no reply of its own.
    const unsigned argument = s.EepromType * 256u + s.buffer.EepromAddress();
    char text[96];
    std::snprintf(text, sizeof text, "%s: sent %s 0x%04X (device 0x%02X, %s)\n",
                  write ? "eeprom-write" : "eeprom-read",
                  write ? "CMD_EEPROM_WRITE" : "CMD_EEPROM_READ", argument,
                  s.buffer.EepromAddress(), kEepromTypeItems[type]);
    c.Emit({{"argument", argument},
            {"device", s.buffer.EepromAddress()},
            {"type", kEepromTypeItems[type]}},
           text);
    return kExitOk;
}

// Waits for the status the session reads after a firmware replacement and
// returns the firmware version it tells.
int ReadFirmwareVersion(Context& c, std::string* version) {
    return c.Await([&](const SessionEvent& e) -> std::optional<int> {
        const auto* status = std::get_if<event::Status>(&e);
        if (!status || status->retried) return std::nullopt;
        *version = status->firmware.value_or("");
        return kExitOk;
    });
}

int RunUpdateFirmware(Context& c, const std::string& fileArgument) {
    MainSession& s = c.Session();
    // FILE, else --firmware, else the simulator's own test image, else the
    // default location. A real programmer never gets the test image.
    std::string source;
    if (!fileArgument.empty() || c.options.firmware || !c.options.simulate) {
        source = !fileArgument.empty() ? fileArgument
                 : c.options.firmware  ? *c.options.firmware
                                       : DefaultFirmwarePath();
        s.SetFirmwareFile(source);
    } else {
        source = "the simulator's test image";
        s.SetFirmwareImage(sim::TestFirmwareImage());
    }
    switch (s.Button16Click()) {
        case UpdateResult::Requested:
            break;
        case UpdateResult::NotConnected:
            return kExitNoProgrammer;
        case UpdateResult::NoImage:
            return kExitUsage;  // the session has said why
    }
    const int rc = c.Await([&](const SessionEvent& e) -> std::optional<int> {
        if (const auto* progress = std::get_if<event::DownloadProgress>(&e)) {
            c.ShowProgress("update", progress->percent);
            return std::nullopt;
        }
        const auto* ended = std::get_if<event::DownloadEnded>(&e);
        if (!ended) return std::nullopt;
        if (ended->stored) return kExitOk;
        if (ended->reason == kDownloadFailed) c.Error(ended->reason);
        return ended->reason == kDownloadInterrupted ? kExitNoProgrammer : kExitFailure;
    });
    if (rc != kExitOk) return rc;
    c.Emit({{"bytes", s.FirmwareImage.size()}, {"source", source}},
           "update-firmware: " + std::to_string(s.FirmwareImage.size()) + " bytes from " + source +
               "\n");
    std::string version;
    if (const int status = ReadFirmwareVersion(c, &version); status != kExitOk) return status;
    c.Emit({{"firmware", version}}, "firmware: " + version + "\n");
    const std::string expected =
        FirmwareVersionText(kExpectedFirmwareMajor, kExpectedFirmwareMinor);
    if (version != expected) {
        c.Error("the programmer reports firmware " + version + ", not " + expected);
        return kExitFailure;
    }
    return kExitOk;
}

// The index of `text` among items (letter case aside), or -1.
template <std::size_t N>
int ItemIndex(const std::string& text, const char* const (&items)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (Upper(text) == Upper(items[i])) return static_cast<int>(i);
    return -1;
}

}  // namespace

int UserOption(Context& c, const std::string&) {
    c.Session().Button11Click();
    c.Emit({{"sent", "CMD_USER_OPTION"}}, "user-option: sent CMD_USER_OPTION\n");
    return kExitOk;
}

std::function<Bind(CLI::App&)> ReadBackOptions(ReadBack source) {
    return [source](CLI::App& command) -> Bind {
        auto raw = std::make_shared<bool>(false);
        command.add_flag("--raw", *raw,
                         "write the lines as the window's \"save\" does (plain sums, no "
                         "end-of-file record)");
        return [source, raw](const std::string& file) -> Run {
            const bool asRaw = *raw;
            *raw = false;
            return
                [source, file, asRaw](Context& c) { return RunReadBack(c, source, file, asRaw); };
        };
    };
}

std::function<Bind(CLI::App&)> ModeOptions() {
    return [](CLI::App&) -> Bind {
        return [](const std::string& name) -> Run {
            const auto mode =
                std::find_if(std::begin(kWorkingModes), std::end(kWorkingModes),
                             [&name](const WorkingMode& m) { return name == m.item; });
            if (mode == std::end(kWorkingModes)) {
                std::string names;
                for (const WorkingMode& m : kWorkingModes) names += std::string(" ") + m.item;
                throw CLI::ValidationError("'mode' needs one of" + names + ", not '" + name + "'");
            }
            const int index = static_cast<int>(mode - std::begin(kWorkingModes));
            return [index](Context& c) { return RunMode(c, index); };
        };
    };
}

std::function<Bind(CLI::App&)> EepromOptions(bool write) {
    return [write](CLI::App& command) -> Bind {
        auto address = std::make_shared<std::string>();
        auto type = std::make_shared<std::string>();
        command.add_option("ADDR", *address, "device address, 0xA0..0xA7")->type_name("");
        command.add_option("TYPE", *type, "EEPROM type, 24C02 or 24C04")->type_name("");
        const char* name = write ? "eeprom-write" : "eeprom-read";
        return [write, address, type, name](const std::string&) -> Run {
            const int a = ItemIndex(*address, kEepromAddressItems);
            const int t = ItemIndex(*type, kEepromTypeItems);
            address->clear();
            type->clear();
            if (a < 0 || t < 0)
                throw CLI::ValidationError(std::string("'") + name +
                                           "' needs ADDR 0xA0..0xA7 and TYPE 24C02 or 24C04, "
                                           "for example 0xA3 24C04");
            return [write, a, t](Context& c) { return RunEeprom(c, write, a, t); };
        };
    };
}

std::function<Bind(CLI::App&)> UpdateFirmwareOptions() {
    return [](CLI::App& command) -> Bind {
        auto file = std::make_shared<std::string>();
        command.add_option("FILE", *file, "the firmware file (wins over --firmware)")
            ->type_name("");
        return [file](const std::string&) -> Run {
            const std::string given = *file;
            file->clear();
            return [given](Context& c) { return RunUpdateFirmware(c, given); };
        };
    };
}

}  // namespace qrv::cli
