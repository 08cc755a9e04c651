// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor state on its own: the copy of the captured buffer, the low-passed fill with its wait
// for new input, mute, and the clip hand-over with its waiter.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "audio/Monitor.h"
#include "support/WaitUntil.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::vector<int16_t> Constant(size_t n, int16_t value) {
    return std::vector<int16_t>(n, value);
}

// Samples 1, 2, 3 ... so that every position of a clip is recognisable.
std::vector<int16_t> Counting(size_t n) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<int16_t>(1 + i % 30000);
    return v;
}

void WaitUntilPending(const MonitorState& m) {
    ASSERT_TRUE(test::WaitUntil([&] { return m.ClipPending(); }, 5s));
}

TEST(Monitor, CopyGrowsToHalfAgainTheNeedAndFreeingEmptiesIt) {
    MonitorState m;
    const std::vector<int16_t> data = Constant(200, 7);
    m.Copy(data.data(), 100, true);
    EXPECT_EQ(m.MonitorLength(), 100u);
    EXPECT_EQ(m.MonitorCapacity(), 150u);
    m.Copy(data.data(), 150, true); // fits: kept
    EXPECT_EQ(m.MonitorCapacity(), 150u);
    m.Copy(data.data(), 151, true);
    EXPECT_EQ(m.MonitorCapacity(), 226u); // trunc(3 * 151 / 2)
    m.Copy(data.data(), 40, true);
    EXPECT_EQ(m.MonitorLength(), 40u);
    EXPECT_EQ(m.MonitorCapacity(), 226u); // never shrinks while copying

    m.Copy(data.data(), 40, false); // without duplex audio the copy is freed
    EXPECT_EQ(m.MonitorLength(), 0u);
    EXPECT_EQ(m.MonitorCapacity(), 0u);
    m.Copy(data.data(), 40, true);
    m.Free();
    EXPECT_EQ(m.MonitorLength(), 0u);
    EXPECT_EQ(m.MonitorCapacity(), 0u);

    std::vector<int16_t> out(64, 5);
    EXPECT_EQ(m.Fill(out.data(), out.size(), 96000), 64u); // no copy: silence of the whole buffer
    EXPECT_EQ(out, Constant(64, 0));
}

TEST(Monitor, BadInputIsHandledWithoutHarm) {
    MonitorState m;
    m.Copy(nullptr, 1000, true); // no samples: an empty copy
    EXPECT_EQ(m.MonitorLength(), 0u);
    EXPECT_EQ(m.Fill(nullptr, 100, 96000), 0u);
    std::vector<int16_t> out(8, 5);
    EXPECT_EQ(m.Fill(out.data(), out.size(), 0), 8u); // no rate: no wait, silence
    EXPECT_TRUE(m.QueueClip({}, 10ms));               // nothing to play counts as played
    EXPECT_FALSE(m.ClipPending());
}

TEST(Monitor, FillLowPassesTheCopyAndKeepsTheStateBetweenBuffers) {
    MonitorState m;
    const std::vector<int16_t> up = Constant(4, 1000), down = Constant(3, -1000);
    std::vector<int16_t> out(6, 42);
    m.Copy(up.data(), up.size(), true);
    EXPECT_EQ(m.Fill(out.data(), out.size(), 96000), 4u);
    EXPECT_EQ(out, (std::vector<int16_t>{150, 277, 385, 477, 42, 42}));
    m.Copy(down.data(), down.size(), true);
    EXPECT_EQ(m.Fill(out.data(), out.size(), 96000), 3u);
    // 256.29..., 67.85..., -92.32...: truncated toward zero
    EXPECT_EQ(out, (std::vector<int16_t>{256, 67, -92, 477, 42, 42}));
}

TEST(Monitor, ACopyLongerThanTheBufferFillsWhatFitsAndReportsItsWholeLength) {
    MonitorState m;
    const std::vector<int16_t> data = Constant(10, 1000);
    std::vector<int16_t> out(5, 42);
    m.Copy(data.data(), data.size(), true);
    EXPECT_EQ(m.Fill(out.data(), 4, 96000), 10u);
    EXPECT_EQ(out[3], 477);
    EXPECT_EQ(out[4], 42); // nothing written past the room given
}

