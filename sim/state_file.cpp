#include "sim/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

#include "common/atomic_file.h"
#include "common/hex.h"

namespace qrv::sim {

void SimProgrammer::RestoreState(const StoredState& s) {
    PowerCycle();
    kept_ = s;
    kept_.storage.resize(kStoreSize, 0xFF);
    kept_.chip.flash.resize(kStoreSize, 0xFF);
}

namespace {

constexpr std::size_t kMaxStateFileSize = std::size_t(1) << 20;  // the text is about 260 KB

std::string Bytes(const uint8_t* data, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s(2 * count, '0');
    for (std::size_t i = 0; i < count; ++i) {
        s[2 * i] = kDigits[data[i] >> 4];
        s[2 * i + 1] = kDigits[data[i] & 0xF];
    }
    return s;
}

// Hex digit pairs into bytes; false for anything else.
bool ParseBytes(const std::string& text, std::vector<uint8_t>* out) {
    if (text.size() % 2 != 0) return false;
    out->resize(text.size() / 2);
    for (std::size_t i = 0; i < out->size(); ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        (*out)[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

// A whole decimal number from 0 to max.
bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* out) {
    unsigned long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max)
        return false;
    *out = value;
    return true;
}

// flock on FILE.lock for as long as it lives; every reader and writer of FILE
// takes it.
class FileLock {
  public:
    FileLock(const std::string& path, int operation) {
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            error_ = "cannot open " + path + ".lock: " + std::strerror(errno);
            return;
        }
        while (::flock(fd_, operation) != 0) {
            if (errno == EINTR) continue;
            error_ = "cannot lock " + path + ".lock: " + std::strerror(errno);
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }

  private:
    int fd_ = -1;
    std::string error_;
};

// Reads FILE, whose lock the caller holds: true with its text, true with an
// empty text when it does not exist, false with the message otherwise.
bool ReadLockedStateFile(const std::string& path, std::string* text, bool* exists,
                         std::string* error) {
    *exists = false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
    std::string why;
    if (!ReadWholeFile(path, text, &why, kMaxStateFileSize)) {
        *error = why;
        return false;
    }
    *exists = true;
    return true;
}

// The same under a shared lock.
bool ReadStateFile(const std::string& path, std::string* text, bool* exists, std::string* error) {
    const FileLock lock(path, LOCK_SH);
    if (!lock.Held()) {
        *error = lock.Error();
        return false;
    }
    return ReadLockedStateFile(path, text, exists, error);
}

std::string Prefixed(const std::string& path, const std::string& why) {
    return "simulator state " + path + ": " + why;
}

}  // namespace

std::string StateText(const StoredState& s) {
    std::string t = std::string(kStateFileFormat) + "\n";
    const auto line = [&t](const char* key, const std::string& value) {
        t += key;
        t += ' ';
        t += value;
        t += '\n';
    };
    line("image-length", std::to_string(s.imageLength));
    line("start-address", std::to_string(s.startAddress));
    line("checksum", std::to_string(s.storedChecksum));
    line("file-kind", std::to_string(s.fileKind));
    line("config", s.config ? Bytes(s.config->block.data(), s.config->block.size()) : "-");
    line("user-code", s.userCode ? Bytes(s.userCode->data(), s.userCode->size()) : "-");
    line("downloads", std::to_string(s.completedDownloads));
    line("firmware-updated", s.firmwareUpdated ? "1" : "0");
    line("firmware-updates", std::to_string(s.firmwareUpdates));
    line("success", std::to_string(s.successCount));
    line("failure", std::to_string(s.failureCount));
    line("chip-option", std::to_string(s.chip.optionWord));
    line("chip-protection", std::to_string(s.chip.protection));
    line("storage", Bytes(s.storage.data(), s.storage.size()));
    line("chip-flash", Bytes(s.chip.flash.data(), s.chip.flash.size()));
    return t;
}

namespace {

// Each field of the state: its parser, which takes the value, says whether it
// is valid and sets it in the state.
using Field = std::function<bool(const std::string&)>;

std::map<std::string, Field> StateFields(StoredState& s) {
    const auto number = [](unsigned long long max, auto set) -> Field {
        return [max, set](const std::string& v) {
            unsigned long long n = 0;
            if (!ParseNumber(v, max, &n)) return false;
            set(n);
            return true;
        };
    };
    const auto block = [](std::size_t size, auto set) -> Field {
        return [size, set](const std::string& v) {
            std::vector<uint8_t> bytes;
            if (!ParseBytes(v, &bytes) || bytes.size() != size) return false;
            set(bytes);
            return true;
        };
    };
    return {
        {"image-length", number(kStoreSize, [&](auto v) { s.imageLength = unsigned(v); })},
        {"start-address", number(0xFFFF, [&](auto v) { s.startAddress = unsigned(v); })},
        {"checksum", number(0xFFFF, [&](auto v) { s.storedChecksum = uint16_t(v); })},
        {"file-kind", number(0xFF, [&](auto v) { s.fileKind = uint8_t(v); })},
        {"config",
         [&](const std::string& v) {
             std::vector<uint8_t> bytes;
             if (v == "-") return true;
             if (!ParseBytes(v, &bytes) || bytes.size() != ConfigRecord{}.block.size())
                 return false;
             s.config = ConfigRecord{};
             std::copy(bytes.begin(), bytes.end(), s.config->block.begin());
             return true;
         }},
        {"user-code",
         [&](const std::string& v) {
             std::vector<uint8_t> bytes;
             if (v == "-") return true;
             if (!ParseBytes(v, &bytes) || bytes.size() > 64) return false;
             s.userCode = bytes;
             return true;
         }},
        {"downloads", number(0x7FFFFFFF, [&](auto v) { s.completedDownloads = int(v); })},
        {"firmware-updated", number(1, [&](auto v) { s.firmwareUpdated = v == 1; })},
        {"firmware-updates", number(0x7FFFFFFF, [&](auto v) { s.firmwareUpdates = int(v); })},
        {"success", number(0xFFFFFFFF, [&](auto v) { s.successCount = uint32_t(v); })},
        {"failure", number(0xFFFFFFFF, [&](auto v) { s.failureCount = uint32_t(v); })},
        {"chip-option", number(0xFFFFFFFF, [&](auto v) { s.chip.optionWord = uint32_t(v); })},
        {"chip-protection", number(0xFF, [&](auto v) { s.chip.protection = uint8_t(v); })},
        {"storage", block(kStoreSize, [&](const auto& v) { s.storage = v; })},
        {"chip-flash", block(kStoreSize, [&](const auto& v) { s.chip.flash = v; })},
    };
}

// Lines [1, end) of a state, each "KEY VALUE" naming every field once. Line
// numbers in the messages count from `firstLine` for line 0.
bool ParseFields(const std::vector<std::string>& lines, std::size_t end, std::size_t firstLine,
                 const std::map<std::string, Field>& fields, std::string* error) {
    std::map<std::string, int> seen;
    for (std::size_t i = 1; i < end; ++i) {
        const std::string where = "line " + std::to_string(firstLine + i + 1) + ": ";
        const std::string& l = lines[i];
        const std::size_t space = l.find(' ');
        const std::string key = l.substr(0, space);
        const auto field = fields.find(key);
        if (field == fields.end()) {
            *error = where + "unknown field '" + key.substr(0, 40) + "'";
            return false;
        }
        if (seen.count(key)) {
            *error = where + "a second '" + key + "'";
            return false;
        }
        seen[key] = 1;
        if (space == std::string::npos || !field->second(l.substr(space + 1))) {
            *error = where + "the value of '" + key + "' is not valid";
            return false;
        }
    }
    for (const auto& [key, parse] : fields) {
        if (!seen.count(key)) {
            *error = "the field '" + key + "' is missing";
            return false;
        }
    }
    return true;
}

// What a text whose first line is `first` is not. A station's file is named
// as such where one programmer's state is wanted.
std::string NotAStateFile(const std::string& first, bool station) {
    if (!station && first == kStationStateFormat)
        return "a state file of a simulated station, not of one programmer (use it with count=N)";
    return "not a state file of the simulated programmer (its first line is not \"" +
           std::string(kStateFileFormat) + "\"" +
           (station ? " or \"" + std::string(kStationStateFormat) + "\"" : std::string()) + ")";
}

// One programmer's state: lines [0, end), line 0 the format line.
std::optional<StoredState> ParseState(const std::vector<std::string>& lines, std::size_t end,
                                      std::size_t firstLine, std::string* error) {
    if (end == 0 || lines[0] != kStateFileFormat) {
        *error = NotAStateFile(end == 0 ? std::string() : lines[0], false);
        return std::nullopt;
    }
    StoredState s;
    if (!ParseFields(lines, end, firstLine, StateFields(s), error)) return std::nullopt;
    return s;
}

constexpr const char* kSectionKey = "programmer ";

}  // namespace

std::optional<StoredState> ParseStateText(const std::string& text, std::string* error) {
    const std::vector<std::string> lines = SplitLines(text);
    return ParseState(lines, lines.size(), 0, error);
}

std::string StationStateText(const std::map<int, StoredState>& states) {
    std::string t = std::string(kStationStateFormat) + "\n";
    for (const auto& [number, state] : states)
        t += kSectionKey + std::to_string(number) + "\n" + StateText(state);
    return t;
}

std::optional<std::map<int, StoredState>> ParseStationStateText(const std::string& text,
                                                                std::string* error) {
    const std::vector<std::string> lines = SplitLines(text);
    if (!lines.empty() && lines[0] == kStateFileFormat) {
        // A file of one programmer: the station's first.
        auto state = ParseState(lines, lines.size(), 0, error);
        if (!state) return std::nullopt;
        return std::map<int, StoredState>{{1, *state}};
    }
    if (lines.empty() || lines[0] != kStationStateFormat) {
        *error = NotAStateFile(lines.empty() ? std::string() : lines[0], true);
        return std::nullopt;
    }
    std::map<int, StoredState> states;
    std::size_t i = 1;
    while (i < lines.size()) {
        unsigned long long number = 0;
        const std::string& l = lines[i];
        if (l.rfind(kSectionKey, 0) != 0 ||
            !ParseNumber(l.substr(std::strlen(kSectionKey)), 1000, &number) || number == 0 ||
            states.count(int(number))) {
            *error = "line " + std::to_string(i + 1) + ": not a new \"programmer N\" line";
            return std::nullopt;
        }
        std::size_t end = i + 1;
        while (end < lines.size() && lines[end].rfind(kSectionKey, 0) != 0) ++end;
        const std::vector<std::string> section(lines.begin() + long(i) + 1,
                                               lines.begin() + long(end));
        auto state = ParseState(section, section.size(), i + 1, error);
        if (!state) return std::nullopt;
        states[int(number)] = *state;
        i = end;
    }
    return states;
}

bool CheckStateFile(const std::string& path, std::string* error, bool station) {
    std::string text, why;
    bool exists = false;
    if (!ReadStateFile(path, &text, &exists, &why)) {
        *error = Prefixed(path, why);
        return false;
    }
    if (exists && !(station ? ParseStationStateText(text, &why).has_value()
                            : ParseStateText(text, &why).has_value())) {
        *error = Prefixed(path, why);
        return false;
    }
    return true;
}

bool StateFile::Load(SimProgrammer& device, std::string* error) {
    std::string text, why;
    bool exists = false;
    std::optional<StoredState> state;
    bool valid = ReadStateFile(path_, &text, &exists, &why);
    if (valid && exists && section_ == 0) {
        valid = (state = ParseStateText(text, &why)).has_value();
    } else if (valid && exists) {
        const auto states = ParseStationStateText(text, &why);
        valid = states.has_value();
        if (valid && states->count(section_)) state = states->at(section_);
    }
    if (!valid) {
        refused_ = true;
        *error = Prefixed(path_, why);
        return false;
    }
    if (state) device.RestoreState(*state);
    stored_ = device.SavedState();
    return true;
}

bool StateFile::WriteLocked(const StoredState& state, std::string* error) {
    if (section_ == 0) return WriteFileAtomically(path_, StateText(state), error);
    // The other programmers' sections stay as the file has them.
    std::string text;
    bool exists = false;
    if (!ReadLockedStateFile(path_, &text, &exists, error)) return false;
    std::map<int, StoredState> states;
    if (exists) {
        auto loaded = ParseStationStateText(text, error);
        if (!loaded) return false;
        states = std::move(*loaded);
    }
    states[section_] = state;
    return WriteFileAtomically(path_, StationStateText(states), error);
}

void StateFile::StoreIfChanged(const SimProgrammer& device) {
    // Compared as it stands: the text is built only when something changed,
    // not after every report of a read-back.
    if (refused_ || device.DownloadInProgress() || device.SavedState() == stored_) return;
    std::string error;
    const FileLock lock(path_, LOCK_EX);
    if (!lock.Held()) {
        error = lock.Error();
    } else if (WriteLocked(device.SavedState(), &error)) {
        stored_ = device.SavedState();
        reported_ = false;
        return;
    }
    if (!reported_)
        std::fprintf(stderr, "%s\n", Prefixed(path_, "cannot be written: " + error).c_str());
    reported_ = true;
}

}  // namespace qrv::sim
