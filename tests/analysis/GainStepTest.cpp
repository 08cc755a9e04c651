// The automatic gain step that follows each buffer while AGC is on.
#include <gtest/gtest.h>

#include "CoreHarness.h"

namespace kv {
namespace {

struct GainStep : ::testing::Test {
    test::CoreHarness H;
    void Levels(int clipped, int peak) {
        H.Core.Detector.ClipCount = clipped;
        H.Core.Detector.PeakLevel = peak;
    }
};

TEST_F(GainStep, ClippingLowersTheLevelButNotBelowOneStep) {
    Levels(60, 32767);
    EXPECT_EQ(H.Core.AutomaticGainStep(1000, 40000), 38000);
    EXPECT_EQ(H.Core.AutomaticGainStep(1000, 2500), 1000);
    Levels(29, 32767); // 29 * 1000 / 30 = 966: still a step down
    EXPECT_EQ(H.Core.AutomaticGainStep(1000, 40000), 39034);
}

TEST_F(GainStep, QuietInputRaisesTheLevelByOneStepUpToFullScale) {
    Levels(0, 27851);
    EXPECT_EQ(H.Core.AutomaticGainStep(1000, 40000), 41000);
    EXPECT_EQ(H.Core.AutomaticGainStep(1000, 65000), 65535);
    Levels(0, 27852);
    EXPECT_FALSE(H.Core.AutomaticGainStep(1000, 40000).has_value());
}

TEST_F(GainStep, NothingHappensWithoutAStepSize) {
    Levels(60, 100);
    EXPECT_FALSE(H.Core.AutomaticGainStep(0, 40000).has_value());
}

TEST_F(GainStep, PlaybackGainFollowsOnlyDuringPlayback) {
    Levels(60, 32767);
    H.Core.AutomaticGainStep(1000, 40000);
    EXPECT_EQ(H.Core.PlaybackGain, 1.0);
    H.Core.PlayingBack = true;
    H.Core.AutomaticGainStep(1000, 40000);
    EXPECT_NEAR(H.Core.PlaybackGain, 1.0 / 1.01, 1e-15);
    Levels(0, 100);
    H.Core.AutomaticGainStep(1000, 40000);
    H.Core.AutomaticGainStep(1000, 40000);
    EXPECT_NEAR(H.Core.PlaybackGain, 1.01, 1e-12);
}

TEST_F(GainStep, SoftwareInputGainFollowsLiveInputWithinItsLimits) {
    H.Core.SoftwareInputGain = true;
    Levels(0, 100);
    H.Core.AutomaticGainStep(655, 65535); // the level is at the top, the gain still rises
    EXPECT_NEAR(H.Core.InputGain, 1.01, 1e-12);
    EXPECT_EQ(H.Core.PlaybackGain, 1.0);
    for (int i = 0; i < 2000; ++i)
        H.Core.AutomaticGainStep(655, 65535);
    EXPECT_EQ(H.Core.InputGain, 256.0);
    Levels(60, 32767);
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
