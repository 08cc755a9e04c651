// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-over both audio rings share: slots pass from worker to device and back in ring order,
// the device's waits end on a queued slot, a time-out or a stop, and a reset leaves no stale
// wake-up behind.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "audio/RingCore.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

// Long enough for a woken thread on a loaded machine.
constexpr auto WakeLimit = 5s;
// Short enough to keep the test quick, long enough for a wrong wake-up to show.
constexpr auto StillWaiting = 30ms;

// Stops the ring when a test ends early, so that no thread of it is left waiting for good.
struct StopOnExit {
    RingCore& Ring;
    ~StopOnExit() { Ring.Stop(); }
};

TEST(RingCore, SlotsGoToTheDeviceAndBackInRingOrderAndWrapAround) {
    RingCore ring;
    ASSERT_EQ(ring.SetCount(3), 3);
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3; ++i)
            ring.Queue(i);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(ring.WaitForNext(0ms));
            EXPECT_EQ(ring.NextIndex(), i);
            EXPECT_FALSE(ring.IsDone(i));
            ring.FinishNext();
            EXPECT_TRUE(ring.IsDone(i));
        }
        EXPECT_EQ(ring.NextIndex(), 0) << "back at the first slot";
    }
    EXPECT_EQ(ring.DeviceWaits(), 0u) << "every slot was queued before the device looked";
}

TEST(RingCore, TheCountIsKeptBetweenOneAndTheMostSlots) {
    RingCore ring;
    EXPECT_EQ(ring.SetCount(0), 1);
    EXPECT_EQ(ring.SetCount(RingCore::MaxSlots + 1), RingCore::MaxSlots);
    EXPECT_EQ(ring.Count(), RingCore::MaxSlots);
    ring.Reset();
    EXPECT_EQ(ring.Count(), 0);
    EXPECT_FALSE(ring.WaitForNext(0ms)) << "a ring without slots has nothing to play";
}

TEST(RingCore, TheDeviceWaitsForTheNextSlotInOrderAndCountsTheWaitOnce) {
    RingCore ring;
    ring.SetCount(2);
    ring.Queue(1); // out of order: the device wants slot 0
    EXPECT_FALSE(ring.WaitForNext(StillWaiting / 3));
    EXPECT_EQ(ring.DeviceWaits(), 1u);
    ring.FinishNext(); // slot 0 is not queued: nothing to finish
    EXPECT_EQ(ring.NextIndex(), 0);
    EXPECT_FALSE(ring.IsDone(0));

    auto device = std::async(std::launch::async, [&] { return ring.WaitForNext(); });
    const StopOnExit guard{ring};
    EXPECT_EQ(device.wait_for(StillWaiting), std::future_status::timeout);
    ring.Queue(0);
    ASSERT_EQ(device.wait_for(WakeLimit), std::future_status::ready);
    EXPECT_TRUE(device.get());
    EXPECT_EQ(ring.DeviceWaits(), 2u);
}

TEST(RingCore, StopWakesBothSidesForGood) {
    RingCore ring;
    ring.SetCount(2);
    auto device = std::async(std::launch::async, [&] { return ring.WaitForNext(); });
    auto worker = std::async(std::launch::async, [&] { ring.WaitForDone(); });
    const StopOnExit guard{ring};
    EXPECT_EQ(device.wait_for(StillWaiting), std::future_status::timeout);
    ring.Stop();
    ASSERT_EQ(device.wait_for(WakeLimit), std::future_status::ready);
    ASSERT_EQ(worker.wait_for(WakeLimit), std::future_status::ready);
    EXPECT_FALSE(device.get());
    ring.Queue(0);
    EXPECT_FALSE(ring.WaitForNext(0ms)) << "a queued slot is not taken after a stop";
    EXPECT_TRUE(ring.Stopped());
}

TEST(RingCore, AResetLeavesNoWakeUpOfTheLastRunBehind) {
    RingCore ring;
    ring.SetCount(2);
    ring.Stop(); // posts to both sides
    ring.Reset();
    ring.SetCount(2);
    EXPECT_FALSE(ring.Stopped());
    auto worker = std::async(std::launch::async, [&] { ring.WaitForDone(); });
    const StopOnExit guard{ring};
    EXPECT_EQ(worker.wait_for(StillWaiting), std::future_status::timeout)
        << "the stop's post was drained";
    ring.Queue(0);
    ASSERT_TRUE(ring.WaitForNext(0ms));
    ring.FinishNext();
    EXPECT_EQ(worker.wait_for(WakeLimit), std::future_status::ready);
}

} // namespace
} // namespace kv
