// SPDX-License-Identifier: GPL-3.0-or-later
// CSoundOut against a scripted output device that plays one buffer whenever the test asks: the
// buffers' contents and lengths, the block capacity rules, clips, device choice, failure messages,
// closing with a stuck worker, and the worker's cost in steady state.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "AllocationCounter.h"
#include "audio/SoundIn.h"
#include "audio/SoundOut.h"
#include "support/FakePlaybackSink.h"
#include "support/WaitUntil.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using Samples = std::vector<int16_t>;

using FakeSink = test::FakePlaybackSink;

struct Fixture {
    Fixture()
        : Monitor(std::make_shared<MonitorState>()),
          Sound(Monitor, Sink, [this](const std::string& m) { Messages.push_back(m); }) {
        Sound.SetRingSize(2);
    }
    void Copy(const Samples& s) { Monitor->Copy(s.data(), s.size(), true); }
    FakeSink Sink;
    std::shared_ptr<MonitorState> Monitor;
    std::vector<std::string> Messages;
    CSoundOut Sound; // last: closed before the sink goes
};

Samples Counting(size_t n) {
    Samples v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<int16_t>(1 + i % 30000);
    return v;
}

TEST(SoundOut, StartsWithSilentBuffersThenPlaysTheMonitorAtItsLength) {
    Fixture f;
    f.Sound.SetRingSize(3);
    ASSERT_EQ(f.Sound.Start(), 0);
    for (int i = 0; i < 3; ++i) { // every buffer of the ring, silent, at the starting length
        const auto b = f.Sink.Play();
        ASSERT_TRUE(b);
        EXPECT_EQ(*b, Samples(24000, 0));
    }
    const auto empty = f.Sink.Play(); // no copy yet: a silent buffer of the block's capacity
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, Samples(48000, 0));

    f.Copy(Samples(20000, 1000));
    ASSERT_TRUE(f.Sink.PlayUntilLength(20000));
    const auto b = f.Sink.Play();
    ASSERT_TRUE(b);
    ASSERT_EQ(b->size(), 20000u);
    EXPECT_EQ(b->back(), 999); // the low-pass has settled just below the input
    const auto start = std::chrono::steady_clock::now();
    f.Sound.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(f.Sound.Running());
    EXPECT_FALSE(f.Sound.WorkerAbandoned());
}

// Plays until the buffers carry the copy's length twice in a row: both ring buffers have been
// refilled from it, so the worker's sizes no longer change.
void Settle(Fixture& f, size_t length) {
    f.Copy(Samples(length, 500));
    ASSERT_TRUE(f.Sink.PlayUntilLength(length));
    ASSERT_TRUE(f.Sink.PlayUntilLength(length, 1));
}

TEST(SoundOut, TheBlockCapacityGrowsToFitAndShrinksOnlyBelowAThirdUsed) {
    Fixture f;
    ASSERT_EQ(f.Sound.Start(), 0);
    EXPECT_EQ(f.Sound.BlockCapacityBytes(), 96000u);

    Settle(f, 20000); // 40000 bytes use more than a third of 96000: the block stays
    EXPECT_EQ(f.Sound.SamplesPerBuffer(), 20000u);
    EXPECT_EQ(f.Sound.BlockCapacityBytes(), 96000u);

    Settle(f, 10000); // 20000 bytes use less than a third: the block shrinks to fit
    EXPECT_EQ(f.Sound.SamplesPerBuffer(), 10000u);
    EXPECT_EQ(f.Sound.BlockCapacityBytes(), 20000u);

    Settle(f, 60000); // more than the block holds: it grows to fit
    EXPECT_EQ(f.Sound.SamplesPerBuffer(), 60000u);
    EXPECT_EQ(f.Sound.BlockCapacityBytes(), 120000u);
    const auto b = f.Sink.Play();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->size(), 60000u);
    EXPECT_EQ(b->back(), 499);

    f.Sound.Close(); // the sizes carry over to the next start
    ASSERT_EQ(f.Sound.Start(), 0);
    const auto first = f.Sink.Play();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), 60000u);
}

