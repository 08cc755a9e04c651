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

} // namespace
} // namespace kv