TEST(Monitor, MuteGivesSilenceButClipsStillPlay) {
    MonitorState m;
    const std::vector<int16_t> data = Constant(100, 1000);
    std::vector<int16_t> out(50, 42);
    m.Copy(data.data(), data.size(), true);
    m.SetMute(true);
    EXPECT_TRUE(m.Muted());
    EXPECT_EQ(m.Fill(out.data(), out.size(), 96000), 50u);
    EXPECT_EQ(out, Constant(50, 0));

    const std::vector<int16_t> clip = Counting(30);
    auto played = std::async(std::launch::async, [&] { return m.QueueClip(clip, 5s); });
    WaitUntilPending(m);
    EXPECT_EQ(m.Fill(out.data(), out.size(), 96000), 30u);
    EXPECT_TRUE(std::equal(clip.begin(), clip.end(), out.begin()));
    EXPECT_TRUE(played.get());

    m.SetMute(false);
    m.Copy(data.data(), data.size(), true);
    EXPECT_EQ(m.Fill(out.data(), out.size(), 96000), 100u);
    EXPECT_EQ(out[0], 150);
}

TEST(Monitor, FillWaitsAQuarterOfAnInputBufferForNewInput) {
    MonitorState m;
    const std::vector<int16_t> data = Constant(192000, 100); // 4 s at 48 kHz: waits of 1 s
    std::vector<int16_t> out(16);
    m.Copy(data.data(), data.size(), true);

    auto start = Clock::now();
    m.Fill(out.data(), out.size(), 48000); // new input is already there
    EXPECT_LT(Clock::now() - start, 500ms);

    start = Clock::now();
    m.Fill(out.data(), out.size(), 48000); // nothing new: gives up after a quarter
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 995ms);
    EXPECT_LT(waited, 2500ms);

    start = Clock::now();
    auto filled = std::async(std::launch::async, [&] {
        m.Fill(out.data(), out.size(), 48000);
        return Clock::now();
    });
    std::this_thread::sleep_for(50ms);
    m.Copy(data.data(), 1000, true); // new input wakes it
    EXPECT_LT(filled.get() - start, 700ms);
}

TEST(Monitor, AClipLongerThanTheBufferContinuesInTheNextWithoutWaiting) {
    MonitorState m;
    const std::vector<int16_t> monitor = Constant(192000, 100); // waits of 1 s at 48 kHz
    const std::vector<int16_t> clip = Counting(5000);
    std::vector<int16_t> out(3000);
    m.Copy(monitor.data(), monitor.size(), true);
    std::vector<int16_t> discard(16);
    m.Fill(discard.data(), discard.size(), 48000); // takes the new-input signal

    auto played = std::async(std::launch::async, [&] { return m.QueueClip(clip, 5s); });
    WaitUntilPending(m);
    auto start = Clock::now();
    EXPECT_EQ(m.Fill(out.data(), out.size(), 48000), 3000u); // queueing signals new input
    EXPECT_TRUE(std::equal(out.begin(), out.end(), clip.begin()));
    EXPECT_EQ(played.wait_for(0ms), std::future_status::timeout); // not yet played out
    EXPECT_EQ(m.Fill(out.data(), out.size(), 48000), 2000u);      // the rest
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 2000, clip.begin() + 3000));
    EXPECT_LT(Clock::now() - start, 800ms);
    EXPECT_TRUE(played.get());
    EXPECT_FALSE(m.ClipPending());
    EXPECT_EQ(m.Fill(out.data(), out.size(), 48000), monitor.size()); // back to the monitor
}

TEST(Monitor, DroppingAClipWakesItsWaiterAndATimeOutEmptiesIt) {
    MonitorState m;
    auto waiter = std::async(std::launch::async, [&] { return m.QueueClip(Counting(100)); });
    WaitUntilPending(m);
    const auto start = Clock::now();
    m.DropClip();
    EXPECT_FALSE(waiter.get()); // no time-out given: only the drop ends the wait
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_FALSE(m.ClipPending());
    std::vector<int16_t> out(100, 5);
    EXPECT_EQ(m.Fill(out.data(), out.size(), 96000), 100u);
    EXPECT_EQ(out, Constant(100, 0)); // the dropped clip is not played

    EXPECT_FALSE(m.QueueClip(Counting(100), 30ms)); // nobody plays it
    EXPECT_FALSE(m.ClipPending());
}

TEST(Monitor, AClipQueuedOverAnotherReplacesIt) {
    MonitorState m;
    auto first = std::async(std::launch::async, [&] { return m.QueueClip(Constant(10, 1)); });
    WaitUntilPending(m);
    auto second = std::async(std::launch::async, [&] { return m.QueueClip(Constant(10, 2), 5s); });
    EXPECT_FALSE(first.get());
    WaitUntilPending(m);
    std::vector<int16_t> out(10);
    EXPECT_EQ(m.Fill(out.data(), out.size(), 96000), 10u);
    EXPECT_EQ(out, Constant(10, 2));
    EXPECT_TRUE(second.get());
}

} // namespace
} // namespace kv