// Until the clip is pending or, taken by a fill already under way, played.
void WaitUntilQueued(const MonitorState& m, std::future<bool>& done) {
    test::WaitUntil(
        [&] { return m.ClipPending() || done.wait_for(0s) == std::future_status::ready; }, 5s);
}

TEST(SoundOut, AClipOfFiveThousandSamplesIsExactlyOneBuffer) {
    Fixture f;
    f.Copy(Samples(20000, 300));
    ASSERT_EQ(f.Sound.Start(), 0);
    ASSERT_TRUE(f.Sink.PlayUntilLength(20000));

    const Samples clip = Counting(5000);
    auto done = std::async(std::launch::async, [&] { return f.Monitor->QueueClip(clip, 3s); });
    WaitUntilQueued(*f.Monitor, done);
    std::vector<Samples> played;
    for (int i = 0; i < 4; ++i) {
        const auto b = f.Sink.Play();
        ASSERT_TRUE(b);
        played.push_back(*b);
    }
    EXPECT_TRUE(done.get());
    int clips = 0;
    for (const Samples& b : played) {
        if (b == clip)
            ++clips;
        else
            EXPECT_EQ(b.size(), 20000u); // the monitor before and after
    }
    EXPECT_EQ(clips, 1);
}

TEST(SoundOut, ALongerClipSpansBuffersInOrder) {
    Fixture f;
    const Samples clip = Counting(100000);
    auto done = std::async(std::launch::async, [&] { return f.Monitor->QueueClip(clip, 5s); });
    WaitUntilQueued(*f.Monitor, done);
    ASSERT_EQ(f.Sound.Start(), 0);
    Samples heard;
    std::vector<size_t> lengths;
    for (int i = 0; i < 5; ++i) {
        const auto b = f.Sink.Play();
        ASSERT_TRUE(b);
        if (i >= 2) heard.insert(heard.end(), b->begin(), b->end()); // after the starting two
        lengths.push_back(b->size());
    }
    EXPECT_EQ(lengths, (std::vector<size_t>{24000, 24000, 48000, 48000, 4000}));
    EXPECT_EQ(heard, clip);
    EXPECT_TRUE(done.get());
    const auto after = f.Sink.Play(); // then silence again
    ASSERT_TRUE(after);
    EXPECT_EQ(*after, Samples(after->size(), 0));
}

TEST(SoundOut, ChoosesTheDeviceByNameWithoutRegardToCaseElseTheDefault) {
    Fixture f;
    f.Sound.DeviceName = "usb audio";
    f.Sound.SampleRate = 48000;
    ASSERT_EQ(f.Sound.Start(), 0);
    EXPECT_EQ(f.Sink.OpenedDevice, 1);
    EXPECT_EQ(f.Sink.Rate, 48000u);
    f.Sound.Close();
    f.Sound.DeviceName = "Nothing by this name";
    f.Sink.Default = 1;
    ASSERT_EQ(f.Sound.Start(), 0);
    EXPECT_EQ(f.Sink.OpenedDevice, 1);
    f.Sink.Default = 0;
    f.Sound.Close();
    ASSERT_EQ(f.Sound.Start(), 0);
    EXPECT_EQ(f.Sink.OpenedDevice, 0);
}

