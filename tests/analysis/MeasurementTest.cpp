// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "CoreHarness.h"

namespace kv {
namespace {

using test::ClickTrain;
using test::CoreHarness;

CoreHarness& Started(CoreHarness& h) {
    h.StartForClicks();
    return h;
}

TEST(Measurement, PerfectTrainHasZeroRateAndBeatError) {
    CoreHarness h;
    Started(h);
    ClickTrain train; // 0.2 s beats at 48 kHz: every interval is exact in samples
    h.Feed(train.Make());
    const MeasurementState& m = h.Core.Measurement;
    EXPECT_TRUE(m.RateMeasured);
    EXPECT_NEAR(m.Rate, 0.0, 1e-12);
    EXPECT_NEAR(m.AccumulatedRate, 0.0, 1e-12);
    EXPECT_NEAR(m.Deviation, 0.0, 1e-12);
    EXPECT_NEAR(m.BeatError, 0.0, 1e-12);
    EXPECT_TRUE(m.BeatErrorStable);
    EXPECT_TRUE(m.RateWindowFull);
    ASSERT_GE(m.DeviationHistory.size(), 2u);
    const auto& last = m.DeviationHistory.back();
    const auto& before = m.DeviationHistory[m.DeviationHistory.size() - 2];
    EXPECT_NEAR(last.Time - before.Time, 0.4, 1e-12);
}

TEST(Measurement, FastWatchConvergesToItsRate) {
    CoreHarness h;
    Started(h);
    ClickTrain train;
    train.Seconds = 40;
    train.Periods = {0.2 * (1.0 - 30.0 / 86400)}; // 30 s/d fast
    h.Feed(train.Make());
    const MeasurementState& m = h.Core.Measurement;
    EXPECT_NEAR(m.Rate * 86400, 30.0, 0.3);
    EXPECT_NEAR(m.AccumulatedRate * 86400, 30.0, 0.3);
    EXPECT_GT(m.Deviation, 0.0);
}

TEST(Measurement, AlternatingHalfPeriodsGiveBeatErrorNotRate) {
    CoreHarness h;
    Started(h);
    ClickTrain train;
    train.Periods = {0.201, 0.199};
    h.Feed(train.Make());
    const MeasurementState& m = h.Core.Measurement;
    EXPECT_NEAR(std::fabs(m.BeatError), 0.005, 1e-4);
    EXPECT_NEAR(std::fabs(m.BeatError) * 0.2 * 1000, 1.0, 0.02);
    EXPECT_NEAR(m.Rate * 86400, 0.0, 0.05);
}

TEST(Measurement, MissingTicksCostOnlyIntervals) {
    ClickTrain train;
    train.Seconds = 3;
    CoreHarness complete;
    Started(complete);
    complete.Feed(train.Make());

    // An odd beat missing costs nothing; an even one makes the next interval odd, so the
    // reference is dropped and two points are lost.
    train.Missing = {7};
    CoreHarness oddMissing;
    Started(oddMissing);
    oddMissing.Feed(train.Make());
    train.Missing = {8};
    CoreHarness evenMissing;
    Started(evenMissing);
    evenMissing.Feed(train.Make());

    const size_t points = complete.Core.Measurement.DeviationHistory.size();
    EXPECT_EQ(oddMissing.Core.Measurement.DeviationHistory.size(), points);
    EXPECT_EQ(evenMissing.Core.Measurement.DeviationHistory.size(), points - 2);
    EXPECT_EQ(evenMissing.Core.Detector.BeatCount, complete.Core.Detector.BeatCount);
    EXPECT_NEAR(evenMissing.Core.Measurement.MeasuredTime,
                complete.Core.Measurement.MeasuredTime - 0.8, 1e-9);
}

TEST(Measurement, LongGapIsNeverMeasured) {
    CoreHarness h;
    Started(h);
    ClickTrain train;
    train.Seconds = 4;
    train.Missing = {6, 7, 8, 9, 10};
    h.Feed(train.Make());
    for (size_t i = 1; i < h.Core.Measurement.DeviationHistory.size(); ++i) {
        const auto& history = h.Core.Measurement.DeviationHistory;
        EXPECT_LE(history[i].Time - history[i - 1].Time, 3.5 * 0.3);
    }
}

TEST(Measurement, HistoryKeepsOnePointOlderThanLongestWindow) {
    CoreHarness h;
    Started(h);
    ClickTrain train;
    train.Seconds = 40;
    h.Feed(train.Make());
    const MeasurementState& m = h.Core.Measurement;
    const double window = 16.0; // PositionAveragingTime + Stabilization
    EXPECT_GT(m.MeasuredTime - m.DeviationHistory.front().Time, window);
    EXPECT_LE(m.MeasuredTime - m.DeviationHistory[1].Time, window);
}

// A position's rate comes from its own window; one too short for a slope takes the rate over the
// measuring window, so the results table never shows zero or a stray figure for a short position.
TEST(Measurement, PositionRateFollowsTheWatchWhateverThePositionWindow) {
    const struct {
        double AveragingSeconds;
        const char* Why;
    } cases[] = {
        {8.0, "the position's own window"},
        {0.0, "a window of under four points: the measuring window's rate"},
    };
    for (const auto& c : cases) {
        CoreHarness h;
        Started(h);
        h.Core.Params.PositionAveragingTime = c.AveragingSeconds;
        h.Core.Measurement.CurrentPosition = 1;
        ClickTrain train;
        train.Seconds = 20;
        train.Periods = {0.2 * (1.0 - 10.0 / 86400)};
        h.Feed(train.Make());
        const MeasurementState& m = h.Core.Measurement;
        ASSERT_TRUE(m.RateMeasured) << c.Why;
        EXPECT_NEAR(m.PositionRate[1] * 86400, 10.0, 1.0) << c.Why;
    }
}

TEST(Measurement, AllanDeviationAccumulatesEveryTau) {
    CoreHarness h;
    Started(h);
    h.Core.Params.Tau = 2.0;
    ClickTrain train;
    train.Seconds = 30;
    train.Periods = {0.2 * (1.0 - 10.0 / 86400)};
    h.Feed(train.Make());
    const MeasurementState& m = h.Core.Measurement;
    EXPECT_GE(m.AllanCount, 10);
    EXPECT_LT(m.AllanDeviation, 5e-5); // only the one-sample quantization of the ticks
    ASSERT_TRUE(m.AllanLastRate);
    EXPECT_NEAR(*m.AllanLastRate * 86400, 10.0, 1.0);
    h.Core.RestartAllan();
    EXPECT_EQ(m.AllanCount, 0);
    EXPECT_FALSE(m.AllanLastRate) << "the next tau starts a new Allan series";
}

TEST(Measurement, AveragingSmoothsAccumulatedRate) {
    CoreHarness h;
    h.Core.Params.Averaging = 1;
    Started(h);
    ClickTrain train;
    train.Seconds = 10;
    train.Periods = {0.2 * (1.0 - 20.0 / 86400)};
    h.Feed(train.Make());
    const MeasurementState& m = h.Core.Measurement;
    const double mean = m.CumulativeDeviation / m.MeasuredTime;
    EXPECT_LT(m.AccumulatedRate, mean); // still catching up from zero
    EXPECT_GT(m.AccumulatedRate, 0.0);
}

TEST(Measurement, ClearStartsNewBeatCount) {
    CoreHarness h;
    Started(h);
    ClickTrain train;
    train.Seconds = 5;
    auto s = train.Make();
    h.Feed(std::vector<int16_t>(s.begin(), s.begin() + 48000 * 3));
    h.Core.Clear("12 seconds");
    EXPECT_DOUBLE_EQ(h.Core.Params.MeasuringTime, 12.0);
    EXPECT_EQ(h.Core.Detector.FirstTickSample, 0);
    EXPECT_TRUE(h.Core.Measurement.DeviationHistory.empty());
    h.Feed(std::vector<int16_t>(s.begin() + 48000 * 3, s.end()));
    EXPECT_EQ(h.Core.Detector.BeatCount, 9);
}

TEST(Measurement, LocalCalibrationTextIsBuilt) {
    CoreHarness h;
    Started(h);
    h.Core.LocalStandardRun = true;
    ClickTrain train;
    train.Seconds = 3;
    h.Feed(train.Make());
    const std::string& text = h.Core.Measurement.LocalCalibrationText;
    EXPECT_EQ(text.rfind(
                  "Local cal for 0:0:2\r\nDropped frames 0\r\nAccumulated rate +0.0000 s/d\r\n", 0),
              0u)
        << text;
    EXPECT_NE(text.find("Cal factor suggested +0.0000 s/d\r\n"), std::string::npos);
}

TEST(Measurement, LogModeFollowsMeasurementPoints) {
    CoreHarness h;
    Started(h);
    ClickTrain train;
    train.Seconds = 2;
    h.Feed(train.Make());
    int periodic = 0;
    for (int mode : h.LogModes)
        periodic += mode == LogPeriodic;
    EXPECT_EQ(periodic, static_cast<int>(h.Core.Measurement.DeviationHistory.size()));
    EXPECT_EQ(h.LogModes.front(), LogNothing);
}

TEST(Measurement, ToothResidualsFollowBeatCount) {
    CoreHarness h;
    h.Core.Params.EscapeWheelTeeth = 15;
    Started(h);
    ClickTrain train;
    train.Seconds = 8;
    // One tooth 0.5 ms late on each revolution: tooth 3 shows the largest residual.
    std::vector<double> periods(30, 0.2);
    periods[2 * 3 - 1] = 0.2005;
    periods[2 * 3] = 0.1995;
    train.Periods = periods;
    h.Feed(train.Make());
    const auto& r = h.Core.Measurement.ToothResidual;
    int largest = 0;
    for (int k = 1; k < 15; ++k)
        if (std::fabs(r[k]) > std::fabs(r[largest])) largest = k;
    EXPECT_EQ(largest, 3);
}

TEST(Measurement, AmplitudeFollowsTheLiftTime) {
    // Amplitude = lift angle / (2 sin(pi t / 2T)): a shorter lift time is a larger amplitude.
    for (const double lift : {0.04, 0.03}) {
        CoreHarness h;
        Started(h);
        ClickTrain train;
        train.LiftSeconds = lift + 1.0 / 48000; // the lever rule lands one sample early
        train.Seconds = 30;
        h.Feed(train.Make());
        EXPECT_NEAR(h.Core.Measurement.Amplitude, 52.0 / (2 * std::sin(M_PI * lift / 0.4)), 0.05)
            << lift << " s";
    }
}

TEST(Measurement, AutoStopClearsReadings) {
    CoreHarness h;
    Started(h);
    ClickTrain train;
    train.LiftSeconds = 0.01;
    h.Feed(train.Make());
    h.Core.OnAutoStopTimer();
    EXPECT_TRUE(h.Core.NoSignal);
    EXPECT_DOUBLE_EQ(h.Core.Measurement.Rate, 0.0);
    EXPECT_DOUBLE_EQ(h.Core.Measurement.Amplitude, 0.0);
    EXPECT_EQ(h.Core.AutoStopDelayMs(), 6000u);
}

} // namespace
} // namespace kv
