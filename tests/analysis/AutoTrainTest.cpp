// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "CoreHarness.h"

namespace kv {
namespace {

using test::ClickTrain;
using test::CoreHarness;

// Feeds a signal while running timer 102 on audio time, as the view's timer would.
struct Detection {
    explicit Detection(std::vector<double> periods, double seconds = 30) {
        h.StartForClicks(48000, "18000 vph");
        ClickTrain train;
        train.Periods = std::move(periods);
        train.Seconds = seconds;
        signal = train.Make();
    }
    void Run(double untilSeconds) {
        const size_t end = std::min(signal.size(), static_cast<size_t>(untilSeconds * 48000));
        while (position < end) {
            auto timer = h.Timers.find(TimerTrainDetect);
            const size_t step = timer == h.Timers.end() ? 4800 : timer->second * 48;
            const size_t stop = std::min(end, position + step);
            position +=
                h.Feed(std::vector<int16_t>(signal.begin() + position, signal.begin() + stop));
            if (timer != h.Timers.end()) {
                h.Timers.erase(TimerTrainDetect);
                h.Core.ParseTrain("TAUTO");
            }
        }
    }
    CoreHarness h;
    std::vector<int16_t> signal;
    size_t position = 0;
};

TEST(AutoTrain, StartsAtFastestTrainWithPrompt) {
    Detection d({3600.0 / 21600});
    d.h.Core.ParseTrain("AUTO");
    EXPECT_TRUE(d.h.Core.AutoTrainActive);
    EXPECT_DOUBLE_EQ(d.h.Core.Derived.BeatPeriod, 0.1);
    EXPECT_EQ(d.h.Core.Params.TickInterval, "36000 vph");
    EXPECT_EQ(d.h.Timers.at(TimerTrainDetect), 600u);
    // The program's own prompt, the space after the line break included: kept on purpose.
    EXPECT_EQ(d.h.Core.PromptText,
              "Attempting train detection.\r\n Press 'Train' button again to abandon");
    EXPECT_DOUBLE_EQ(d.h.Core.SavedBeatPeriod, 0.2);
}

TEST(AutoTrain, FindsStandardTrains) {
    for (double vph : {21600.0, 25200.0, 28800.0, 18000.0, 36000.0}) {
        Detection d({3600.0 / vph});
        d.h.Core.ParseTrain("AUTO");
        d.Run(20);
        EXPECT_FALSE(d.h.Core.AutoTrainActive) << vph;
        EXPECT_NEAR(d.h.Core.Derived.BeatPeriod, 3600.0 / vph, 1e-12) << vph;
        EXPECT_TRUE(d.h.Core.Measurement.Running);
    }
}

TEST(AutoTrain, GivesUpAndRestoresTrainWithoutStandardRate) {
    Detection d({1.5}, 200);
    d.h.Core.ParseTrain("AUTO");
    d.Run(200);
    EXPECT_FALSE(d.h.Core.AutoTrainActive);
    EXPECT_DOUBLE_EQ(d.h.Core.Derived.BeatPeriod, 0.2);
    EXPECT_EQ(d.h.Core.Params.TickInterval, "18000 vph");
    EXPECT_FALSE(d.h.Core.PromptText.empty());
}

TEST(AutoTrain, NotStartedWhileStopped) {
    CoreHarness h;
    h.Core.ParseTrain("AUTO");
    EXPECT_FALSE(h.Core.AutoTrainActive);
    EXPECT_DOUBLE_EQ(h.Core.Derived.BeatPeriod, 0.2);
}

TEST(AutoTrain, AbandonClearsFlagAndTimer) {
    Detection d({3600.0 / 21600});
    d.h.Core.ParseTrain("AUTO");
    d.h.Core.AbandonTrainDetection();
    EXPECT_FALSE(d.h.Core.AutoTrainActive);
    EXPECT_EQ(d.h.Timers.count(TimerTrainDetect), 0u);
}

TEST(AutoTrain, SecondSoundInsideTickStepsDown) {
    // Intervals alternating 0.1 s and 0.2 s: L = 0.15 s matches no 2/i, so the trial steps down.
    Detection d({0.1, 0.2});
    d.h.Core.ParseTrain("AUTO");
    d.Run(1.5);
    EXPECT_LT(d.h.Core.Derived.BeatPeriod, 0.2);
    EXPECT_GT(d.h.Core.Derived.BeatPeriod, 0.1);
}

} // namespace
} // namespace kv
