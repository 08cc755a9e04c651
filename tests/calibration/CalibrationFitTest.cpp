// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration's fit on its own: the line through the points, the growing and sliding window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "calibration/CalibrationFit.h"

namespace kv {
namespace {

constexpr int MinuteMs = 60000; // one point a minute, the usual update interval

// A card whose sample clock runs at `rate` times the reference gives that rate as the slope,
// whatever the offset between the two clocks; too few points give no fit rather than a NaN.
TEST(CalibrationFit, TheLineThroughThePointsGivesTheCardsRate) {
    struct Case {
        double Rate, Offset;
        int Points;
        bool Fitted;
    } cases[] = {
        {1.0, 0.0, 10, true},        {1.0001, 2.5, 60, true},
        {0.99995, -1.25, 600, true}, {1.0, 0.0, 1, false}, // one point: no line
        {1.0, 0.0, 0, false},
    };
    for (const Case& c : cases) {
        CalibrationSums bins;
        for (int i = 0; i < c.Points; ++i) {
            const double x = 60.0 * i;
            calfit::AddPoint(bins, x, c.Rate * x + c.Offset, MinuteMs);
        }
        const calfit::Line line = calfit::FitLine(bins);
        EXPECT_EQ(line.Fitted, c.Fitted) << c.Points << " points";
        if (!c.Fitted) {
            EXPECT_EQ(line.Slope, 0.0);
            continue;
        }
        EXPECT_NEAR(line.Slope, c.Rate, 1e-9) << c.Rate;
        EXPECT_NEAR(line.Intercept, c.Offset, 1e-5) << c.Rate;
    }
}

// During the first twelve hours bin k holds the sums as they were after k quarter-hours, so that
// the window can later drop the oldest quarter-hour.
TEST(CalibrationFit, TheWindowKeepsTheSumsOfEachQuarterHour) {
    CalibrationSums bins;
    const int pointsPerQuarterHour = 15; // a point a minute
    for (int i = 1; i <= 3 * pointsPerQuarterHour; ++i)
        calfit::AddPoint(bins, i, i, MinuteMs);
    EXPECT_EQ(bins.N[0], 45);
    for (int k = 1; k <= 3; ++k) {
        // Bin k was last written by the point before quarter-hour k+1 began.
        const int64_t n = k == 3 ? 45 : (k + 1) * pointsPerQuarterHour - 1;
        EXPECT_EQ(bins.N[k], n) << "bin " << k;
        EXPECT_DOUBLE_EQ(bins.SumX[k], static_cast<double>(n * (n + 1) / 2)) << "bin " << k;
    }
    EXPECT_EQ(bins.N[4], 0);
}

// Past twelve hours the window slides a quarter-hour at a time: at every point it holds between
// eleven and a half and twelve hours of the newest points, and fits only the rate within them. A
// slide at every point would empty it; no slide would mix in the first twelve hours' rate.
TEST(CalibrationFit, PastTwelveHoursTheWindowSlidesByQuarterHours) {
    constexpr double FirstRate = 1.00002, LaterRate = 0.99995; // the card's rate changes at 12 h
    constexpr double HourSeconds = 3600.0, ChangeHours = 12.0, RunHours = 30.0;
    constexpr double ShortestWindowHours = 11.5, LongestWindowHours = 12.0;
    for (const int intervalMs : {1000, 7000, 10000, MinuteMs}) {
        CalibrationSums bins;
        const double step = intervalMs / 1000.0;
        const auto points = static_cast<int>(RunHours * HourSeconds / step);
        double y = 0.0, shortest = RunHours, longest = 0.0;
        for (int i = 1; i <= points; ++i) {
            const double x = i * step;
            const bool changed = x > ChangeHours * HourSeconds;
            y += (changed ? LaterRate : FirstRate) * step;
            calfit::AddPoint(bins, x, y, intervalMs);
            if (!changed) continue;
            const double hours = static_cast<double>(bins.N[0]) * step / HourSeconds;
            shortest = std::min(shortest, hours);
            longest = std::max(longest, hours);
        }
        EXPECT_GE(shortest, ShortestWindowHours) << intervalMs << " ms";
        EXPECT_LE(longest, LongestWindowHours) << intervalMs << " ms";
        EXPECT_NEAR(calfit::FitLine(bins).Slope, LaterRate, 1e-9) << intervalMs << " ms";
    }
}

// The envelope narrows while the fits agree, so the confidence improves as the run goes on.
TEST(CalibrationFit, SteadyFitsNarrowTheConfidence) {
    calfit::SlopeEnvelope envelope;
    const calfit::Line steady{1.0001, 0.0, true};
    double first = envelope.Confidence(steady, 600.0);
    double last = first;
    for (int i = 0; i < 100; ++i)
        last = envelope.Confidence(steady, 600.0);
    EXPECT_LT(last, first / 10);
    EXPECT_LE(envelope.Low(), steady.Slope);
    EXPECT_GE(envelope.High(), steady.Slope);
}

} // namespace
} // namespace kv
