// The simulated programmer behind the HID seam: its identity, reports through
// its handles, thread-safe inspection while the device thread runs, and
// plugging and unplugging.
#include "sim/sim_seam.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

#include "tests/sim/host.h"

namespace qrv::sim {
namespace {

using test::Short;

struct Handles {
    std::unique_ptr<HidHandle> write;
    std::unique_ptr<HidHandle> read;
};

Handles OpenBoth(SimSeam& seam) {
    return {seam.Open(kSimPath, HidAccess::Write), seam.Open(kSimPath, HidAccess::Read)};
}

// Reads the next reply; fails the test if none arrives (the loop only guards
// against a hang, it measures nothing).
Report ReadOne(HidHandle& h) {
    Report r{};
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int n = h.Read(r.data(), r.size(), 20);
        if (n == static_cast<int>(kReportSize)) return r;
        if (n < 0) break;
    }
    ADD_FAILURE() << "no reply";
    return Report{};
}

Report Exchange(Handles& h, const Report& command) {
    EXPECT_TRUE(h.write->Write(command.data(), command.size()));
    return ReadOne(*h.read);
}

TEST(SimSeamLink, EnumeratesAsTheProgrammer) {
    SimSeam seam(SimOptions{0});
    const auto paths = seam.Enumerate();
    ASSERT_TRUE(paths.has_value());
    EXPECT_EQ(*paths, std::vector<std::string>{kSimPath});
    auto h = seam.Open(kSimPath, HidAccess::Read);
    ASSERT_TRUE(h);
    uint16_t vendor = 0, product = 0, length = 0;
    ASSERT_TRUE(h->Attributes(&vendor, &product));
    EXPECT_EQ(vendor, 0x0483);
    EXPECT_EQ(product, 0x5750);
    ASSERT_TRUE(h->InputReportLength(&length));
    EXPECT_EQ(length, 65);
    EXPECT_FALSE(seam.Open("other", HidAccess::Read));
}

TEST(SimSeamLink, StatusThroughTheHandles) {
    SimSeam seam(SimOptions{0});
    Handles h = OpenBoth(seam);
    const Report r = Exchange(h, Short(CMD_STATUS));
    EXPECT_EQ(r[1], ';');
    EXPECT_EQ(r[3], RPL_STATUS);
    EXPECT_EQ(seam.WithDevice([](SimProgrammer& d) { return d.StatusReplies(); }), 1);
    EXPECT_TRUE(seam.ProtocolErrors().empty());
}

// A flush returns once every report written has been handled and its replies
// sent, however long the latency: they can then be read without waiting.
TEST(SimSeamLink, FlushWaitsUntilEveryReportIsHandled) {
    SimSeam seam(SimOptions{2000});
    Handles h = OpenBoth(seam);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(h.write->Write(Short(CMD_STATUS).data(), kReportSize));
    ASSERT_TRUE(seam.Flush());
    EXPECT_EQ(seam.WithDevice([](SimProgrammer& d) { return d.StatusReplies(); }), 3);
    Report r{};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(h.read->Read(r.data(), r.size(), 0), static_cast<int>(kReportSize));
        EXPECT_EQ(r[3], RPL_STATUS);
    }
    EXPECT_TRUE(seam.Flush());
}

TEST(SimSeamLink, RepliesOfOneCommandArriveInOrder) {
    SimSeam seam(SimOptions{0});
    Handles h = OpenBoth(seam);
    ASSERT_TRUE(h.write->Write(Short(CMD_READ_CHIP).data(), kReportSize));
    for (unsigned block = 0; block < 4096; ++block) {
        const Report r = ReadOne(*h.read);
        ASSERT_EQ(r[3], RPL_CHIP_BLOCK);
        ASSERT_EQ(test::Be16(r, 4), block * 16);
    }
}

TEST(SimSeamLink, DownloadWhileAnotherThreadInspectsTheDevice) {
    SimSeam seam(SimOptions{0});
    Handles h = OpenBoth(seam);
    std::atomic<bool> stop{false};
    std::atomic<int> looks{0};
    std::thread inspector([&] {
        while (!stop) {
            seam.WithDevice([](SimProgrammer& d) {
                return d.ImageLength() + d.Received().size() + d.ProtocolErrors().size();
            });
            ++looks;
            std::this_thread::yield();
        }
    });
    // Let the inspector start before the device gets busy (a loaded machine may
    // schedule it late).
    while (looks.load() == 0) std::this_thread::yield();
    EXPECT_EQ(Exchange(h, test::FileRequest())[3], RPL_DOWNLOAD_READY);
    EXPECT_EQ(Exchange(h, test::Begin())[3], RPL_BLOCK_ACK);
    for (unsigned i = 0; i < 40; ++i)
        ASSERT_EQ(Exchange(h, test::Block(i * 59, test::Bytes(59, static_cast<uint8_t>(i))))[3],
                  RPL_BLOCK_ACK);
    const Report done = Exchange(h, test::End(40 * 59 - 1, 0xFF));
    EXPECT_EQ(done[3], RPL_DOWNLOAD_DONE);
    const Report auto_result = [&] {
        EXPECT_TRUE(h.write->Write(Short(CMD_AUTO_PROGRAM, 0x17).data(), kReportSize));
        Report r{};
        do r = ReadOne(*h.read);
        while (r[3] != RPL_AUTO_RESULT && r[1] == ';');
        return r;
    }();
    stop = true;
    inspector.join();
    EXPECT_EQ(auto_result[6], 0);
    EXPECT_GT(looks.load(), 0);
    seam.WithDevice([](SimProgrammer& d) {
        EXPECT_EQ(d.ImageLength(), 40u * 59);
        EXPECT_EQ(d.SuccessCount(), 1u);
        EXPECT_TRUE(d.ProtocolErrors().empty());
    });
}

