// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logview/GraphLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace kv {

namespace {

struct SiPrefix {
    double Threshold;
    double Factor;
    const char* Letter;
};

// The first prefix whose threshold |x| reaches is used.
constexpr SiPrefix kPrefixes[] = {
    {1e9, 1e-9, "G"}, {1e6, 1e-6, "M"}, {1e3, 1e-3, "k"},   {1.0, 1.0, ""},     {1e-3, 1e3, "m"},
    {1e-6, 1e6, "u"}, {1e-9, 1e9, "n"}, {1e-12, 1e12, "p"}, {1e-15, 1e15, "f"},
};
constexpr double kNoPrefixAbove = 1e12; // beyond the prefixes: plain number

// Candidate time grid steps in seconds, from one second to a day.
constexpr int64_t kTimeSteps[] = {1,   5,    10,   30,   60,    120,   300,  600,
                                  900, 1800, 3600, 7200, 14400, 43200, 86400};

constexpr double kSecondsPerHour = 3600.0;
constexpr double kSecondsPerMinute = 60.0;

} // namespace

void ComputeStrips(const GraphSettings& settings, StripLayout& layout) {
    int lo = StripCount;
    int hi = -1;
    for (const TraceSettings& trace : settings.Traces) {
        if (!trace.Enabled) continue;
        lo = std::min(lo, trace.Strip());
        hi = std::max(hi, trace.Strip());
    }
    if (hi < 0) {
        layout.Count = 0;
        return;
    }
    layout.Count = hi - lo + 1;
    layout.BandHeight = static_cast<double>(PlotHeight) / layout.Count;
    for (int p = lo; p < StripCount; ++p) {
        const int bottom =
            static_cast<int>((layout.Count - 1 - (p - lo)) * layout.BandHeight) + PlotBottom;
        layout.Bottom[p] = bottom;
        layout.Bottom[p + StripCount] = bottom;
    }
}

std::string FormatScaled(double x, int precision, bool si) {
    const char* letter = "";
    const double magnitude = std::fabs(x);
    if (si && magnitude < kNoPrefixAbove) {
        const auto* prefix =
            std::find_if(std::begin(kPrefixes), std::end(kPrefixes),
                         [&](const SiPrefix& p) { return magnitude >= p.Threshold; });
        if (prefix != std::end(kPrefixes)) {
            x *= prefix->Factor;
            letter = prefix->Letter;
        }
    }
    char text[64];
    if (precision < 0)
        std::snprintf(text, sizeof text, "%g%s", x, letter);
    else
        std::snprintf(text, sizeof text, "%1.*f%s", precision, x, letter);
    return text;
}

double HorizontalGridStep(double range, int lines) {
    const double d = range / lines;
    double s = std::pow(10.0, std::floor(std::log10(d / 10)) + 1);
    if (0.2 * d >= s) s *= 5;
    if (0.5 * d >= s) s *= 2;
    return s;
}

int64_t TimeGridStep(int64_t spanSeconds, int divisions) {
    const int64_t q = (2 * spanSeconds / 3) / divisions;
    const auto* candidate = std::find_if(std::begin(kTimeSteps), std::end(kTimeSteps),
                                         [&](int64_t step) { return step >= q; });
    int64_t step =
        candidate == std::end(kTimeSteps) ? kTimeSteps[std::size(kTimeSteps) - 1] : *candidate;
    while (step <= q / 10)
        step *= 10;
    if (step <= q / 5) step *= 5;
    if (step <= q / 2) step *= 2;
    return step;
}

std::string SpanLabelText(int64_t spanSeconds) {
    const double d = static_cast<double>(spanSeconds + 1); // both end records count
    char text[64];
    if (d > kSecondsPerHour)
        std::snprintf(text, sizeof text, "%3.2f hrs", d / kSecondsPerHour);
    else if (d > kSecondsPerMinute)
        std::snprintf(text, sizeof text, "%3.2f mins", d / kSecondsPerMinute);
    else
        std::snprintf(text, sizeof text, "%3.2f secs", d);
    return text;
}

} // namespace kv
