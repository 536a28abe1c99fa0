// The simulated station: its options, its control FIFO and its state file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "common/atomic_file.h"
#include "sim/state_file.h"
#include "sim/station_seam.h"

namespace qrv::sim {
namespace {

TEST(StationOptions, KnobsGoToTheProgrammerTheyName) {
    StationOptions s;
    SimOptions common;
    std::string error;
    ASSERT_TRUE(ParseStationOptions(
        "count=5,latency-us=0,fail=verify@3,no-chip@5,serial@2=,serial@4=X@Y,port@1=2-3.1", &s,
        &common, &error))
        << error;
    EXPECT_EQ(s.count, 5);
    for (int k = 1; k <= 5; ++k) {
        const SimOptions& o = s.programmers[std::size_t(k - 1)];
        EXPECT_EQ(o.latencyUs, 0) << k;
        EXPECT_EQ(o.failStep, k == 3 ? ChipStep::Verify : ChipStep::None) << k;
        EXPECT_EQ(o.noChip, k == 5) << k;
    }
    EXPECT_EQ(common.latencyUs, 0);
    EXPECT_EQ(common.failStep, ChipStep::None);
    EXPECT_EQ(s.serials[1], std::optional<std::string>(""));
    EXPECT_EQ(s.serials[3], std::optional<std::string>("X@Y"));
    EXPECT_FALSE(s.serials[0]);
    EXPECT_EQ(s.ports[0], "2-3.1");
}

TEST(StationOptions, BadCountsAndNumbersAreRefused) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"count=0", "count"},
        {"count=17", "count"},
        {"count=x", "count"},
        {"no-chip@2", "needs count=N"},
        {"control=/tmp/f", "needs count=N"},
        {"count=3,fail=verify@4", "beyond count=3"},
        {"count=3,no-chip@0", "needs @K"},
        {"count=3,no-chip@17", "needs @K"},
        {"count=3,serial@2", "needs @K"},
        {"count=3,port@2=", "needs @K"},
        {"count=3,serial=A", "needs @K"},
        {"count=3,frob@2", "unknown simulator option 'frob@2'"},
        {"count=3,fail=never@2", "blank, erase, program or verify"},
    };
    for (const auto& [text, message] : cases) {
        StationOptions s;
        SimOptions common;
        std::string error;
        EXPECT_FALSE(ParseStationOptions(text, &s, &common, &error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << text << ": " << error;
    }
}

TEST(StationOptions, AStationsStateFileNeedsCount) {
    const std::string file = testing::TempDir() + "qrv-station-options-state";
    ASSERT_TRUE(WriteFileAtomically(file, StationStateText({{2, StoredState{}}}), nullptr));
    StationOptions s;
    SimOptions common;
    std::string error;
    EXPECT_FALSE(ParseStationOptions("state=" + file, &s, &common, &error));
    EXPECT_NE(error.find("use it with count=N"), std::string::npos) << error;
    EXPECT_TRUE(ParseStationOptions("state=" + file + ",count=2", &s, &common, &error)) << error;
    EXPECT_EQ(s.stateFile, file);
}

std::vector<std::string> Ports(SimStationSeam& seam) {
    std::vector<std::string> ports;
    const auto paths = seam.Enumerate();
    for (const std::string& path : *paths) ports.push_back(seam.Identity(path)->port);
    return ports;
}

// Waits until the station's ports are `want`.
bool PortsBecome(SimStationSeam& seam, const std::vector<std::string>& want) {
    for (int i = 0; i < 500; ++i) {
        if (Ports(seam) == want) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(StationControl, TheFifoUnplugsAndPlugsOneProgrammer) {
    const std::string fifo = testing::TempDir() + "qrv-station-control";
    ::unlink(fifo.c_str());
    StationOptions options;
    options.count = 3;
    options.control = fifo;
    std::string error;
    SimStationSeam seam(options, &error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(Ports(seam), (std::vector<std::string>{"1-1.1", "1-1.2", "1-1.3"}));
    const int w = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(w, 0);
    const auto send = [w](const std::string& line) {
        ASSERT_EQ(::write(w, line.data(), line.size()), ssize_t(line.size()));
    };
    send("unplug 2\n");
    EXPECT_TRUE(PortsBecome(seam, {"1-1.1", "1-1.3"}));
    EXPECT_FALSE(seam.Identity(StationPath(2, 3)));
    send("bogus 2\nplug 2 1-1.9\n");
    EXPECT_TRUE(PortsBecome(seam, {"1-1.1", "1-1.3", "1-1.9"}));
    EXPECT_EQ(seam.Identity(StationPath(2, 3))->serial, "SIM0002");
    ::close(w);
    // A writer that closed is no end: the reader still takes the next one.
    const int again = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_EQ(::write(again, "unplug 1\n", 9), 9);
    ::close(again);
    EXPECT_TRUE(PortsBecome(seam, {"1-1.3", "1-1.9"}));
}

TEST(StationControl, BadLinesAreRefused) {
    StationOptions options;
    options.count = 2;
    SimStationSeam seam(options);
    std::string error;
    for (const char* line : {"unplug", "unplug 3", "unplug 0", "plug x", "unplug 1 1-2", "eject 1"})
        EXPECT_FALSE(seam.Control(line, &error)) << line;
    EXPECT_TRUE(seam.Control("unplug 1", &error));
    EXPECT_EQ(seam.Enumerate()->size(), 1u);
}

StoredState Counted(uint32_t success, uint8_t first) {
    StoredState s;
    s.successCount = success;
    s.storage[0] = first;
    return s;
}

TEST(StationState, NProgrammersRoundTripAndAFileOfOneLoadsAsTheFirst) {
    const std::map<int, StoredState> states = {
        {1, Counted(1, 0x11)}, {2, Counted(2, 0x22)}, {3, Counted(3, 0x33)}};
    std::string error;
    EXPECT_EQ(ParseStationStateText(StationStateText(states), &error), states) << error;
    EXPECT_EQ(ParseStationStateText(StateText(Counted(9, 0x99)), &error),
              (std::map<int, StoredState>{{1, Counted(9, 0x99)}}));
    for (const std::string& bad : {std::string(kStationStateFormat) + "\nprogrammer 0\n",
                                   std::string(kStationStateFormat) + "\nstorage 00\n",
                                   StationStateText(states) + "programmer 2\n"})
        EXPECT_FALSE(ParseStationStateText(bad, &error)) << bad.substr(0, 60);
}

TEST(StationState, EachProgrammerKeepsItsSectionOfOneFile) {
    const std::string file = testing::TempDir() + "qrv-station-state";
    ASSERT_TRUE(WriteFileAtomically(file, StateText(Counted(5, 0x55)), nullptr));
    StationOptions options;
    options.count = 2;
    options.stateFile = file;
    {
        SimStationSeam seam(options);
        EXPECT_EQ(seam.Programmer(1).Device().SavedState(), Counted(5, 0x55));
        EXPECT_EQ(seam.Programmer(2).Device().SavedState(), StoredState{});
        StateFile(file, 2).StoreIfChanged(seam.Programmer(1).Device());
    }
    std::string text, error;
    ASSERT_TRUE(ReadWholeFile(file, &text, &error));
    EXPECT_EQ(ParseStationStateText(text, &error),
              (std::map<int, StoredState>{{1, Counted(5, 0x55)}, {2, Counted(5, 0x55)}}));
}

}  // namespace
}  // namespace qrv::sim
