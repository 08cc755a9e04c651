// SPDX-License-Identifier: GPL-3.0-or-later
// FilePlayer against a scripted output device that plays one buffer whenever the test asks: the
// samples in order around the loop, stopping while the device is stuck, restarting with new data,
// device choice and the quiet refusals.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "audio/FilePlayer.h"
#include "audio/SoundIn.h"
#include "support/FakePlaybackSink.h"
#include "support/WaitUntil.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using Samples = std::vector<int16_t>;

using FakeSink = test::FakePlaybackSink;

struct Fixture {
    FakeSink Sink;
    FilePlayer Player{Sink}; // last: stopped before the sink goes
};

// Distinct values counting up from `first`.
Samples Counting(size_t n, int16_t first) {
    Samples v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<int16_t>(first + static_cast<int>(i));
    return v;
}

// `count` samples of `samples` played round and round from the first.
Samples Looped(const Samples& samples, size_t count) {
    Samples out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = samples[i % samples.size()];
    return out;
}

TEST(FilePlayer, PlaysTheSamplesInOrderAndLoopsWithoutASeam) {
    // Longer and shorter than a buffer (100 samples at 1000 Hz), and a single sample.
    for (const size_t length : {257u, 100u, 7u, 1u}) {
        Fixture f;
        const Samples file = Counting(length, 1);
        ASSERT_TRUE(f.Player.Start(file, 1000, ""));
        EXPECT_TRUE(f.Player.Playing());
        EXPECT_EQ(f.Sink.Rate, 1000u);
        EXPECT_EQ(f.Player.SamplesPerBuffer(), 100u);
        const Samples heard = f.Sink.Hear(12); // beyond the buffers queued at the start
        EXPECT_EQ(heard, Looped(file, 1200)) << length << " samples";
    }
}

TEST(FilePlayer, StopEndsPromptlyWhileTheDeviceIsStuck) {
    Fixture f;
    f.Sink.Mode = FakeSink::Playing::Stuck;
    ASSERT_TRUE(f.Player.Start(Counting(5000, 1), 48000, ""));
    ASSERT_TRUE(test::WaitUntil([&] { return f.Sink.Holding.load(); }, 2s));
    std::this_thread::sleep_for(50ms); // the worker waits for a buffer that never comes back
    const auto start = std::chrono::steady_clock::now();
    f.Player.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(f.Player.Playing());
    EXPECT_EQ(f.Sink.Closes, 1);
    EXPECT_FALSE(f.Sink.Play(10ms)); // nothing is queued any more
    f.Player.Stop();                 // a second Stop does nothing
    EXPECT_EQ(f.Sink.Closes, 1);
}

TEST(FilePlayer, StartWhilePlayingRestartsFromTheFirstSampleOfTheNewData) {
    Fixture f;
    const Samples first = Counting(300, 1);
    ASSERT_TRUE(f.Player.Start(first, 1000, ""));
    EXPECT_EQ(f.Sink.Hear(2), Looped(first, 200));

    const Samples second = Counting(450, -1000);
    ASSERT_TRUE(f.Player.Start(second, 2000, ""));
    EXPECT_EQ(f.Sink.Opens, 2);
    EXPECT_EQ(f.Sink.Closes, 1);
    EXPECT_EQ(f.Sink.Rate, 2000u);
    EXPECT_EQ(f.Sink.Hear(5), Looped(second, 1000)); // 200 samples per buffer now
}

TEST(FilePlayer, ChoosesTheDeviceByNameWithoutRegardToCaseElseTheDefault) {
    Fixture f;
    ASSERT_TRUE(f.Player.Start(Counting(10, 1), 8000, "usb audio"));
    EXPECT_EQ(f.Sink.OpenedDevice, 1);
    ASSERT_TRUE(f.Player.Start(Counting(10, 1), 8000, "HDA INTEL PCH"));
    EXPECT_EQ(f.Sink.OpenedDevice, 0);
    f.Sink.Default = 1;
    ASSERT_TRUE(f.Player.Start(Counting(10, 1), 8000, "Nothing by this name"));
    EXPECT_EQ(f.Sink.OpenedDevice, 1);
    f.Sink.Default = 0;
    ASSERT_TRUE(f.Player.Start(Counting(10, 1), 8000, ""));
    EXPECT_EQ(f.Sink.OpenedDevice, 0);
}

TEST(FilePlayer, RefusesQuietlyWhatItCannotPlay) {
    Fixture f;
    f.Player.Stop(); // nothing started: nothing to do
    EXPECT_FALSE(f.Player.Start({}, 48000, ""));
    EXPECT_FALSE(f.Player.Start(Counting(10, 1), 0, ""));
    EXPECT_EQ(f.Sink.Opens, 0);

    f.Sink.Names.clear();
    EXPECT_FALSE(f.Player.Start(Counting(10, 1), 48000, ""));
    f.Sink.Names = {"Speakers"};
    f.Sink.QueryCode = SoundInBadDeviceId;
    EXPECT_FALSE(f.Player.Start(Counting(10, 1), 48000, ""));
    EXPECT_EQ(f.Sink.Opens, 0);
    f.Sink.QueryCode = 0;
    for (const int code : {SoundInAllocated, SoundInBadFormat, SoundInUnspecified}) {
        f.Sink.OpenCode = code;
        EXPECT_FALSE(f.Player.Start(Counting(10, 1), 48000, ""));
        EXPECT_FALSE(f.Player.Playing());
    }
    f.Sink.OpenCode = 0;
    f.Sink.StartCode = SoundInUnspecified;
    const int closes = f.Sink.Closes;
    EXPECT_FALSE(f.Player.Start(Counting(10, 1), 48000, ""));
    EXPECT_FALSE(f.Player.Playing());
    EXPECT_GT(f.Sink.Closes, closes); // the opened device is closed again

    f.Sink.StartCode = 0; // the player is still usable
    ASSERT_TRUE(f.Player.Start(Counting(10, 1), 48000, ""));
    EXPECT_EQ(f.Sink.Hear(1), Looped(Counting(10, 1), 4800));
}

} // namespace
} // namespace kv
