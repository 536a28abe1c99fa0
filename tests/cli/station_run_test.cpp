// qrv-writer-cli --all and --slots on a simulated station, end to end: after
// each call every programmer's storage, chip and counters are looked at, so a
// slot that ran on the wrong programmer, or on none, shows.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "protocol/reports.h"
#include "sim/station_seam.h"
#include "tests/support/cli_run.h"
#include "tests/support/hex_lines.h"
#include "tests/support/temp_file.h"

namespace qrv {
namespace {

using test::RunTool;
using Clock = std::chrono::steady_clock;

constexpr int kImageBytes = 1024;

std::vector<uint8_t> Image() {
    std::vector<uint8_t> image;
    for (int i = 0; i < kImageBytes; ++i) image.push_back(static_cast<uint8_t>(i * 7 + 3));
    return image;
}

// The image as a HEX file in the scratch folder, one per test: ctest runs the
// tests at once, and one rewriting the file another reads would cut it short.
std::string ImageFile() {
    const std::vector<uint8_t> image = Image();
    std::vector<std::string> lines;
    for (int a = 0; a < kImageBytes; a += 16)
        lines.push_back(test::DataRecord(a, {image.begin() + a, image.begin() + a + 16}));
    lines.emplace_back(":00000001FF");
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return test::WriteTempFile("qrv-station-run-" + name + ".hex", lines);
}

std::string StationFile(const std::string& name, const std::string& json) {
    const std::string path = test::ScratchDir() + name;
    std::ofstream(path) << json;
    return path;
}

// A station of count programmers that answer at once.
sim::StationOptions Quick(int count) {
    sim::StationOptions o;
    o.count = count;
    for (sim::SimOptions& p : o.programmers) p.latencyUs = 0;
    return o;
}

// What a programmer holds after the call.
enum class Held {
    Nothing,     // storage, chip and counters as they came
    Programmed,  // the image stored and programmed, one passed run
    Failed,      // the image stored and programmed, its verify failed: one failed run
    Stored,      // the image stored; the chip not looked at (a run cut short)
};

void ExpectHeld(sim::SimStationSeam& seam, const std::vector<Held>& expected) {
    ASSERT_EQ(seam.Count(), static_cast<int>(expected.size()));
    const std::vector<uint8_t> image = Image();
    const std::vector<uint8_t> blank(kImageBytes, 0xFF);
    for (int k = 1; k <= seam.Count(); ++k) {
        ASSERT_TRUE(seam.Programmer(k).Flush()) << k;
        struct Seen {
            std::vector<uint8_t> storage, flash;
            unsigned length;
            uint32_t passed, failed;
        };
        const Seen seen = seam.Programmer(k).WithDevice([](sim::SimProgrammer& d) {
            return Seen{{d.Storage().begin(), d.Storage().begin() + kImageBytes},
                        {d.Chip().flash.begin(), d.Chip().flash.begin() + kImageBytes},
                        d.ImageLength(),
                        d.SuccessCount(),
                        d.FailureCount()};
        });
        const Held held = expected[std::size_t(k - 1)];
        const bool stored = held != Held::Nothing;
        EXPECT_EQ(seen.storage, stored ? image : blank) << "storage of " << k;
        EXPECT_EQ(seen.length, stored ? unsigned(kImageBytes) : 0u) << "image length of " << k;
        if (held == Held::Stored) continue;
        EXPECT_EQ(seen.flash, held == Held::Nothing ? blank : image) << "chip of " << k;
        EXPECT_EQ(seen.passed, held == Held::Programmed ? 1u : 0u) << "passed of " << k;
        EXPECT_EQ(seen.failed, held == Held::Failed ? 1u : 0u) << "failed of " << k;
    }
}

std::vector<std::string> Lines(const std::string& text, const std::string& end = "\n") {
    std::vector<std::string> lines;
    for (std::size_t start = 0, stop; (stop = text.find(end, start)) != std::string::npos;
         start = stop + end.size())
        lines.push_back(text.substr(start, stop - start));
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    return fields;
}

// The production log's lines (header first), a fresh log per call.
struct Log {
    explicit Log(const std::string& name) : path(test::ScratchDir() + name) {
        std::remove(path.c_str());
    }
    std::vector<std::string> Read() const {
        std::ifstream in(path, std::ios::binary);
        return Lines(std::string(std::istreambuf_iterator<char>(in), {}), "\r\n");
    }
    // Slot K's line: its outcome, and its slot, port and serial columns.
    struct Row {
        std::string outcome, slot, port, serial;
    };
    std::map<int, Row> Rows() const {
        std::map<int, Row> rows;
        const std::vector<std::string> lines = Read();
        for (std::size_t i = 1; i < lines.size(); ++i) {
            const std::vector<std::string> f = Fields(lines[i]);
            if (f.size() < 15) continue;
            const std::size_t n = f.size();
            rows[std::stoi(f[n - 3])] = {f[5], f[n - 3], f[n - 2], f[n - 1]};
        }
        return rows;
    }
    std::string path;
};

// The summary lines that end a text call, in slot order.
std::vector<std::string> Summary(const std::string& out, std::size_t slots) {
    const std::vector<std::string> lines = Lines(out);
    if (lines.size() < slots) return lines;
    return {lines.end() - static_cast<std::ptrdiff_t>(slots), lines.end()};
}

std::string SummaryLine(int k, const std::string& port, const std::string& serial,
                        const std::string& verdict) {
    return "[" + std::to_string(k) + "] " + port + " " + serial + ": " + verdict;
}

TEST(StationRun, EightProgrammersOneFailingItsVerify) {
    sim::StationOptions o = Quick(8);
    o.programmers[2].failStep = sim::ChipStep::Verify;
    sim::SimStationSeam seam(o);
    const Log log("qrv-station-run-eight.csv");
    const test::ToolRun r =
        RunTool({"--log", log.path, "--all", "download", ImageFile(), "auto"}, &seam);
    EXPECT_EQ(r.rc, 1) << r.err;
    std::vector<Held> held(8, Held::Programmed);
    held[2] = Held::Failed;
    ExpectHeld(seam, held);
    std::vector<std::string> summary;
    for (int k = 1; k <= 8; ++k)
        summary.push_back(
            SummaryLine(k, sim::DefaultPort(k), sim::DefaultSerial(k), k == 3 ? "failed" : "ok"));
    EXPECT_EQ(Summary(r.out, 8), summary) << r.out;
    EXPECT_NE(r.out.find("[3] verify: failed\n"), std::string::npos) << r.out;
    const std::vector<std::string> lines = log.Read();
    ASSERT_EQ(lines.size(), 9u) << log.path;
    EXPECT_TRUE(lines[0].ends_with(",slot,port,serial")) << lines[0];
    const auto rows = log.Rows();
    ASSERT_EQ(rows.size(), 8u);
    for (const auto& [k, row] : rows) {
        EXPECT_EQ(row.port, sim::DefaultPort(k));
        EXPECT_EQ(row.serial, sim::DefaultSerial(k));
        EXPECT_EQ(row.outcome, k == 3 ? "failed" : "passed") << k;
    }
}

TEST(StationRun, EveryProgrammerOfTheSmallestAndTheLargestStation) {
    for (const int count : {1, 16}) {
        SCOPED_TRACE(count);
        sim::SimStationSeam seam(Quick(count));
        const test::ToolRun r = RunTool({"--all", "download", ImageFile(), "auto"}, &seam);
        EXPECT_EQ(r.rc, 0) << r.err;
        ExpectHeld(seam, std::vector<Held>(std::size_t(count), Held::Programmed));
        EXPECT_EQ(Summary(r.out, 1).front(),
                  SummaryLine(count, sim::DefaultPort(count), sim::DefaultSerial(count), "ok"));
    }
}

TEST(StationRun, SlotsRunOnTheirProgrammersAlone) {
    sim::SimStationSeam seam(Quick(6));
    const test::ToolRun r = RunTool({"--slots", "2,4-5", "download", ImageFile(), "auto"}, &seam);
    EXPECT_EQ(r.rc, 0) << r.err;
    ExpectHeld(seam, {Held::Nothing, Held::Programmed, Held::Nothing, Held::Programmed,
                      Held::Programmed, Held::Nothing});
    EXPECT_EQ(Summary(r.out, 3),
              (std::vector<std::string>{SummaryLine(2, "1-1.2", "SIM0002", "ok"),
                                        SummaryLine(4, "1-1.4", "SIM0004", "ok"),
                                        SummaryLine(5, "1-1.5", "SIM0005", "ok")}));
    for (const char* other : {"[1] ", "[3] ", "[6] "})
        EXPECT_EQ(r.out.find(other), std::string::npos) << other;
}

// Programmers 2 and 3 share the serial DUP, programmer 4 has none.
sim::StationOptions SharedSerials() {
    sim::StationOptions o = Quick(4);
    o.serials[1] = "DUP";
    o.serials[2] = "DUP";
    o.serials[3] = "";
    return o;
}

TEST(StationRun, SharedAndMissingSerials) {
    struct Case {
        const char* name;
        const char* station;  // the station file, or none: the programmers by port
        int rc;
        std::vector<Held> held;
        const char* summaryOfTwo;
    };
    const Case cases[] = {
        {"by port", nullptr, 0, std::vector<Held>(4, Held::Programmed), "[2] 1-1.2 DUP: ok"},
        {"slot 2 by the shared serial",
         R"({"1": {"port": "1-1.1"}, "2": {"serial": "DUP"}, "4": {"port": "1-1.4"}})",
         3,
         {Held::Programmed, Held::Nothing, Held::Nothing, Held::Programmed},
         "[2] - DUP: no programmer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimStationSeam seam(SharedSerials());
        std::vector<std::string> args = {"--all", "download", ImageFile(), "auto"};
        if (c.station)
            args.insert(args.begin(),
                        {"--station", StationFile("qrv-station-dup.json", c.station)});
        const test::ToolRun r = RunTool(args, &seam);
        EXPECT_EQ(r.rc, c.rc) << r.err;
        ExpectHeld(seam, c.held);
        EXPECT_NE(r.out.find(std::string(c.summaryOfTwo) + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("[4] 1-1.4 -: ok\n"), std::string::npos) << r.out;
        if (c.station) {
            EXPECT_NE(r.err.find("[2] qrv-writer-cli: the serial DUP is shared by the programmers "
                                 "at 1-1.2 and 1-1.3"),
                      std::string::npos)
                << r.err;
        }
    }
    sim::SimStationSeam seam(SharedSerials());
    const test::ToolRun list = RunTool({"list"}, &seam);
    EXPECT_EQ(list.rc, 0) << list.err;
    EXPECT_EQ(Lines(list.out), (std::vector<std::string>{
                                   "0 1-1.1 SIM0001 sim:qrv-programmer-1 0483:5750",
                                   "1 1-1.2 DUP sim:qrv-programmer-2 0483:5750 [duplicate serial]",
                                   "2 1-1.3 DUP sim:qrv-programmer-3 0483:5750 [duplicate serial]",
                                   "3 1-1.4 - sim:qrv-programmer-4 0483:5750 [no serial]"}));
}

// The slot of a programmer without a serial (null in --json) logs an empty
// serial column.
TEST(StationRun, AProgrammerWithoutSerialIsLoggedWithAnEmptySerial) {
    sim::SimStationSeam seam(SharedSerials());
    const Log log("qrv-station-run-no-serial.csv");
    const test::ToolRun r =
        RunTool({"--log", log.path, "--all", "download", ImageFile(), "auto"}, &seam);
    EXPECT_EQ(r.rc, 0) << r.err;
    ExpectHeld(seam, std::vector<Held>(4, Held::Programmed));
    const auto rows = log.Rows();
    ASSERT_EQ(rows.count(4), 1u);
    EXPECT_EQ(rows.at(4).port, "1-1.4");
    EXPECT_EQ(rows.at(4).serial, "");
}

TEST(StationRun, AProgrammerPluggedIntoAnotherPort) {
    struct Case {
        const char* name;
        const char* slotThree;
        int rc;
        Held held;
        const char* summary;
    };
    const Case cases[] = {
        {"slot 3 by port", R"({"port": "1-1.3"})", 3, Held::Nothing, "[3] 1-1.3 -: no programmer"},
        {"slot 3 by serial", R"({"serial": "SIM0003"})", 0, Held::Programmed,
         "[3] 1-1.9 SIM0003: ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimStationSeam seam(Quick(4));
        seam.Plug(3, "1-1.9");
        const std::string station =
            StationFile("qrv-station-moved.json",
                        std::string(R"({"1": {"port": "1-1.1"}, "2": {"port": )") +
                            R"("1-1.2"}, "3": )" + c.slotThree + R"(, "4": {"port": "1-1.4"}})");
        const test::ToolRun r =
            RunTool({"--station", station, "--all", "download", ImageFile(), "auto"}, &seam);
        EXPECT_EQ(r.rc, c.rc) << r.err;
        ExpectHeld(seam, {Held::Programmed, Held::Programmed, c.held, Held::Programmed});
        EXPECT_NE(r.out.find(std::string(c.summary) + "\n"), std::string::npos) << r.out;
        const bool unassigned = r.err.find("1-1.9") != std::string::npos &&
                                r.err.find("(unassigned)") != std::string::npos;
        EXPECT_EQ(unassigned, c.rc != 0) << r.err;
    }
}

TEST(StationRun, AProgrammerUnpluggedDuringItsRun) {
    sim::StationOptions o = Quick(6);
    // Programmer 5's steps take long enough to unplug it in the middle.
    o.programmers[4].bytesPerSecond = 2 * kImageBytes;
    sim::SimStationSeam seam(o);
    const Log log("qrv-station-run-unplug.csv");
    std::atomic<bool> unplugged{false};
    std::thread pull([&] {
        const auto give_up = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < give_up) {
            const bool started = seam.Programmer(5).WithDevice([](sim::SimProgrammer& d) {
                for (const Report& r : d.Received())
                    if (ReportCode(r.data()) == CMD_AUTO_PROGRAM) return true;
                return false;
            });
            if (started) {
                seam.Unplug(5);
                unplugged = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const test::ToolRun r = RunTool(
        {"--timeout", "5", "--log", log.path, "--all", "download", ImageFile(), "auto"}, &seam);
    pull.join();
    ASSERT_TRUE(unplugged);
    EXPECT_EQ(r.rc, 3) << r.err;
    std::vector<Held> held(6, Held::Programmed);
    held[4] = Held::Stored;
    ExpectHeld(seam, held);
    EXPECT_NE(r.out.find("[5] 1-1.5 SIM0005: no programmer\n"), std::string::npos) << r.out;
    const auto rows = log.Rows();
    ASSERT_EQ(rows.size(), 6u) << log.path;
    for (const auto& [k, row] : rows) EXPECT_EQ(row.outcome, k == 5 ? "no result" : "passed") << k;
}

TEST(StationRun, JsonNamesTheSlotOfEveryObject) {
    sim::StationOptions o = Quick(4);
    o.programmers[1].failStep = sim::ChipStep::Verify;
    sim::SimStationSeam seam(o);
    const test::ToolRun r = RunTool({"--json", "--all", "download", ImageFile(), "auto"}, &seam);
    EXPECT_EQ(r.rc, 1) << r.err;
    std::vector<Held> held(4, Held::Programmed);
    held[1] = Held::Failed;
    ExpectHeld(seam, held);
    std::vector<nlohmann::json> objects;
    for (const std::string& line : Lines(r.out)) {
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(object.is_object()) << line;
        const int k = object.value("slot", 0);
        ASSERT_TRUE(k >= 1 && k <= 4) << line;
        EXPECT_EQ(object.at("port"), sim::DefaultPort(k)) << line;
        EXPECT_EQ(object.at("serial"), sim::DefaultSerial(k)) << line;
        objects.push_back(object);
    }
    ASSERT_GE(objects.size(), 4u);
    for (int k = 1; k <= 4; ++k) {
        const nlohmann::json& s = objects[objects.size() - 4 + std::size_t(k - 1)];
        EXPECT_EQ(s.at("command"), "station");
        EXPECT_EQ(s.at("slot"), k);
        EXPECT_EQ(s.at("exit"), k == 2 ? 1 : 0);
        EXPECT_EQ(s.at("result"), k == 2 ? "failed" : "ok");
    }
    for (std::size_t i = 0; i + 4 < objects.size(); ++i)
        EXPECT_NE(objects[i].at("command"), "station") << objects[i];
}

TEST(StationRun, ASlowProgrammerDoesNotHoldUpTheOthers) {
    sim::StationOptions o = Quick(4);
    o.programmers[1].latencyUs = 20000;
    sim::SimStationSeam seam(o);
    // When each programmer's run ended, seen from outside.
    std::array<std::atomic<int64_t>, 4> endedUs{};
    std::atomic<bool> done{false};
    const auto start = Clock::now();
    std::thread watch([&] {
        while (!done) {
            for (int k = 1; k <= 4; ++k) {
                if (endedUs[std::size_t(k - 1)] != 0) continue;
                if (seam.Programmer(k).WithDevice([](sim::SimProgrammer& d) {
                        return d.SuccessCount() + d.FailureCount();
                    }) > 0)
                    endedUs[std::size_t(k - 1)] =
                        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start)
                            .count();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const test::ToolRun r = RunTool({"--all", "download", ImageFile(), "auto"}, &seam);
    done = true;
    watch.join();
    EXPECT_EQ(r.rc, 0) << r.err;
    ExpectHeld(seam, std::vector<Held>(4, Held::Programmed));
    const int64_t slow = endedUs[1];
    ASSERT_GT(slow, 0);
    for (const int k : {1, 3, 4}) {
        EXPECT_GT(endedUs[std::size_t(k - 1)], 0) << k;
        EXPECT_LT(endedUs[std::size_t(k - 1)] * 2, slow) << k;
    }
    const std::size_t slowResult = r.out.find("[2] result:");
    for (const char* other : {"[1] result:", "[3] result:", "[4] result:"})
        EXPECT_LT(r.out.find(other), slowResult) << other;
}

}  // namespace
}  // namespace qrv