TEST(SimSeamLink, OptionsChangedThroughWithDeviceTakeEffect) {
    SimSeam seam(SimOptions{0});
    Handles h = OpenBoth(seam);
    seam.WithDevice([](SimProgrammer& d) { d.MutableOptions().noChip = true; });
    EXPECT_EQ(Exchange(h, Short(CMD_PROGRAM))[3], RPL_NO_CHIP);
    seam.WithDevice([](SimProgrammer& d) { d.MutableOptions().noChip = false; });
    EXPECT_EQ(Exchange(h, Short(CMD_READ_CHECKSUM))[3], RPL_CHECKSUM);
}

TEST(SimSeamPlug, UnplugEndsTheHandlesAndTheUnfinishedDownload) {
    SimSeam seam(SimOptions{0});
    std::vector<DeviceChangeKind> changes;
    seam.SetChangeListener([&](const DeviceChange& c) { changes.push_back(c.kind); });
    Handles h = OpenBoth(seam);
    EXPECT_EQ(Exchange(h, test::FileRequest())[3], RPL_DOWNLOAD_READY);
    EXPECT_TRUE(seam.WithDevice([](SimProgrammer& d) { return d.DownloadInProgress(); }));

    seam.Unplug();
    EXPECT_FALSE(seam.Plugged());
    EXPECT_FALSE(h.write->Write(Short(CMD_STATUS).data(), kReportSize));
    Report r{};
    EXPECT_EQ(h.read->Read(r.data(), r.size(), 10), -1);
    EXPECT_EQ(seam.Enumerate()->size(), 0u);
    EXPECT_FALSE(seam.Open(kSimPath, HidAccess::Write));
    EXPECT_FALSE(seam.WithDevice([](SimProgrammer& d) { return d.DownloadInProgress(); }));

    seam.Plug();
    EXPECT_TRUE(seam.Plugged());
    // Old handles stay dead; new ones work.
    EXPECT_FALSE(h.write->Write(Short(CMD_STATUS).data(), kReportSize));
    Handles fresh = OpenBoth(seam);
    EXPECT_EQ(Exchange(fresh, Short(CMD_STATUS))[3], RPL_STATUS);
    seam.SetChangeListener({});
    EXPECT_EQ(changes, (std::vector<DeviceChangeKind>{
                           DeviceChangeKind::RemoveComplete, DeviceChangeKind::NodesChanged,
                           DeviceChangeKind::Arrival, DeviceChangeKind::NodesChanged}));
}

TEST(SimSeamPlug, UnplugDuringASeriesDropsTheRestAndKeepsTheStorage) {
    SimSeam seam(SimOptions{50});
    Handles h = OpenBoth(seam);
    seam.WithDevice([](SimProgrammer& d) {
        test::Host host{d};
        host.Download({{0, {1, 2, 3}}}, 2);
    });
    ASSERT_TRUE(h.write->Write(Short(CMD_READ_CHIP).data(), kReportSize));
    EXPECT_EQ(ReadOne(*h.read)[3], RPL_CHIP_BLOCK);
    seam.Unplug();
    seam.Plug();
    Handles fresh = OpenBoth(seam);
    // The first reply on the new connection answers the new command.
    const Report status = Exchange(fresh, Short(CMD_STATUS));
    EXPECT_EQ(status[3], RPL_STATUS);
    EXPECT_EQ(test::Be16(status, 7), 3u);
}

TEST(SimSeamPlug, StartsUnpluggedWhenAskedTo) {
    SimSeam seam(SimOptions{0}, false);
    EXPECT_FALSE(seam.Plugged());
    EXPECT_TRUE(seam.Enumerate()->empty());
    EXPECT_FALSE(seam.Open(kSimPath, HidAccess::Read));
}

TEST(SimSeamPlug, DestroyingTheSeamDoesNotWaitForALongSeries) {
    auto seam = std::make_unique<SimSeam>(SimOptions{1000000});  // one second per reply
    auto h = seam->Open(kSimPath, HidAccess::Write);
    ASSERT_TRUE(h->Write(Short(CMD_READ_CHIP).data(), kReportSize));
    // Let the device thread start the series, then destroy it.
    seam->WithDevice([](SimProgrammer& d) { return d.Received().size(); });
    h.reset();
    seam.reset();
    SUCCEED();
}

// An unplug and a plug sent one after the other (kill -USR1; kill -USR2) are
// handled in that order, however many threads the process runs: in a process
// of its own, with idle threads as Qt starts them, another thread sends the
// pair and the order written to the pipe is read back.
TEST(PlugSignals, AnUnplugAndAPlugAreNeverReversed) {
    EXPECT_EXIT(
        {
            BlockPlugSignals();
            std::atomic<bool> stop{false};
            std::vector<std::thread> idle;
            for (int i = 0; i < 3; ++i)
                idle.emplace_back([&stop] {
                    while (!stop) std::this_thread::sleep_for(std::chrono::microseconds(50));
                });
            int pipeFds[2];
            if (::pipe(pipeFds) != 0 || !ForwardPlugSignals(pipeFds[1])) std::_Exit(2);
            int reversed = 0;
            for (int round = 0; round < 200; ++round) {
                std::thread sender([] {
                    ::kill(::getpid(), SIGUSR1);
                    ::kill(::getpid(), SIGUSR2);
                });
                char got[2] = {};
                std::size_t have = 0;
                while (have < 2) {
                    const ssize_t n = ::read(pipeFds[0], got + have, 2 - have);
                    if (n > 0) have += static_cast<std::size_t>(n);
                }
                sender.join();
                reversed += got[0] != 'u' || got[1] != 'p';
            }
            stop = true;
            for (auto& t : idle) t.join();
            std::_Exit(reversed == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qrv::sim
