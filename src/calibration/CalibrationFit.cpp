// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/CalibrationFit.h"

#include <algorithm>
#include <cmath>

namespace kv::calfit {

namespace {

constexpr double EnvelopeShrink = 0.02;   // of the envelope's width, per fit
constexpr double ConfidenceFloor = 0.002; // slope units times seconds
constexpr double SingularDenominator = 1e-200;
constexpr int64_t MsPerSecond = 1000;

void CopyBin(CalibrationSums& b, size_t to, size_t from) {
    b.SumX[to] = b.SumX[from];
    b.SumY[to] = b.SumY[from];
    b.SumXY[to] = b.SumXY[from];
    b.SumXX[to] = b.SumXX[from];
    b.N[to] = b.N[from];
}

void SubtractBin(CalibrationSums& b, size_t to, size_t from) {
    b.SumX[to] -= b.SumX[from];
    b.SumY[to] -= b.SumY[from];
    b.SumXY[to] -= b.SumXY[from];
    b.SumXX[to] -= b.SumXX[from];
    b.N[to] -= b.N[from];
}

} // namespace

void AddPoint(CalibrationSums& bins, double x, double y, int updateIntervalMs) {
    bins.N[0] += 1;
    bins.SumX[0] += x;
    bins.SumY[0] += y;
    bins.SumXY[0] += x * y;
    bins.SumXX[0] += x * x;
    const int64_t interval = std::max(updateIntervalMs, 1);
    SlideWindow(bins, bins.N[0] * interval / MsPerSecond / QuarterHourSeconds);
}

void SlideWindow(CalibrationSums& bins, int64_t quarterHours) {
    if (quarterHours >= CalibrationSlots) {
        for (size_t i = 0; i < CalibrationSlots; ++i)
            if (i != 1) SubtractBin(bins, i, 1);
        for (size_t i = 1; i + 1 < CalibrationSlots; ++i)
            CopyBin(bins, i, i + 1);
    } else if (quarterHours > 0) {
        CopyBin(bins, static_cast<size_t>(quarterHours), 0);
    }
}

Line FitLine(const CalibrationSums& bins) {
    const double n = static_cast<double>(bins.N[0]);
    const double d = n * bins.SumXX[0] - bins.SumX[0] * bins.SumX[0];
    if (bins.N[0] <= 1 || std::fabs(d) <= SingularDenominator) return {};
    return {(n * bins.SumXY[0] - bins.SumY[0] * bins.SumX[0]) / d,
            (bins.SumY[0] * bins.SumXX[0] - bins.SumXY[0] * bins.SumX[0]) / d, true};
}

void SlopeEnvelope::Reset() {
    *this = SlopeEnvelope{};
}

double SlopeEnvelope::Confidence(const Line& line, double seconds) {
    const double a = line.Slope;
    if (line.Fitted) {
        High_ -= EnvelopeShrink * (High_ - Low_);
        Low_ += EnvelopeShrink * (High_ - Low_);
        if (a >= High_) High_ = a;
        if (a <= Low_) Low_ = a;
    }
    const double confidence =
        std::fabs(a - Previous_) + (0.5 * (High_ - Low_) + ConfidenceFloor) / seconds;
    Previous_ = a;
    return confidence;
}

} // namespace kv::calfit
