// SPDX-License-Identifier: GPL-3.0-or-later
#include "positions/PositionResults.h"

#include <algorithm>

#include "positions/PositionCodes.h"
#include "text/NumberText.h"

namespace kv {

namespace {

// Extremes start beyond any real reading, so the first measured position replaces both.
constexpr double RateCeiling = 1000.0;
constexpr double AmplitudeCeiling = 1000.0;

struct Extremes {
    double Largest;
    double Smallest;
    void Take(double v) {
        Largest = std::max(Largest, v);
        Smallest = std::min(Smallest, v);
    }
    double Spread() const { return Largest - Smallest; }
    bool Spreads() const { return Largest > Smallest; }
};

struct Summary {
    int Count = 0;
    double RateSum = 0.0, AmplitudeSum = 0.0, BeatErrorSum = 0.0;
    Extremes Rate{-RateCeiling, RateCeiling};
    Extremes Amplitude{0.0, AmplitudeCeiling};
    Extremes DialRate{-RateCeiling, RateCeiling};
    Extremes PendantRate{-RateCeiling, RateCeiling};

    void Take(const PositionResult& p) {
        ++Count;
        RateSum += p.RateSd;
        AmplitudeSum += p.AmplitudeDeg;
        BeatErrorSum += p.BeatErrorMs;
        Rate.Take(p.RateSd);
        Amplitude.Take(p.AmplitudeDeg);
        const PositionGroup group = GroupOf(p.Code);
        if (group == PositionGroup::Dial) DialRate.Take(p.RateSd);
        if (group == PositionGroup::Pendant) PendantRate.Take(p.RateSd);
    }
};

std::string SummaryText(const Summary& s) {
    std::string text = FormatC("Deltas:\tRate = %+3.2f s/d, ", s.Rate.Spread());
    if (s.DialRate.Spreads()) text += FormatC("Rate-D = %3.2f s/d, ", s.DialRate.Spread());
    if (s.PendantRate.Spreads()) text += FormatC("Rate-P = %3.2f s/d, ", s.PendantRate.Spread());
    text += FormatC("Amp = %5.1f\u00b0\r\n", s.Amplitude.Spread());
    text +=
        FormatC("Means: \tRate = %3.2f s/d, Beat = %3.2f ms, Amp = %5.1f\u00b0, Positions %d\r\n",
                s.RateSum / s.Count, s.BeatErrorSum / s.Count, s.AmplitudeSum / s.Count, s.Count);
    return text;
}

} // namespace

std::string FormatPositionResults(const std::vector<PositionResult>& positions,
                                  double stabilization, double totalMeasuredTime) {
    std::string text = "Posn\tRate\tAmp \u00b0\tBeat ms\tDuration s\r\n";
    Summary summary;
    int number = 0;
    for (const PositionResult& p : positions) {
        ++number;
        if (!p.Measured || p.Span < MinimumPositionSpan) {
            text += FormatC("%2d %s\tSkipped ...\r\n", number, p.Code.c_str());
            continue;
        }
        text += FormatC("%2d %s\t%+3.2f\t%5.1f\t%3.2f\t%6.2f\r\n", number, p.Code.c_str(), p.RateSd,
                        p.AmplitudeDeg, p.BeatErrorMs, p.Span - stabilization);
        summary.Take(p);
    }
    // With every position skipped there is nothing to take deltas or means of.
    if (totalMeasuredTime > MinimumPositionSpan && summary.Count > 0) text += SummaryText(summary);
    return text;
}

} // namespace kv
