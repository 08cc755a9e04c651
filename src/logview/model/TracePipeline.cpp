// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/model/TracePipeline.h"

#include <cmath>

namespace kv {

namespace {

constexpr double kTiny = 1e-30;     // time steps and ranges at or below this count as none
constexpr double kGapFactor = 10.0; // a gap this many filter steps long restarts the filter
constexpr double kTwoPi = 2.0 * M_PI;

double Finite(double v) {
    return std::isfinite(v) ? v : NoValue;
}

} // namespace

WrapRange WrapRange::For(const TraceSettings& s, const TraceResult& r) {
    WrapRange w;
    if (!s.WrapSuppress || !s.HoldMax || !s.HoldMin) return w;
    w.Q = (r.ScaleMax - r.ScaleMin) / kTwoPi;
    w.On = w.Q > kTiny && std::isfinite(w.Q);
    w.Min = r.ScaleMin;
    return w;
}

// A value so far outside the range that its phase overflows is reduced in scale units first,
// which gives the same angle.
double WrapRange::Phase(double value) const {
    double phi = (value - Min) / Q;
    if (!std::isfinite(phi)) phi = std::remainder(value - Min, kTwoPi * Q) / Q;
    if (!std::isfinite(phi)) return 0.0;
    return phi >= M_PI ? phi - kTwoPi : phi;
}

double WrapRange::Fold(double angle) const {
    return Min + Q * (angle < 0.0 ? angle + kTwoPi : angle);
}

double LowPassFilter::Step(double value, double k, const WrapRange& wrap) {
    const double half = k / 2.0;
    if (wrap.On) {
        const double phi = wrap.Phase(value);
        const double c = std::cos(phi), s = std::sin(phi);
        if (!HasValue(YA)) {
            YA = c;
            YB = s;
        } else {
            YA = half * c + half * XA + (1.0 - k) * YA;
            YB = half * s + half * XB + (1.0 - k) * YB;
        }
        XA = c;
        XB = s;
        return wrap.Fold(std::atan2(YB, YA));
    }
    YA = HasValue(YA) ? half * value + half * XA + (1.0 - k) * YA : value;
    if (!std::isfinite(YA)) YA = value; // rounding past the largest double: start again here
    XA = value;
    return YA;
}

TracePipeline::TracePipeline(const TraceSettings& settings, TraceResult& result)
    : S(settings), R(result) {
    R.Integral = 0.0;
    R.ScaleMax = S.HoldMax ? S.MaxHold : -1e30;
    R.ScaleMin = S.HoldMin ? S.MinHold : 1e30;
    R.SlopeCount = 0;
    R.SlopeSquares = 0.0;
    Wrap = WrapRange::For(S, R);
    // A wrapping filter needs both components; a seed left by an unwrapped trace starts afresh.
    const bool seeded = HasValue(R.FilterSeedA) && (!Wrap.On || HasValue(R.FilterSeedB));
    Filter.XA = Filter.YA = seeded ? R.FilterSeedA : NoValue;
    Filter.XB = Filter.YB = seeded ? R.FilterSeedB : NoValue;
}

void TracePipeline::Process(double t, std::string_view field, double& value, double& raw) {
    value = raw = NoValue;
    const double scaled = field.empty() ? NoValue : S.Mag * ParseLogNumber(field) + S.Ofs;
    if (field.empty() || !std::isfinite(scaled)) { // an overflowing value counts as none
        ProcessEmpty(t);
        return;
    }
    double v = Finite(Differentiate(t, scaled));
    raw = v;
    if (!HasValue(v)) return;
    if (S.Filter)
        v = Smooth(t, v);
    else if (Wrap.On)
        v = Wrap.Fold(std::remainder(Wrap.Phase(v), kTwoPi));
    Widen(v);
    value = v;
}

void TracePipeline::ProcessEmpty(double t) {
    if (S.Mode() != DerivativeMode::Plain) {
        HasPrevScaled = false;
        HasPrevSlope = false;
    }
    if (S.Filter && t - LastFilteredTime > kGapFactor * (LastFilteredTime - FilteredTimeBefore))
        Filter.YA = NoValue;
}

// The integral, and the value the mode shows: the scaled value, its slope or the integral.
double TracePipeline::Differentiate(double t, double scaled) {
    const double dt = t - PrevTime;
    const bool stepped = PrevTime > 0.0 && dt > kTiny && HasPrevScaled;
    if (stepped) R.Integral += scaled * dt;
    double value = scaled;
    if (S.Mode() == DerivativeMode::Slope) {
        const double slope = dt > kTiny ? (scaled - PrevScaled) / dt : 0.0;
        const bool counts =
            stepped && (!S.HoldMax || slope < R.ScaleMax) && (!S.HoldMin || slope > R.ScaleMin);
        if (counts) {
            value = slope;
            if (HasPrevSlope) {
                ++R.SlopeCount;
                R.SlopeSquares += (slope - PrevSlope) * (slope - PrevSlope);
            }
            PrevSlope = slope;
        } else {
            value = NoValue;
        }
        HasPrevSlope = counts;
    } else if (S.Mode() == DerivativeMode::Integral) {
        value = R.Integral;
    }
    PrevTime = t;
    PrevScaled = scaled;
    HasPrevScaled = true;
    return value;
}

double TracePipeline::Smooth(double t, double value) {
    const double out = Filter.Step(value, S.FiltCoeff, Wrap);
    FilteredTimeBefore = LastFilteredTime;
    LastFilteredTime = t;
    return out;
}

void TracePipeline::Widen(double value) {
    if (!S.HoldMax && value > R.ScaleMax) R.ScaleMax = value;
    if (!S.HoldMin && value < R.ScaleMin) R.ScaleMin = value;
}

void TracePipeline::ApplyMarker(FilterMarkerKind kind) {
    Filter.XA = Filter.YA = kind == FilterMarkerKind::Zero ? 0.0 : NoValue;
}

void TracePipeline::FinishLoad(const std::vector<GraphRecord>& records, int trace) {
    R.LatestValue = records.empty() ? NoValue : records.back().Value[trace];
    if (!S.Enabled || !S.Filter || S.FiltCoeff <= 0.0) {
        R.FilterSeedA = R.FilterSeedB = NoValue;
        return;
    }
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        if (HasValue(it->Raw[trace])) Filter.Step(it->Raw[trace], S.FiltCoeff, Wrap);
    R.FilterSeedA = Finite(Filter.YA);
    R.FilterSeedB = Finite(Filter.YB);
}

} // namespace kv
