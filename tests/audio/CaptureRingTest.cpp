// SPDX-License-Identifier: GPL-3.0-or-later
// The capture ring's arrival stamps: a buffer that ends inside a device block is stamped with the
// block's arrival and the frames that followed its end; a ring without a clock stamps nothing.
// And the capture as a whole: buffers that do not line up with the clocked source's 10 ms blocks
// still get end times on the stream's own schedule.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/CaptureRing.h"
#include "audio/ClockedSource.h"
#include "audio/SoundIn.h"

namespace kv {
namespace {

TEST(CaptureRingArrival, ABufferEndingInsideABlockCarriesTheFramesThatFollowedIt) {
    CaptureRing ring;
    ASSERT_TRUE(ring.Allocate(2, 700, 1));
    ring.Queue(0, 700);
    ring.Queue(1, 700);
    int64_t counter = 1000;
    ring.SetArrivalClock([&counter] { return counter; });
    const std::vector<int16_t> block(480, 1);

    ASSERT_EQ(ring.Write(block.data(), block.size()), 480u);
    EXPECT_FALSE(ring.IsDone(0));
    counter = 2000;
    ASSERT_EQ(ring.Write(block.data(), block.size()),
              480u); // frames 480..959: buffer 0 ends at 700
    ASSERT_TRUE(ring.IsDone(0));
    EXPECT_TRUE(ring.Arrival(0).Stamped);
    EXPECT_EQ(ring.Arrival(0).Counter, 2000);
    EXPECT_EQ(ring.Arrival(0).LateFrames, 260u);

    counter = 3000;
    ASSERT_EQ(ring.Write(block.data(), 440), 440u); // buffer 1 ends exactly with this block
    ASSERT_TRUE(ring.IsDone(1));
    EXPECT_EQ(ring.Arrival(1).Counter, 3000);
    EXPECT_EQ(ring.Arrival(1).LateFrames, 0u);
}

TEST(CaptureRingArrival, WithoutAClockBuffersAreUnstampedAndAReleaseForgetsOldStamps) {
    CaptureRing ring;
    ASSERT_TRUE(ring.Allocate(1, 100, 1));
    ring.Queue(0, 100);
    const std::vector<int16_t> block(100, 0);
    ring.Write(block.data(), block.size());
    ASSERT_TRUE(ring.IsDone(0));
    EXPECT_FALSE(ring.Arrival(0).Stamped);

    ring.SetArrivalClock([] { return int64_t{5}; });
    ring.Queue(0, 100);
    ring.Write(block.data(), block.size());
    EXPECT_TRUE(ring.Arrival(0).Stamped);
    ring.Release();
    ASSERT_TRUE(ring.Allocate(1, 100, 1));
    EXPECT_FALSE(ring.Arrival(0).Stamped);
}

int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// 48 kHz buffers of 9700 frames end 100 frames further into a 480-frame block each time, so
// the wake-up of the worker lags the buffer's true end by anything from 0 to 10 ms. The end
// counters the analysis gets must instead follow the stream's schedule.
TEST(CaptureArrival, BufferEndTimesFollowTheStreamNotTheBlockGrid) {
    constexpr unsigned Rate = 48000;
    constexpr size_t BufferFrames = 9700;
    std::mutex mutex;
    std::vector<std::pair<uint64_t, int64_t>> ends; // frames so far, end counter
    uint64_t frames = 0;
    ClockedSource clocked;
    CSoundIn sound(clocked, [&](size_t n, int16_t*, int, std::optional<int64_t> endCounter) {
        std::lock_guard lock(mutex);
        frames += n;
        if (endCounter) ends.emplace_back(frames, *endCounter);
    });
    sound.SampleRate = Rate;
    sound.SetRingSize(20);
    sound.SetSamplesPerBuffer(static_cast<double>(BufferFrames));
    sound.SetArrivalClock(SteadyNs, 1e9);
    ASSERT_EQ(sound.Start(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(3200));
    sound.Close();

    std::lock_guard lock(mutex);
    ASSERT_GE(ends.size(), 12u);
    // Each end's counter less its frames' nominal duration: constant but for scheduling noise.
    std::vector<double> residualMs;
    for (const auto& [f, counter] : ends)
        residualMs.push_back((static_cast<double>(counter - ends.front().second) -
                              static_cast<double>(f - ends.front().first) * 1e9 / Rate) /
                             1e6);
    std::vector<double> sorted = residualMs;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];
    const auto off = std::count_if(residualMs.begin(), residualMs.end(),
                                   [median](double r) { return std::fabs(r - median) > 2.0; });
    EXPECT_LE(off, 2) << "buffer end times scatter like the 10 ms block grid";
}

} // namespace
} // namespace kv
