// SPDX-License-Identifier: GPL-3.0-or-later
// The automatic gain step that follows each buffer while AGC is on: aimed at the ticks, held back
// by the noise between them, and never taken inside a tick.
#include <gtest/gtest.h>

#include <optional>

#include "CoreHarness.h"

namespace kv {
namespace {

constexpr int Threshold = 1638;     // the set unlock threshold, 5 % of full scale
constexpr int NoTicks = 0;          // no tick detected yet
constexpr int QuietTick = 327;      // 1 % of full scale
constexpr int NoiseSamples = 48000; // a second of noise blocks at 48 kHz
constexpr int TicksHeard = 12;      // as many as the level control keeps

struct GainStep : ::testing::Test {
    test::CoreHarness H;
    void SetUp() override {
        H.Start(48000, "28800 vph");
        H.Core.Params.UnlockThreshold = Threshold;
    }
    // Ticks peaking at `tick` (none when 0), steady noise between them at `noise`, `clipped`
    // samples clipped in the last buffer.
    void Levels(int tick, int noise, int clipped = 0) {
        for (int i = 0; i < TicksHeard && tick > 0; ++i)
            H.Core.Levels.AddTickPeak(tick);
        for (int i = 0; i < NoiseSamples; ++i)
            H.Core.Levels.AddSample(noise, false);
        H.Core.Detector.ClipCount = clipped;
    }
};

struct StepCase {
    const char* Name;
    int Tick;
    int Noise;
    int Clipped;
    int Level; // the fader's level before the step (step 1000)
    std::optional<int> Next;
};

TEST_F(GainStep, FollowsTheTicksWhileTheNoiseAllows) {
    const StepCase cases[] = {
        {"quiet ticks, faint noise: up", QuietTick, 20, 0, 40000, 41000},
        {"up stops at the top", QuietTick, 20, 0, 65000, 65535},
        {"ticks at three times the threshold: hold", 3 * Threshold, 100, 0, 40000, std::nullopt},
        {"ticks just inside the band: hold", 4 * Threshold, 100, 0, 40000, std::nullopt},
        {"ticks far above the aim: down", 6 * Threshold, 100, 0, 40000, 39000},
        // Noise at 0.45 threshold: a step of 8 % keeps it under half the threshold, 25 % not.
        {"noise 0.45, fader high: up", QuietTick, Threshold * 45 / 100, 0, 40000, 41000},
        {"noise 0.45, fader low: hold", QuietTick, Threshold * 45 / 100, 0, 5000, std::nullopt},
        {"noise 0.49: hold", QuietTick, Threshold * 49 / 100, 0, 40000, std::nullopt},
        {"ticks above the aim, noise over half: down", 7 * Threshold / 2, Threshold * 6 / 10, 0,
         40000, 39000},
        {"no ticks, faint noise: up", NoTicks, 20, 0, 40000, 41000},
        {"no ticks, noise over half: down", NoTicks, Threshold * 6 / 10, 0, 40000, 39000},
        {"clipping: down in proportion", QuietTick, 20, 60, 40000, 38000},
        {"clipping: never below one step", QuietTick, 20, 60, 2500, 1000},
        {"29 clipped: still 966 down", 3 * Threshold, 20, 29, 40000, 39034},
    };
    for (const StepCase& c : cases) {
        H.Core.Levels.Reset();
        Levels(c.Tick, c.Noise, c.Clipped);
        EXPECT_EQ(H.Core.AutomaticGainStep(1000, c.Level), c.Next) << c.Name;
    }
}

TEST_F(GainStep, WaitsForTheGapBetweenTicks) {
    Levels(QuietTick, 20, 60);
    H.Core.Detector.State = DetectorPhase::CollectTick;
    EXPECT_FALSE(H.Core.AutomaticGainStep(1000, 40000).has_value()) << "collecting a tick";
    H.Core.Detector.State = DetectorPhase::Armed;
    H.Core.Detector.PendingRefineAt = 123;
    EXPECT_FALSE(H.Core.AutomaticGainStep(1000, 40000).has_value()) << "a tick to refine";
    H.Core.Detector.PendingRefineAt = -1;
    EXPECT_EQ(H.Core.AutomaticGainStep(1000, 40000), 38000);
}

TEST_F(GainStep, NothingHappensWithoutAStepSize) {
    Levels(QuietTick, 20, 60);
    EXPECT_FALSE(H.Core.AutomaticGainStep(0, 40000).has_value());
}

TEST_F(GainStep, PlaybackGainFollowsOnlyDuringPlayback) {
    Levels(QuietTick, 20, 60);
    H.Core.AutomaticGainStep(1000, 40000);
    EXPECT_EQ(H.Core.PlaybackGain, 1.0);
    H.Core.PlayingBack = true;
    H.Core.AutomaticGainStep(1000, 40000);
    EXPECT_NEAR(H.Core.PlaybackGain, 1.0 / 1.01, 1e-15);
    H.Core.Detector.ClipCount = 0;
    H.Core.AutomaticGainStep(1000, 40000);
    H.Core.AutomaticGainStep(1000, 40000);
    EXPECT_NEAR(H.Core.PlaybackGain, 1.01, 1e-12);
}

TEST_F(GainStep, SoftwareInputGainFollowsLiveInputWithinItsLimits) {
    H.Core.SoftwareInputGain = true;
    Levels(NoTicks, 0);                   // silence: nothing holds the gain back
    H.Core.AutomaticGainStep(655, 65535); // the level is at the top, the gain still rises
    EXPECT_NEAR(H.Core.InputGain, 1.01, 1e-12);
    EXPECT_EQ(H.Core.PlaybackGain, 1.0);
    for (int i = 0; i < 2000; ++i)
        H.Core.AutomaticGainStep(655, 65535);
    EXPECT_EQ(H.Core.InputGain, 256.0);
    H.Core.Detector.ClipCount = 60;
    for (int i = 0; i < 2000; ++i)
        H.Core.AutomaticGainStep(655, 655);
    EXPECT_EQ(H.Core.InputGain, 1.0 / 16);

    H.Core.PlayingBack = true; // a playback moves its own gain
    H.Core.AutomaticGainStep(655, 655);
    EXPECT_NEAR(H.Core.PlaybackGain, 1.0 / 1.01, 1e-15);
    EXPECT_EQ(H.Core.InputGain, 1.0 / 16);
}

} // namespace
} // namespace kv
