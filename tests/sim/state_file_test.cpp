// --simulate=state=FILE: the simulated programmer's storage, counters and chip
// kept in a file between processes.
#include "sim/state_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/options.h"

namespace qrv::sim {
namespace {

namespace fs = std::filesystem;

struct Scratch {
    fs::path dir;
    Scratch() {
        const char* base = std::getenv("TEST_TMPDIR");
        dir = fs::path(base ? base : "/tmp") /
              ("state-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Intel HEX of 16-byte records holding image from address 0.
std::string HexFile(const std::vector<uint8_t>& image) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string t;
    const auto put = [&t](unsigned b) {
        t += kDigits[b >> 4];
        t += kDigits[b & 0xF];
    };
    for (std::size_t a = 0; a < image.size(); a += 16) {
        const unsigned n = static_cast<unsigned>(std::min<std::size_t>(16, image.size() - a));
        unsigned sum = n + (a >> 8) + (a & 0xFF);
        t += ':';
        put(n);
        put(static_cast<unsigned>(a >> 8));
        put(static_cast<unsigned>(a & 0xFF));
        put(0);
        for (unsigned i = 0; i < n; ++i) put(image[a + i]), sum += image[a + i];
        put((0x100 - (sum & 0xFF)) & 0xFF);
        t += "\r\n";
    }
    return t + ":00000001FF\r\n";
}

std::vector<uint8_t> Image(unsigned length, unsigned seed) {
    std::vector<uint8_t> image(length);
    for (unsigned i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + seed);
    return image;
}

StoredState Load(const std::string& path) {
    std::string error;
    const std::optional<StoredState> s = ParseStateText(Read(path), &error);
    EXPECT_TRUE(s) << error;
    return s.value_or(StoredState{});
}

// Runs the command-line tool as a process of its own; its exit status.
int Tool(const std::string& args) {
    const int status = std::system((std::string(QRV_CLI_PATH) + " " + args).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StateFile, TextKeepsEveryField) {
    StoredState s;
    s.storage[0] = 0x12;
    s.storage[0xFFFF] = 0x34;
    s.imageLength = 0x400;
    s.startAddress = 0x10;
    s.storedChecksum = 0xBEEF;
    s.fileKind = 7;
    s.config = ConfigRecord{};
    s.config->block[20] = 0x0D;
    s.userCode = std::vector<uint8_t>{1, 2, 3};
    s.completedDownloads = 3;
    s.firmwareUpdated = true;
    s.firmwareUpdates = 1;
    s.successCount = 0xFFFFFFFF;
    s.failureCount = 2;
    s.chip.flash[5] = 0;
    s.chip.optionWord = 0x12345678;
    s.chip.protection = 3;
    std::string error;
    const std::optional<StoredState> back = ParseStateText(StateText(s), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(StateText(*back), StateText(s));
}

TEST(StateFile, ABadFileIsAUsageErrorNamingTheLineAndTheReason) {
    Scratch d;
    const std::string good = StateText(StoredState{});
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {"", "not a state file"},
        {"hello\n", "not a state file"},
        {replaced("success 0", "success x"), "line 11: the value of 'success' is not valid"},
        {replaced("file-kind 255", "file-kind 256"), "line 5: the value of 'file-kind'"},
        {replaced("config -", "config 0102"), "line 6: the value of 'config'"},
        {replaced("failure 0\n", ""), "the field 'failure' is missing"},
        {good + "success 1\n", "a second 'success'"},
        {replaced("downloads", "uploads"), "line 8: unknown field 'uploads'"},
        // Cut short, as a file that a crash cut off would be.
        {good.substr(0, good.size() - 1000), "the value of 'chip-flash' is not valid"},
    };
    for (const auto& c : cases) {
        const std::string path = d.Write("bad.state", c.text);
        SimOptions o;
        std::string error;
        EXPECT_FALSE(ParseSimOptions("latency-us=0,state=" + path, &o, &error)) << c.reason;
        EXPECT_NE(error.find("simulator state " + path + ": "), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_TRUE(o.stateFile.empty());
    }
    // A directory is refused; a file not there yet is a new programmer.
    SimOptions o;
    std::string error;
    EXPECT_FALSE(ParseSimOptions("state=" + d.dir.string(), &o, &error));
    EXPECT_FALSE(ParseSimOptions("state=", &o, &error));
    EXPECT_TRUE(ParseSimOptions("state=" + d.Path("new.state"), &o, &error)) << error;
    EXPECT_EQ(o.stateFile, d.Path("new.state"));
    // The command-line tool exits 2 with the message, and leaves the file as it was.
    const std::string bad = d.Write("bad.state", "hello\n");
    EXPECT_EQ(Tool("--simulate=state=" + bad + " status >/dev/null 2>&1"), 2);
    EXPECT_EQ(Read(bad), "hello\n");
}

TEST(StateFile, DownloadInOneProcessThenAutoInTheNextProgramsTheChip) {
    Scratch d;
    const std::vector<uint8_t> image = Image(0x300, 1);
    const std::string hex = d.Write("app.hex", HexFile(image));
    const std::string state = d.Path("programmer.state");
    const std::string sim = "--simulate=latency-us=0,state=" + state + " ";
    ASSERT_EQ(Tool(sim + "download " + hex + " >/dev/null"), 0);
    StoredState s = Load(state);
    EXPECT_EQ(s.imageLength, image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), s.storage.begin()));
    EXPECT_EQ(s.successCount, 0u);

    ASSERT_EQ(Tool(sim + "auto >/dev/null"), 0);
    s = Load(state);
    EXPECT_EQ(s.successCount, 1u);
    EXPECT_EQ(s.failureCount, 0u);
    // The chip in the socket holds the image the first process stored.
    EXPECT_TRUE(std::equal(image.begin(), image.end(), s.chip.flash.begin()));
    EXPECT_EQ(s.chip.flash[image.size()], 0xFF);

    // The counters go on from where the last process left them.
    ASSERT_EQ(Tool(sim + "auto >/dev/null"), 0);
    EXPECT_EQ(Load(state).successCount, 2u);
}

TEST(StateFile, TwoProcessesAtOnceLeaveAValidFile) {
    Scratch d;
    const std::string state = d.Path("programmer.state");
    const std::string sim = "--simulate=latency-us=0,state=" + state + " ";
    std::string script;
    std::vector<std::vector<uint8_t>> images;
    for (unsigned k = 0; k < 2; ++k) {
        images.push_back(Image(0x800, 10 + k));
        const std::string hex = d.Write("f" + std::to_string(k) + ".hex", HexFile(images[k]));
        script += std::string(QRV_CLI_PATH) + " " + sim + "download " + hex +
                  " auto >/dev/null 2>&1; echo $? >" + d.Path("rc" + std::to_string(k)) + " &\n";
    }
    script += "wait\n";
    ASSERT_EQ(std::system(d.Write("both.sh", script).insert(0, "sh ").c_str()), 0);
    EXPECT_EQ(Read(d.Path("rc0")), "0\n");
    EXPECT_EQ(Read(d.Path("rc1")), "0\n");
    const StoredState s = Load(state);
    // One of the two stored last; its image is whole.
    const bool first = std::equal(images[0].begin(), images[0].end(), s.storage.begin());
    const bool second = std::equal(images[1].begin(), images[1].end(), s.storage.begin());
    EXPECT_TRUE(first || second);
    EXPECT_EQ(s.imageLength, 0x800u);
    EXPECT_GE(s.successCount, 1u);
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& e : fs::directory_iterator(d.dir))
        if (e.path().filename().string().starts_with("programmer.state")) ++files;
    EXPECT_EQ(files, 2);  // the state and its lock
}

}  // namespace
}  // namespace qrv::sim
