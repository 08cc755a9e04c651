// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "CoreHarness.h"

namespace kv {
namespace {

using test::ClickTrain;
using test::CoreHarness;

struct Tape18000 : ::testing::Test {
    void SetUp() override { h.StartForClicks(); }
    CoreHarness h;
};

TEST_F(Tape18000, OneSlotPerBufferAndEmptySlotsForMissingTicks) {
    ClickTrain train;
    train.Seconds = 2;
    train.Missing = {4};
    h.Feed(train.Make());
    const TapeState& t = h.Core.Tape;
    EXPECT_EQ(t.TapeWriteIndex, 9); // ten buffers: the first buffer does not advance
    int filled = 0;
    for (int i = 0; i <= t.TapeWriteIndex; ++i)
        filled += t.Entries[i].Time != 0;
    EXPECT_EQ(filled, 9); // slot 4 held the silent beat
    // Ticks 0.05 s into 0.2 s buffers: a quarter beat before the datum.
    EXPECT_NEAR(t.Entries[3].Phase, -0.25, 1e-3);
}

TEST_F(Tape18000, DiscardOddKeepsEvenBeatsOnly) {
    h.Core.Settings.DiscardOdd = 1;
    ClickTrain train;
    train.Seconds = 2;
    h.Feed(train.Make());
    const TapeState& t = h.Core.Tape;
    for (int i = 1; i < t.TapeWriteIndex; ++i)
        EXPECT_EQ(t.Entries[i].Time != 0, i % 2 == 0) << i;
}

TEST_F(Tape18000, CentringPendingSuppressesDots) {
    h.Core.CentringPending = true;
    ClickTrain train;
    train.Seconds = 1;
    h.Feed(train.Make());
    for (const TapeEntry& e : h.Core.Tape.Entries)
        EXPECT_EQ(e.Time, 0u);
}

TEST_F(Tape18000, FreezesWhileNoSignalAndResumesWithoutJump) {
    ClickTrain train;
    train.Seconds = 1;
    h.Feed(train.Make());
    h.Feed(std::vector<int16_t>(48000 * 6, 0));
    h.Core.OnAutoStopTimer();
    h.Feed(std::vector<int16_t>(9600, 0)); // the buffer after the time-out still advances
    const int index = h.Core.Tape.TapeWriteIndex;
    h.Feed(std::vector<int16_t>(48000 * 2, 0));
    EXPECT_EQ(h.Core.Tape.TapeWriteIndex, index);
    h.Feed(train.Make());
    EXPECT_FALSE(h.Core.NoSignal);
    EXPECT_EQ(h.Core.Tape.TapeWriteIndex, index + 4); // five buffers, the first still frozen
}

TEST_F(Tape18000, WritingPastTheEndGrowsInSteps) {
    h.Core.Tape.TapeWriteIndex = 10239;
    h.Core.Tape.TapeBufferMark = h.Core.Detector.BufferCounter;
    ClickTrain train;
    train.Seconds = 0.4;
    train.FirstTick = 0.3;
    h.Feed(train.Make());
    EXPECT_EQ(h.Core.Tape.TapeWriteIndex, 10240);
    EXPECT_EQ(h.Core.Tape.Entries.size(), 10241u);
    EXPECT_EQ(h.Core.Tape.Entries.capacity(), 20480u);
    EXPECT_NE(h.Core.Tape.Entries[10240].Time, 0u);
}

TEST_F(Tape18000, ClearAndFeedCommands) {
    ClickTrain train;
    train.Seconds = 1;
    h.Feed(train.Make());
    h.Core.ClearTape();
    EXPECT_EQ(h.Core.Tape.TapeWriteIndex, 0);
    EXPECT_EQ(h.Core.Tape.Entries.size(), 10240u);
    EXPECT_EQ(h.Core.Tape.TapeBufferMark, h.Core.Detector.BufferCounter);
    h.Core.ToggleFeed(10);
    EXPECT_EQ(h.Core.Settings.SlowFeed, 10);
    h.Core.ToggleFeed(10);
    EXPECT_EQ(h.Core.Settings.SlowFeed, 1);
    h.Core.ToggleFeed(-10);
    h.Core.ToggleFeed(100);
    EXPECT_EQ(h.Core.Settings.SlowFeed, 100);
    h.Core.SetFeedNormal();
    EXPECT_EQ(h.Core.Settings.SlowFeed, 1);
}

TEST(TapePendulum, AdvancesOncePerFourBuffers) {
    CoreHarness h;
    h.StartForClicks(48000, "1 sec");
    ASSERT_EQ(h.Core.Derived.BuffersPerBeat, 4);
    ClickTrain train;
    train.Periods = {1.0};
    train.Seconds = 6;
    train.FirstTick = 0.6;
    h.Feed(train.Make());
    EXPECT_EQ(h.Core.Tape.TapeWriteIndex, 5); // 24 buffers, one slot per four after the first
    EXPECT_EQ(h.Core.Detector.UnlockCount, 6);
}

} // namespace
} // namespace kv
