#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/programmer_link.h"
#include "link/reader_thread.h"
#include "tests/support/fake_hid.h"

namespace qrv {
namespace {

using namespace std::chrono_literals;
using test::FakeDevice;
using test::FakeHandle;
using test::FakeInterface;

struct Reader : ::testing::Test {
    std::shared_ptr<FakeDevice> dev = std::make_shared<FakeDevice>();
    FakeInterface iface{"p"};
    ReplyChannel channel;

    std::shared_ptr<HidHandle> Handle() { return std::make_shared<FakeHandle>(iface, dev); }
    // Waits for the next report the reader hands over.
    std::optional<Report> Next(std::chrono::milliseconds timeout = 2000ms) {
        std::optional<Report> got;
        channel.WaitAndDispatch(timeout, [&](const Report& r) { got = r; });
        return got;
    }
};

TEST_F(Reader, OnlyReportsWithTheReplyMarkerAreHandedOver) {
    THidthread reader(Handle(), 65, channel);
    auto noMarker = test::Reply(0x35);
    noMarker[1] = 'X';
    dev->Push(noMarker);
    dev->Push(test::Reply(0x7C));
    auto r = Next();
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)[3], 0x7C);
}

TEST_F(Reader, AFailedReadAfterAHandledReplyHandsNothingOver) {
    THidthread reader(Handle(), 65, channel);
    dev->Push(test::Reply(0x35));
    ASSERT_TRUE(Next());
    dev->Push({});  // a failed read
    dev->Push({});
    EXPECT_FALSE(Next(100ms));
}

TEST_F(Reader, LongInputReportsNeverOverrunTheReport) {
    THidthread reader(Handle(), 200, channel);
    auto big = test::Reply(0x35, 200);
    for (std::size_t i = 65; i < big.size(); ++i) big[i] = 0xEE;
    dev->Push(big);
    auto r = Next();
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)[64], 0);
    std::lock_guard<std::mutex> lock(dev->mutex);
    EXPECT_EQ(dev->readLengths.front(), 200u);
}

TEST_F(Reader, AnUnknownInputLengthReads65Bytes) {
    THidthread reader(Handle(), 0, channel);
    dev->Push(test::Reply(0x35));
    ASSERT_TRUE(Next());
    std::lock_guard<std::mutex> lock(dev->mutex);
    EXPECT_EQ(dev->readLengths.front(), 65u);
}

TEST_F(Reader, StopWhileAReplyWaitsDropsItAndNeverDeadlocks) {
    auto reader = std::make_unique<THidthread>(Handle(), 65, channel);
    dev->Push(test::Reply(0x35));
    // Nobody dispatches: the reader waits in the hand-off until it is stopped.
    std::this_thread::sleep_for(50ms);
    reader->Stop();
    reader.reset();
    EXPECT_FALSE(channel.DispatchPending([](const Report&) { FAIL(); }));
}

TEST_F(Reader, AVanishedDeviceKeepsTheLoopQuiet) {
    THidthread reader(Handle(), 65, channel);
    {
        std::lock_guard<std::mutex> lock(dev->mutex);
        dev->gone = true;
    }
    dev->cv.notify_all();
    EXPECT_FALSE(Next(50ms));
}

TEST(ReaderOnReconnect, TheLinkRunsOneReaderAndClosesTheOldReadHandle) {
    test::FakeSeam seam;
    FakeDevice& dev = seam.Add(FakeInterface{"p"});
    ReplyChannel channel;
    ProgrammerLink link(seam, channel);
    ASSERT_EQ(link.FindProgrammer(), ProgrammerLink::kFound);
    link.StartReader();
    EXPECT_EQ(dev.openHandles, 2);
    // A reconnection: close both sides, find again, start again.
    link.CloseWriteLink();
    link.CloseReadSide();
    EXPECT_EQ(dev.openHandles, 0);
    ASSERT_EQ(link.FindProgrammer(), ProgrammerLink::kFound);
    link.StartReader();
    EXPECT_EQ(dev.openHandles, 2);
    dev.Push(test::Reply(0x35));
    std::optional<Report> got;
    channel.WaitAndDispatch(2s, [&](const Report& r) { got = r; });
    EXPECT_TRUE(got);
}

}  // namespace
}  // namespace qrv