TEST(SoundOut, StartFailuresGiveTheirMessagesAndCodes) {
    Fixture f;
    f.Sink.Names.clear();
    EXPECT_EQ(f.Sound.Start(), 2);
    f.Sink.Names = {"Speakers"};
    f.Sink.QueryCode = SoundInBadDeviceId;
    EXPECT_EQ(f.Sound.Start(), SoundInBadDeviceId);
    f.Sink.QueryCode = 0;
    for (const int code : std::initializer_list<int>{
             SoundInBadDeviceId, SoundInAllocated, SoundInNoDriver, SoundInNoMemory,
             SoundInBadFormat, SoundInUnspecified, SoundInNotEnabled, 77}) {
        f.Sink.OpenCode = code;
        EXPECT_EQ(f.Sound.Start(), code);
        EXPECT_FALSE(f.Sound.Running());
    }
    f.Sink.OpenCode = 0;
    f.Sink.StartCode = SoundInUnspecified;
    EXPECT_EQ(f.Sound.Start(), SoundInUnspecified);
    EXPECT_FALSE(f.Sound.Running());
    // The program's own texts, the space before "!" included: kept on purpose.
    const std::vector<std::string> expected = {"No sound devices found !",
                                               "Cannot determine sound device capabilities !",
                                               "Specified device identifier is out of range.",
                                               "Specified resource is already allocated.",
                                               "No device driver is present.",
                                               "Unable to allocate or lock memory.",
                                               "Unsupported waveform-audio format.",
                                               "Failed to add buffer !"};
    EXPECT_EQ(f.Messages, expected); // the other open codes show nothing
    f.Sink.StartCode = 0;
    EXPECT_EQ(f.Sound.Start(), 0);
    EXPECT_TRUE(f.Sink.Play());
}

TEST(SoundOut, CloseGivesUpOnAStuckWorkerAfterFiveSeconds) {
    Fixture f;
    ASSERT_EQ(f.Sound.Start(), 0);
    std::unique_lock hold(f.Monitor->MonitorLock); // the worker's next fill cannot proceed
    ASSERT_TRUE(f.Sink.Play());
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    f.Sound.Close();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 4900ms);
    EXPECT_LT(took, 6s);
    EXPECT_TRUE(f.Sound.WorkerAbandoned());
    hold.unlock(); // the abandoned worker finishes its fill and ends by itself

    ASSERT_EQ(f.Sound.Start(), 0); // a fresh output after an abandoned worker
    EXPECT_FALSE(f.Sound.WorkerAbandoned());
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(f.Sink.Play());
}

// The output worker over a stretch of steady monitoring at 96 kHz: a 18000 vph watch gives a
// 19200-sample buffer every 0.2 s, and the device plays in real time. KV_SOUNDOUT_SECONDS sets a
// longer stretch.
TEST(SoundOut, SteadyStateCostsLittleCpuAndAllocatesNothing) {
    const char* env = std::getenv("KV_SOUNDOUT_SECONDS");
    const double seconds = env ? std::atof(env) : 2.0;
    constexpr unsigned Rate = 96000;
    constexpr size_t Block = 19200;
    Fixture f;
    f.Sound.SampleRate = Rate;
    std::atomic<bool> running{true};
    const Samples block(Block, 1000);
    std::thread capture([&] {
        for (auto next = std::chrono::steady_clock::now(); running.load();) {
            f.Monitor->Copy(block.data(), block.size(), true);
            next += std::chrono::microseconds(Block * 1000000 / Rate);
            std::this_thread::sleep_until(next);
        }
    });
    ASSERT_EQ(f.Sound.Start(), 0);
    std::thread device([&] {
        while (running.load()) {
            const auto b = f.Sink.Ring->WaitForNext(100ms);
            if (!b) continue;
            std::this_thread::sleep_for(std::chrono::microseconds(b->size() * 1000000 / Rate));
            f.Sink.Ring->FinishNext();
        }
    });
    std::this_thread::sleep_for(1s); // past the start-up buffers
    const double cpuBefore = f.Sound.WorkerCpuSeconds();
#ifdef KV_COUNT_ALLOCATIONS
    Allocations = 0;
    CountingAllocations = true;
#endif
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
#ifdef KV_COUNT_ALLOCATIONS
    CountingAllocations = false;
#endif
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = f.Sound.WorkerCpuSeconds() - cpuBefore;
    running = false;
    capture.join();
    device.join();
    f.Sound.Close();
    std::printf("output worker: %.3f ms CPU in %.2f s (%.4f %% of a core)\n", cpu * 1e3, wall,
                100.0 * cpu / wall);
    EXPECT_GT(cpu, 0.0);
    EXPECT_LT(cpu / wall, 0.05);
#ifdef KV_COUNT_ALLOCATIONS
    std::printf("allocations while steady: %lu\n", Allocations.load());
    EXPECT_EQ(Allocations.load(), 0u);
#endif
}

} // namespace
} // namespace kv
