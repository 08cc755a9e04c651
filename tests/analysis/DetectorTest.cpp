// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "CoreHarness.h"
#include "analysis/DropSearch.h"

namespace kv {
namespace {

using test::ClickTrain;
using test::CoreHarness;

// A harness at 48 kHz and 18000 vph with the DC blocker, so each impulse unlocks on its sample.
struct Detector48k : ::testing::Test {
    void SetUp() override { h.StartForClicks(); }
    CoreHarness h;
};

TEST_F(Detector48k, UnlocksExactlyOnEveryClick) {
    ClickTrain train;
    train.Seconds = 3;
    std::vector<int64_t> truth;
    h.Feed(train.Make(&truth));
    const DetectorState& d = h.Core.Detector;
    ASSERT_GE(truth.size(), 14u);
    EXPECT_EQ(d.UnlockCount, static_cast<int64_t>(truth.size()));
    EXPECT_EQ(d.FirstTickSample, truth.front());
    EXPECT_EQ(d.LastTickSample, truth.back());
    EXPECT_EQ(d.BeatCount, static_cast<int64_t>(truth.size()) - 1);
    EXPECT_EQ(d.UnlockHistory[0], truth.back());
    EXPECT_EQ(d.UnlockHistory[3], truth[truth.size() - 4]);
}

TEST_F(Detector48k, MissingTickLeavesZeroHistoryAndCountsTwoBeats) {
    ClickTrain train;
    train.Seconds = 2.0;
    train.Missing = {5};
    std::vector<int64_t> truth;
    h.Feed(train.Make(&truth));
    const DetectorState& d = h.Core.Detector;
    // Beats 0..9 fit; beat 5 is silent: nine unlocks, yet beat count 9 at the tenth beat.
    EXPECT_EQ(d.UnlockCount, static_cast<int64_t>(truth.size()));
    EXPECT_EQ(d.BeatCount, static_cast<int64_t>(truth.size()));
}

TEST_F(Detector48k, MissingTickHistoryEntryIsZero) {
    ClickTrain train;
    train.Seconds = 1.26; // beats at 0.05 .. 1.25; beat 6 (at 1.25) sounds, beat 5 silent
    train.Missing = {5};
    h.Feed(train.Make());
    const SampleHistory& u = h.Core.Detector.UnlockHistory;
    EXPECT_NE(u[0], 0);
    EXPECT_EQ(u[1], 0);
    EXPECT_NE(u[2], 0);
}

TEST_F(Detector48k, EarlyTickOutsideWindowIsIgnored) {
    ClickTrain train;
    train.Seconds = 2;
    auto s = train.Make();
    // A click 0.15 beat before the beat at 1.05 s.
    s[static_cast<size_t>((1.05 - 0.03) * 48000)] = 8000;
    h.Feed(s);
    EXPECT_EQ(h.Core.Detector.UnlockCount, 10);
}

TEST_F(Detector48k, SilenceLongerThanFreeWheelAcceptsAnySound) {
    ClickTrain train;
    train.Seconds = 4;
    train.Missing = {5, 6, 7, 8, 9, 10, 11};
    auto s = train.Make();
    const int64_t stray = static_cast<int64_t>((0.05 + 0.2 * 4 + 0.2 * 6.95) * 48000);
    for (int beat = 12; beat < 20; ++beat) // move the later ticks off the grid by 0.5 beat
        s[static_cast<size_t>((0.05 + 0.2 * beat) * 48000)] = 0;
    s[stray] = 8000;
    h.Feed(s);
    EXPECT_EQ(h.Core.Detector.LastTickSample, stray);
    EXPECT_EQ(h.Core.Detector.NoiseLevel > 0, true);
}

TEST_F(Detector48k, PositionalRunAcceptsTickAnywhereAfterMute) {
    // From beat 5 on, the ticks come 0.15 beat late: outside the free-wheel windows.
    ClickTrain train;
    train.Seconds = 2.05;
    train.Periods = {0.2, 0.2, 0.2, 0.2, 0.23, 0.2, 0.2, 0.2, 0.2, 0.2};
    h.Feed(train.Make());
    EXPECT_EQ(h.Core.Detector.UnlockCount, 5);

    CoreHarness run;
    run.Core.Measurement.CurrentPosition = 1;
    run.StartForClicks();
    run.Feed(train.Make());
    EXPECT_EQ(run.Core.Detector.UnlockCount, 10);
}

TEST_F(Detector48k, ThresholdMustBeExceeded) {
    ClickTrain train;
    train.Seconds = 1;
    train.UnlockLevel = 1638; // equal to the threshold: no unlock
    h.Feed(train.Make());
    EXPECT_EQ(h.Core.Detector.UnlockCount, 0);

    CoreHarness other;
    other.StartForClicks();
    train.UnlockLevel = 1639;
    other.Feed(train.Make());
    EXPECT_EQ(other.Core.Detector.UnlockCount, 5);
}

TEST_F(Detector48k, NoiseBeforeTickRestartsSilenceCount) {
    // The window for the third tick opens 8640 samples after the second; the detector arms after
    // 96 quiet samples. A tick 150 samples into the window is caught, unless a sound above two
    // thirds of the threshold 60 samples in restarts the quiet count.
    ClickTrain train;
    train.Seconds = 0.5;
    train.Periods = {0.2, (8640.0 + 150) / 48000, 1.0};
    auto s = train.Make();
    h.Feed(s);
    EXPECT_EQ(h.Core.Detector.UnlockCount, 3);

    CoreHarness disturbed;
    disturbed.StartForClicks();
    s[static_cast<size_t>(0.25 * 48000) + 8640 + 60] = 1200;
    disturbed.Feed(s);
    EXPECT_EQ(disturbed.Core.Detector.UnlockCount, 2);
}

TEST_F(Detector48k, PeakLevelDecaysButNeverBelowOne) {
    std::vector<int16_t> silence(48000 * 60, 0);
    h.Feed(silence);
    EXPECT_EQ(h.Core.Detector.PeakLevel, 1);
    EXPECT_DOUBLE_EQ(h.Core.Detector.SignalToNoise, 0.001);
}

TEST_F(Detector48k, SamplesAreReplacedByFilteredClampedValues) {
    std::vector<int16_t> s(9600, 0);
    s[100] = 32767;
    s[101] = -32768;
    h.Core.Settings.AudioScale = 2.0;
    h.Feed(s);
    EXPECT_EQ(h.Core.Detector.ClipCount, 2); // two rectified samples above 31128 after scaling
}

TEST_F(Detector48k, StoppedMeasurementLeavesBufferUnanalysed) {
    h.Core.EndRun();
    std::vector<int16_t> s(9600, 0);
    s[100] = 8000;
    std::vector<int16_t> copy = s;
    h.Core.ProcessBuffer(s.size(), s.data(), 19);
    EXPECT_EQ(s, copy);
    EXPECT_EQ(h.Core.Detector.UnlockCount, 0);
    EXPECT_EQ(h.Core.Detector.SamplePosition, 9600);
}

TEST_F(Detector48k, OverrunCountedWhenRingWasFull) {
    std::vector<int16_t> s(9600, 0);
    h.Core.ProcessBuffer(s.size(), s.data(), 0);
    h.Core.ProcessBuffer(s.size(), s.data(), 5);
    EXPECT_EQ(h.Core.Detector.OverrunCount, 1);
    EXPECT_EQ(h.Core.Detector.UnpaintedBuffers, 2);
}

TEST_F(Detector48k, PerBufferTimerAndAutoStopTimer) {
    ClickTrain train;
    train.Seconds = 0.5;
    h.Feed(train.Make());
    EXPECT_EQ(h.Timers.at(TimerPerBuffer), 0u);
    EXPECT_EQ(h.Timers.at(TimerAutoStop), 6000u);
}

TEST(DetectorDrop, LeverDropGivesLiftTimeAndAmplitude) {
    CoreHarness h;
    h.StartForClicks(48000);
    ClickTrain train;
    train.Seconds = 20;
    train.LiftSeconds = 0.015;
    h.Feed(train.Make());
    const DetectorState& d = h.Core.Detector;
    // The lever rule finds the drop on the quiet sample just before the loud one.
    EXPECT_EQ(d.DropHistory[0] - d.UnlockHistory[0], 720 - 1);
    const double lift = 719.0 / 48000;
    const double expected = 52.0 / (2 * std::sin(M_PI * lift / 0.4));
    EXPECT_NEAR(h.Core.Measurement.Amplitude, expected, 0.5);
    EXPECT_NEAR(h.Core.Measurement.LastAmplitude, expected, 1e-9);
}

TEST(DetectorDrop, PendulumCollectsNoDrop) {
    CoreHarness h;
    h.Core.Params.Coaxial = static_cast<int>(EscapementType::Pendulum);
    h.StartForClicks();
    ClickTrain train;
    train.Seconds = 3;
    train.LiftSeconds = 0.01;
    h.Feed(train.Make());
    EXPECT_EQ(h.Core.Detector.DropHistory[0], 0);
    EXPECT_DOUBLE_EQ(h.Core.Measurement.Amplitude, 0.0);
    EXPECT_GT(h.Core.Detector.UnlockCount, 10);
}

TEST(DetectorDrop, LeverRuleCases) {
    std::vector<int> e(100, 0);
    // Quiet stretch falling toward the unlock, then a loud drop at 60.
    for (int k = 0; k < 60; ++k)
        e[k] = 100 - k;
    e[60] = 10000;
    EnvelopeView v{e.data(), 99, 10000, 60, 0, 20};
    EXPECT_EQ(FindLeverDrop(v), -1); // values only rise backward: no drop
    e[58] = 30;                      // a dip two samples before the loud one
    EXPECT_EQ(FindLeverDrop(v), 58);
    v.MaxIndex = 21; // maximum too early
    EXPECT_EQ(FindLeverDrop(v), -1);
}

} // namespace
} // namespace kv

