// SPDX-License-Identifier: GPL-3.0-or-later
// The fit of a network or GPS calibration: least-squares sums of (reference seconds, sample
// seconds) points over a window that grows to twelve hours and then slides by quarter-hours, the
// line through them and the envelope of the slopes fitted so far, which gives the confidence.
// Pure arithmetic on the sums the settings store: no locks, no clocks, no text.
#pragma once

#include <cstdint>

#include "settings/AppSettings.h"

namespace kv::calfit {

inline constexpr int64_t QuarterHourSeconds = 900; // the window grows and slides by quarter-hours

// Adds the point (x, y) to bin 0 and moves the window on: bin k keeps the sums as they were at k
// quarter-hours, reckoned from the point count and the update interval in milliseconds; past
// twelve hours the oldest quarter-hour leaves the window.
void AddPoint(CalibrationSums& bins, double x, double y, int updateIntervalMs);
void SlideWindow(CalibrationSums& bins, int64_t quarterHours);

struct Line {
    double Slope = 0.0;     // sample seconds per reference second: the suggested factor
    double Intercept = 0.0; // sample seconds
    bool Fitted = false;    // false: fewer than two points or all at one x, both values 0
};
Line FitLine(const CalibrationSums& bins);

// The highest and lowest slope seen, drawn together by a fiftieth of their distance at every
// fit, and the last slope: their spread and the latest change make the confidence.
class SlopeEnvelope {
public:
    static constexpr double InitialHigh = 1.05, InitialLow = 0.95;
    void Reset();
    // Takes the latest fit over `seconds` of reference time; returns the confidence, +/- in
    // slope units.
    double Confidence(const Line& line, double seconds);
    double High() const { return High_; }
    double Low() const { return Low_; }

private:
    double High_ = InitialHigh, Low_ = InitialLow, Previous_ = 0.0;
};

} // namespace kv::calfit
