// A station tile's texts from its session's events: each row is the events of
// one slot and what its tile then says.
#include "station/tile_model.h"

#include <gtest/gtest.h>

#include "session/session.h"

namespace qrv {
namespace {

using E = SessionEvent;

const E kConnected = event::Connection{true, "p", ""};
const E kUnplugged = event::Connection{false, "p", kUnpluggedReason};
const E kRunStart = event::RunStarted{-1, 0x10};
const E kProgramming = event::StepProgress{2, 40};
event::RunEnded Ended(const char* outcome, const char* message = "") {
    event::RunEnded e;
    e.outcome = outcome;
    e.message = message;
    e.passedCount = 4;
    e.failedCount = 1;
    return e;
}
const E kResultPassed = event::RunResult{true, "", 4, 1};
const E kResultFailed = event::RunResult{false, "", 3, 2};

struct Row {
    const char* name;
    std::vector<E> events;
    std::string state;
    std::string message;
    int percent;
};

TEST(TileModel, EventsGiveTheTileItsStateMessageAndProgress) {
    const Row rows[] = {
        {"never connected", {}, kTileNotConnected, "", 0},
        {"connected", {kConnected}, kRunWaiting, "", 0},
        {"started", {kConnected, kRunStart}, kRunStarted, "", 0},
        {"a step under way", {kConnected, kRunStart, kProgramming}, "编程", "", 40},
        {"passed",
         {kConnected, kRunStart, kProgramming, kResultPassed, Ended("passed")},
         kRunPassed,
         "",
         100},
        {"failed verify",
         {kConnected, kRunStart, event::StepOutcome{3, false}, kResultFailed, Ended("failed")},
         kRunFailed,
         "校验失败",
         0},
        {"no chip: refused without a result",
         {kConnected, kRunStart, event::ChipRefused{kNoChip}, Ended("failed", kNoChip)},
         kRunUnfinished,
         kNoChip,
         0},
        {"unplugged mid-run",
         {kConnected, kRunStart, kProgramming, kUnplugged, Ended("no result", kUnpluggedReason)},
         kRunUnfinished,
         kTileUnplugged,
         0},
        {"unplugged at rest", {kConnected, kUnplugged}, kTileNotConnected, kTileUnplugged, 0},
        {"another programmer's change keeps the result",
         {kConnected, kRunStart, kResultPassed, Ended("passed"), kConnected},
         kRunPassed,
         "",
         100},
        {"back after an unplug",
         {kConnected, kRunStart, kUnplugged, Ended("no result"), kConnected},
         kRunWaiting,
         "",
         0},
        {"download", {kConnected, event::DownloadProgress{false, 30}}, kTileDownloading, "", 30},
        {"download stored",
         {kConnected, event::DownloadProgress{false, 30},
          event::DownloadEnded{false, true, 0x1A2B, ""}},
         kRunWaiting,
         kTileDownloaded,
         100},
        {"download interrupted",
         {kConnected, event::DownloadEnded{false, false, 0, kDownloadInterrupted}},
         kRunWaiting,
         kDownloadInterrupted,
         0},
    };
    for (const Row& row : rows) {
        TileModel tile(SlotBinding{3, "左", "1-1.3", ""});
        for (const E& e : row.events) tile.Apply(e);
        EXPECT_EQ(tile.Texts().state, row.state) << row.name;
        EXPECT_EQ(tile.Texts().message, row.message) << row.name;
        EXPECT_EQ(tile.Texts().percent, row.percent) << row.name;
        EXPECT_EQ(tile.Texts().title, "3 号位  左") << row.name;
        EXPECT_EQ(tile.Running(), row.state == kRunStarted || row.state == "编程") << row.name;
    }
}

TEST(TileModel, StatusAndDownloadGiveTheImageAndCounters) {
    TileModel tile(SlotBinding{1, "", "", "SIM0001"});
    EXPECT_EQ(tile.Texts().where, "-  SIM0001");
    AttachedProgrammer p;
    p.identity = HidIdentity{"1-1.4", "", "SIM0001"};
    tile.SetProgrammer(p);
    EXPECT_EQ(tile.Texts().where, "1-1.4  SIM0001");
    event::Status status;
    status.model = "QM-012-64HS";
    status.checksum = 0x00FE;
    status.passed = 7;
    status.failed = 2;
    tile.Apply(status);
    EXPECT_EQ(tile.Texts().model, "QM-012-64HS");
    EXPECT_EQ(tile.Texts().checksum, "00FEH");
    EXPECT_EQ(tile.Texts().passed, 7);
    EXPECT_EQ(tile.Texts().failed, 2);
    EXPECT_EQ(tile.StoredChecksum(), 0x00FEu);
    // A corrupted status asked for again changes nothing.
    event::Status retried;
    retried.retried = true;
    tile.Apply(retried);
    EXPECT_EQ(tile.Texts().model, "QM-012-64HS");
    tile.Apply(event::DownloadEnded{false, true, 0xBEEF, ""});
    EXPECT_EQ(tile.Texts().checksum, "BEEFH");
    EXPECT_EQ(tile.StoredChecksum(), 0xBEEFu);
}

}  // namespace
}  // namespace qrv
