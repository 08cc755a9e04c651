// SPDX-License-Identifier: GPL-3.0-or-later
#include "timebase/SampleClock.h"

#include <cmath>
#include <ctime>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <stdexcept>

namespace kv {
namespace {

// A clock source whose counter and UTC are set by the test. Reading the system time can advance
// the counter, as time passes between two real readings.
class FakeClockSource : public ClockSource {
public:
    int64_t counter = 0;
    double frequency = 1e9;
    uint64_t utc = 0;
    int64_t counterAdvanceOnUtcRead = 0;

    int64_t ReadCounter() override { return counter; }
    double CounterFrequency() override { return frequency; }
    uint64_t SystemUtc100ns() override {
        counter += counterAdvanceOnUtcRead;
        return utc;
    }
};

// 2024-01-01 00:00:00 UTC in 100 ns units since 1601.
constexpr uint64_t kUtc2024 = 133485408000000000ULL;

int64_t Delta(uint64_t later, uint64_t earlier) {
    return static_cast<int64_t>(later - earlier);
}

TEST(CalibrationFactors, SelectedByNominalRate) {
    CalibrationFactors f{1.22, 1.44, 1.48, 1.96};
    const struct {
        unsigned rate;
        double factor;
    } cases[] = {{8000, 1.22},  {22050, 1.22}, {33000, 1.22}, {33001, 1.44},
                 {44100, 1.44}, {46000, 1.44}, {46001, 1.48}, {48000, 1.48},
                 {72000, 1.48}, {72001, 1.96}, {96000, 1.96}, {192000, 1.96}};
    for (const auto& c : cases) {
        EXPECT_EQ(CalFactorFor(c.rate, f), c.factor) << c.rate << " Hz";
        EXPECT_DOUBLE_EQ(EffectiveSampleRate(c.rate, f), c.rate * c.factor) << c.rate << " Hz";
    }
}

TEST(CalibrationFactors, WritableSlotFollowsTheSameSelection) {
    CalibrationFactors f;
    CalFactorSlotFor(72001, f) = 2.0;
    CalFactorSlotFor(72000, f) = 3.0;
    CalFactorSlotFor(33001, f) = 4.0;
    CalFactorSlotFor(33000, f) = 5.0;
    EXPECT_EQ(f.CalFactor96, 2.0);
    EXPECT_EQ(f.CalFactor48, 3.0);
    EXPECT_EQ(f.CalFactor44, 4.0);
    EXPECT_EQ(f.CalFactor22, 5.0);
}

TEST(CalibrationFactors, SecondsPerDayRoundTrip) {
    EXPECT_EQ(FactorToSecondsPerDay(1.0), 0.0);
    EXPECT_NEAR(FactorToSecondsPerDay(1.0 + 2.5 / 86400), 2.5, 1e-9);
    EXPECT_NEAR(FactorToSecondsPerDay(SecondsPerDayToFactor(-7.25)), -7.25, 1e-9);
}

TEST(TimestampClock, InitMapsTheCounterReadAfterTheSystemTimeToIt) {
    FakeClockSource src;
    src.counter = 7'000'000'000'123;
    src.utc = kUtc2024;
    src.counterAdvanceOnUtcRead = 12'345'678; // 12 ms pass while the system time is read
    TimestampClock clock(src);
    EXPECT_EQ(clock.CounterToUtc(src.counter), kUtc2024);
    EXPECT_EQ(clock.NowUtc(), kUtc2024);
    EXPECT_EQ(clock.Frequency(), 1e9);

    clock.SetTrim(1.5);
    src.utc = kUtc2024 + 50'000'000;
    clock.InitTimestampClock();
    EXPECT_EQ(clock.GetTrim(), 1.0);
    EXPECT_EQ(clock.NowUtc(), kUtc2024 + 50'000'000);
}

TEST(TimestampClock, ConvertsCounterIntervalsAtTheCounterFrequency) {
    FakeClockSource src;
    src.frequency = 3579545.0; // a counter that is not a whole multiple of 10 MHz
    src.counter = 123456789;
    src.utc = kUtc2024;
    TimestampClock clock(src);
    EXPECT_DOUBLE_EQ(clock.CounterSpanToSeconds(3579545 * 2), 2.0);
    EXPECT_DOUBLE_EQ(clock.CounterSpanToSeconds(-3579545), -1.0);
    const int64_t c = src.counter + 3579545LL * 3600;
    EXPECT_NEAR(Delta(clock.CounterToUtc(c), kUtc2024), 36'000'000'000LL, 1);
}

TEST(TimestampClock, RejectsAnUnusableCounterFrequency) {
    FakeClockSource src;
    src.frequency = 0.0;
    EXPECT_THROW(TimestampClock{src}, std::runtime_error);
    src.frequency = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(TimestampClock{src}, std::runtime_error);
}

TEST(TimestampClock, SetTrimKeepsTheCurrentTimeAndChangesTheRate) {
    FakeClockSource src;
    src.counter = 5'000'000'000'000; // 5000 s of uptime
    src.utc = kUtc2024;
    TimestampClock clock(src);
    src.counter += 777'777'777;
    const uint64_t before = clock.NowUtc();

    clock.SetTrim(1.0 + 20e-6);
    EXPECT_EQ(clock.GetTrim(), 1.0 + 20e-6);
    EXPECT_NEAR(Delta(clock.NowUtc(), before), 0, 1);

    // One second of counter now reads as 1 / (1 + 20 ppm) s.
    src.counter += 1'000'000'000;
    EXPECT_NEAR(Delta(clock.NowUtc(), before), 9'999'800, 1);
    EXPECT_NEAR(clock.CounterSpanToSeconds(1'000'000'000), 1.0 / (1.0 + 20e-6), 1e-15);

    clock.SetTrim(1.0 - 3e-6);
    EXPECT_NEAR(Delta(clock.NowUtc(), before), 9'999'800, 2);
}

TEST(TimestampClock, SetTrimRejectsNonPositiveOrNonFiniteValues) {
    FakeClockSource src;
    src.utc = kUtc2024;
    TimestampClock clock(src);
    clock.SetTrim(1.25);
    for (double bad : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(clock.SetTrim(bad)) << bad;
    }
    EXPECT_EQ(clock.GetTrim(), 1.25);
    EXPECT_EQ(clock.NowUtc(), kUtc2024);
}

TEST(TimestampClock, StepClockMovesEveryLaterTimeByTheStep) {
    FakeClockSource src;
    src.counter = 42'000'000'000;
    src.utc = kUtc2024;
    TimestampClock clock(src);
    const int64_t later = src.counter + 3'600'000'000'000;
    const uint64_t atNow = clock.NowUtc();
    const uint64_t atLater = clock.CounterToUtc(later);

    clock.StepClock(-0.25);
    EXPECT_EQ(Delta(clock.NowUtc(), atNow), -2'500'000);
    EXPECT_EQ(Delta(clock.CounterToUtc(later), atLater), -2'500'000);

    clock.StepClock(0.25 + 1.23456789); // fractions of 100 ns are truncated
    EXPECT_EQ(Delta(clock.NowUtc(), atNow), 12'345'678);
}

TEST(TimestampClock, StepClockRejectsNonFiniteOrAbsurdSteps) {
    FakeClockSource src;
    src.utc = kUtc2024;
    TimestampClock clock(src);
    EXPECT_FALSE(clock.StepClock(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(clock.StepClock(-std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(clock.StepClock(1e300));
    EXPECT_EQ(clock.NowUtc(), kUtc2024);
}

TEST(TimestampClock, SystemSourceTracksTheRealClocks) {
    ClockSource& src = SystemClockSource();
    EXPECT_EQ(src.CounterFrequency(), 1e9);
    const int64_t c0 = src.ReadCounter();
    EXPECT_GE(src.ReadCounter(), c0);

    const uint64_t unixNow = static_cast<uint64_t>(std::time(nullptr));
    const uint64_t expected = (unixNow + 11644473600ULL) * 10'000'000ULL;
    EXPECT_NEAR(static_cast<double>(Delta(src.SystemUtc100ns(), expected)), 0.0, 2e7);
    EXPECT_NEAR(static_cast<double>(Delta(ProcessTimestampClock().NowUtc(), expected)), 0.0, 2e7);
}

// Feeds buffers of a 48 kHz capture whose counter runs `ppm` fast against the nominal sample
// clock, each buffer arriving with an extra latency given by `latency` (seconds).
struct CaptureSim {
    static constexpr unsigned kRate = 48000;
    static constexpr uint64_t kBuffer = 4800;
    FakeClockSource src;
    TimestampClock clock{Init(src)};
    SampleCounterRegression reg;
    double ppm = 0.0;
    int64_t counterOrigin = 900'000'000'000;

    static FakeClockSource& Init(FakeClockSource& s) {
        s.utc = kUtc2024;
        return s;
    }
    // Counter value at which sample position p is captured, without latency.
    double LineCounter(uint64_t p) const {
        return counterOrigin + static_cast<double>(p) / kRate * (1.0 + ppm * 1e-6) * 1e9;
    }
    void Feed(double latency = 0.0) {
        const uint64_t end = reg.TotalSamples + kBuffer;
        const auto counter = static_cast<int64_t>(std::llround(LineCounter(end) + latency * 1e9));
        reg.AddBuffer(kBuffer, counter, end, kRate, clock);
    }
};

TEST(SampleCounterRegression, StartsOnceOneSecondHasBeenAnalysed) {
    CaptureSim sim;
    for (int i = 0; i < 9; ++i)
        sim.Feed();
    EXPECT_EQ(sim.reg.StartSample, 0u);
    EXPECT_EQ(sim.reg.TotalSamples, 9 * CaptureSim::kBuffer);

    sim.reg.TimestampSlope = 0.5; // whatever a previous run left behind
    sim.Feed();
    EXPECT_EQ(sim.reg.StartSample, 48000u);
    EXPECT_EQ(sim.reg.StartCounter, sim.reg.CounterNow);
    EXPECT_EQ(sim.reg.Count, 1);
    EXPECT_EQ(sim.reg.TimestampSlope, 1.0);
    EXPECT_EQ(sim.reg.TimestampIntercept, 0.0);
}

TEST(SampleCounterRegression, SlopeStaysOneUntilMoreThanTenPoints) {
    CaptureSim sim;
    sim.ppm = 1000.0;
    for (int i = 0; i < 10; ++i)
        sim.Feed();
    ASSERT_EQ(sim.reg.Count, 1);
    for (int64_t points = 2; points <= 10; ++points) {
        sim.Feed();
        ASSERT_EQ(sim.reg.Count, points);
        EXPECT_EQ(sim.reg.TimestampSlope, 1.0) << points << " points";
        EXPECT_EQ(sim.reg.TimestampIntercept, 0.0) << points << " points";
    }
    sim.Feed();
    EXPECT_EQ(sim.reg.Count, 11);
    EXPECT_NEAR(sim.reg.TimestampSlope, 1.001, 1e-9);
}

TEST(SampleCounterRegression, RecoversSlopeAndInterceptOfAFastCounter) {
    CaptureSim sim;
    sim.ppm = 50.0;
    for (int i = 0; i < 9; ++i)
        sim.Feed();
    // The start buffer arrives 2 ms late, so later points lie 2 ms below the start. The start
    // itself is one point of the fit; ten minutes of buffers make its pull negligible.
    sim.Feed(0.002);
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> jitter(-50e-6, 50e-6);
    for (int i = 0; i < 6000; ++i)
        sim.Feed(jitter(gen));

    EXPECT_NEAR(sim.reg.TimestampSlope, 1.0 + 50e-6, 2e-8);
    EXPECT_NEAR(sim.reg.TimestampIntercept, -0.002, 10e-6);

    // The stamp of a sample is the UTC of the counter value at which it was captured.
    for (uint64_t p : {uint64_t{60'000}, uint64_t{10'000'000}, uint64_t{28'000'000}}) {
        const auto line = static_cast<int64_t>(std::llround(sim.LineCounter(p)));
        EXPECT_NEAR(
            Delta(sim.reg.StampTick(p, CaptureSim::kRate, sim.clock), sim.clock.CounterToUtc(line)),
            0, 100)
            << "sample " << p;
    }
}

TEST(SampleCounterRegression, ResetStopsTheRegressionAndTheNextBufferRestartsIt) {
    CaptureSim sim;
    sim.ppm = 100.0;
    for (int i = 0; i < 9; ++i)
        sim.Feed();
    sim.Feed(0.001);
    for (int i = 0; i < 20; ++i)
        sim.Feed();
    const double slope = sim.reg.TimestampSlope;
    ASSERT_NE(slope, 1.0);
    ASSERT_LT(sim.reg.TimestampIntercept, -0.0005);

    sim.reg.Reset();
    EXPECT_EQ(sim.reg.TotalSamples, 0u);
    EXPECT_EQ(sim.reg.StartSample, 0u);
    EXPECT_EQ(sim.reg.CounterNow, 0);
    EXPECT_EQ(sim.reg.StartCounter, 0);
    EXPECT_EQ(sim.reg.TimestampSlope, slope);

    // The analysis position keeps growing, so the first buffer after a reset starts a new run.
    const int64_t counter = 2'000'000'000'000;
    sim.reg.AddBuffer(4800, counter, 200'000, CaptureSim::kRate, sim.clock);
    EXPECT_EQ(sim.reg.StartSample, 4800u);
    EXPECT_EQ(sim.reg.StartCounter, counter);
    EXPECT_EQ(sim.reg.Count, 1);
    EXPECT_EQ(sim.reg.TimestampSlope, 1.0);
    EXPECT_EQ(sim.reg.TimestampIntercept, 0.0); // the old run's intercept is not carried over
}

TEST(SampleCounterRegression, IgnoresAZeroSampleRate) {
    CaptureSim sim;
    sim.reg.AddBuffer(4800, 1, 48000, 0, sim.clock);
    EXPECT_EQ(sim.reg.TotalSamples, 0u);
    EXPECT_EQ(sim.reg.StampTick(1, 0, sim.clock), sim.clock.CounterToUtc(sim.reg.StartCounter));
}

TEST(SampleCounterRegression, StampTickScalesTheSampleOffsetAndTruncatesTowardZero) {
    FakeClockSource src;
    src.frequency = 1e7; // one counter tick per 100 ns
    src.utc = kUtc2024;
    TimestampClock clock(src);
    SampleCounterRegression reg;
    reg.StartSample = 96'000;
    reg.StartCounter = 1'000'000;
    reg.TimestampSlope = 1.00001;
    reg.TimestampIntercept = 0.00123456;
    const uint64_t q0 = kUtc2024 + 1'000'000;
    ASSERT_EQ(clock.CounterToUtc(reg.StartCounter), q0);

    EXPECT_EQ(Delta(reg.StampTick(96'000 + 48'000, 48000, clock), q0), 10'012'445);
    EXPECT_EQ(Delta(reg.StampTick(96'000 - 24'000, 48000, clock), q0), -4'987'704);
    EXPECT_EQ(Delta(reg.StampTick(96'000, 48000, clock), q0), 12'345);
}

} // namespace
} // namespace kv