namespace kv {
namespace {

TEST(DetectorForkMode, EnvelopeValueIsSignedEvenWithoutTheResonator) {
    // Fork mode with the plain DC blocker: only positive excursions count as unlocks.
    test::CoreHarness h;
    h.StartForClicks(48000, "300 Hz");
    ASSERT_TRUE(h.Core.Derived.ForkMode());
    std::vector<int16_t> negative(48000, 0);
    for (size_t i = 0; i < negative.size(); i += 160)
        negative[i] = -8000;
    h.Feed(negative);
    EXPECT_EQ(h.Core.Detector.UnlockCount, 0);

    std::vector<int16_t> positive(negative.size());
    for (size_t i = 0; i < positive.size(); ++i)
        positive[i] = static_cast<int16_t>(-negative[i]);
    h.Feed(positive);
    EXPECT_GT(h.Core.Detector.UnlockCount, 250);
}

TEST(DetectorForkMode, EveryForkTrainResetsTheDisplayZooms) {
    test::CoreHarness h;
    h.Core.ParseTrain("300 Hz");
    h.Core.Trace.Zoom = 5.0;
    h.Core.Settings.Zoom = 2.0;
    h.Core.ParseTrain("330 Hz");
    EXPECT_DOUBLE_EQ(h.Core.Trace.Zoom, 0.5);
    EXPECT_DOUBLE_EQ(h.Core.Settings.Zoom, 0.25);
    EXPECT_EQ(h.Core.Params.Escapement(), EscapementType::TuningFork);
}

TEST(DetectorLevels, NoSignalStaysUntilATickArrives) {
    test::CoreHarness h;
    h.StartForClicks();
    h.Core.NoSignal = true;
    h.Feed(std::vector<int16_t>(9600, 0)); // no tick yet in the first beats of a run
    EXPECT_TRUE(h.Core.NoSignal);
    test::ClickTrain train;
    train.Seconds = 1;
    h.Feed(train.Make());
    EXPECT_FALSE(h.Core.NoSignal);
}

TEST(DetectorLevels, LoudScaledInputKeepsItsPeakLevel) {
    test::CoreHarness h;
    h.Core.Settings.AudioScale = 100.0;
    h.StartForClicks();
    test::ClickTrain train;
    train.Seconds = 2;
    train.UnlockLevel = 30000;
    h.Feed(train.Make());
    EXPECT_GT(h.Core.Detector.PeakLevel, 1000000);
    EXPECT_GT(h.Core.Detector.UnlockCount, 5);
}

} // namespace
} // namespace kv
