#include "link/device_change.h"

#include <gtest/gtest.h>

namespace qrv {
namespace {

using A = DeviceChangeAction;
const A kConnect{A::Connect};
const A kClose{A::CloseWriteLink};
A PauseMs(int ms) {
    return {A::Pause, ms};
}

TEST(DeviceChangeTracker, ArrivalThenNodeChangeConnectsTwiceInOneMessage) {
    DeviceChangeTracker t;
    EXPECT_TRUE(t.Handle(DeviceChangeKind::Arrival, false).empty());
    EXPECT_EQ(t.ArrivalSeen, 1);
    auto actions = t.Handle(DeviceChangeKind::NodesChanged, false);
    EXPECT_EQ(actions, (std::vector<A>{PauseMs(5), kConnect, kConnect}));
    EXPECT_EQ(t.ArrivalSeen, 0);
    EXPECT_EQ(t.NodesChanged, 0);
}

TEST(DeviceChangeTracker, EveryNodeChangeReconnects) {
    DeviceChangeTracker t;
    EXPECT_EQ(t.Handle(DeviceChangeKind::NodesChanged, false),
              (std::vector<A>{PauseMs(5), kConnect}));
    EXPECT_EQ(t.NodesChanged, 1);
    EXPECT_EQ(t.Handle(DeviceChangeKind::NodesChanged, false),
              (std::vector<A>{PauseMs(5), kConnect}));
}

TEST(DeviceChangeTracker, RemovalOfTheWriteHandleClosesItAtOnce) {
    DeviceChangeTracker t;
    EXPECT_EQ(t.Handle(DeviceChangeKind::RemoveComplete, true), (std::vector<A>{kClose}));
    EXPECT_EQ(t.RemovalSeen, 1);
    // The node change that follows clears RemovalSeen before the pair check.
    EXPECT_EQ(t.Handle(DeviceChangeKind::NodesChanged, false),
              (std::vector<A>{PauseMs(5), kConnect}));
    EXPECT_EQ(t.RemovalSeen, 0);
}

TEST(DeviceChangeTracker, RemovalOfAnotherHandleOnlyMarksOrCompletesAPendingPair) {
    DeviceChangeTracker t;
    // No node change pending: only RemovalSeen is set.
    EXPECT_TRUE(t.Handle(DeviceChangeKind::RemoveComplete, false).empty());
    EXPECT_EQ(t.RemovalSeen, 1);

    DeviceChangeTracker pending;
    pending.Handle(DeviceChangeKind::NodesChanged, false);
    ASSERT_EQ(pending.NodesChanged, 1);
    EXPECT_EQ(pending.Handle(DeviceChangeKind::RemoveComplete, false),
              (std::vector<A>{PauseMs(10), kConnect}));
    EXPECT_EQ(pending.RemovalSeen, 0);
    EXPECT_EQ(pending.NodesChanged, 0);
}

}  // namespace
}  // namespace qrv
