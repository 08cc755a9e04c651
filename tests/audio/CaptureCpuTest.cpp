// SPDX-License-Identifier: GPL-3.0-or-later
// The capture worker's cost: CSoundIn over the clocked source (no sound card) at 96 kHz with
// 19200-sample buffers (an 18000 vph watch) and an analysis that does nothing. The worker reads
// its own CPU clock at every buffer, so the figure covers exactly the stretch from the first
// buffer to the last. KV_CAPTURE_CPU_SECONDS sets a longer stretch than the default 2 s.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <thread>

#include "AllocationCounter.h"
#include "audio/ClockedSource.h"
#include "audio/SoundIn.h"
#include "support/WaitUntil.h"

namespace kv {
namespace {

constexpr unsigned Rate = 96000;
constexpr double SamplesPerBuffer = 19200.0;

int64_t Nanoseconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// What the worker notes at its first and latest buffer: its own CPU time and the steady clock.
struct WorkerProbe {
    std::atomic<int> Buffers{0};
    std::atomic<int64_t> FirstCpu{0}, LastCpu{0}, FirstWall{0}, LastWall{0};

    void Note() {
        clockid_t own{};
        pthread_getcpuclockid(pthread_self(), &own);
        const int64_t cpu = Nanoseconds(own);
        const int64_t wall = Nanoseconds(CLOCK_MONOTONIC);
        if (Buffers.fetch_add(1, std::memory_order_relaxed) == 0) {
            FirstCpu.store(cpu, std::memory_order_relaxed);
            FirstWall.store(wall, std::memory_order_relaxed);
        }
        LastCpu.store(cpu, std::memory_order_relaxed);
        LastWall.store(wall, std::memory_order_relaxed);
    }
    double CpuSeconds() const { return (LastCpu.load() - FirstCpu.load()) * 1e-9; }
    double WallSeconds() const { return (LastWall.load() - FirstWall.load()) * 1e-9; }
};

double StretchSeconds() {
    const char* env = std::getenv("KV_CAPTURE_CPU_SECONDS");
    const double seconds = env ? std::atof(env) : 2.0;
    return seconds > 0.0 ? seconds : 2.0;
}

TEST(CaptureCpu, TheWorkerUsesUnderOnePercentOfACoreAndAllocatesNothingWhenSteady) {
    const double seconds = StretchSeconds();
    WorkerProbe probe;
    ClockedSource source;
    CSoundIn capture(source, [&](size_t, int16_t*, int, std::optional<int64_t>) { probe.Note(); });
    capture.SampleRate = Rate;
    capture.SetSamplesPerBuffer(SamplesPerBuffer);
    capture.SetRingSize(20); // 4 s of buffers
    ASSERT_EQ(capture.Start(), 0);
    ASSERT_TRUE(test::WaitUntil([&] { return probe.Buffers.load() > 0; }, std::chrono::seconds(2)))
        << "no buffer within 2 s";

    Allocations = 0;
    CountingAllocations = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    CountingAllocations = false;
    capture.Close();

    const double cpu = probe.CpuSeconds(), wall = probe.WallSeconds();
    std::printf("capture worker: %d buffers, %.3f ms CPU in %.2f s (%.4f %% of a core)\n",
                probe.Buffers.load(), cpu * 1e3, wall, 100.0 * cpu / wall);
    EXPECT_GE(wall, 0.8 * seconds);
    EXPECT_GE(probe.Buffers.load(), static_cast<int>(0.8 * seconds * Rate / SamplesPerBuffer));
    EXPECT_GT(cpu, 0.0);
    EXPECT_LT(cpu / wall, 0.01);
    EXPECT_EQ(capture.Overruns(), 0u);
#ifdef KV_COUNT_ALLOCATIONS
    std::printf("allocations while steady: %lu\n", Allocations.load());
    EXPECT_EQ(Allocations.load(), 0u);
#endif
}

} // namespace
} // namespace kv
