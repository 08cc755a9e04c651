// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's drawing rules that need no painter: the strips, the grid steps, the number
// format of the scales and the span label. Used on the user-interface thread by the renderer.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "logview/model/GraphSettings.h"

namespace kv {

// The fixed logical coordinate system stretched over the whole image (y grows upwards).
inline constexpr int LogicalLeft = -1570;
inline constexpr int LogicalTop = 1059;
inline constexpr int LogicalWidth = 3140;
inline constexpr int LogicalHeight = 2120;
// The plot area inside it.
inline constexpr int PlotLeft = -1500;
inline constexpr int PlotRight = 1500;
inline constexpr int PlotBottom = -1000;
inline constexpr int PlotTop = 1000;
inline constexpr int PlotWidth = PlotRight - PlotLeft;
inline constexpr int PlotHeight = PlotTop - PlotBottom;
inline constexpr int StripCount = 4;

// Where each trace position (0 … 7) is drawn; kept between renders, as a render with no enabled
// trace leaves the previous layout in place.
struct StripLayout {
    double BandHeight = PlotHeight / 4.0;
    std::array<int, 2 * StripCount> Bottom{500, 0, -500, -1000, 500, 0, -500, -1000};
    int Count = 0; // strips in use; 0 when no trace is enabled

    int BottomOf(const TraceSettings& trace) const { return Bottom[trace.Position]; }
    double MiddleOf(const TraceSettings& trace) const { return BottomOf(trace) + BandHeight / 2; }
};

// Stacks the strips of the enabled traces from the top of the plot area.
void ComputeStrips(const GraphSettings& settings, StripLayout& layout);

// A value with an SI prefix (when `si` is set) and `precision` decimals ("%g" when negative).
std::string FormatScaled(double x, int precision, bool si);

// The horizontal grid step: the largest of 1, 2, 5 × 10^n not above range / lines.
double HorizontalGridStep(double range, int lines);

// The time grid step in seconds for a span of `spanSeconds` and about `divisions` divisions.
int64_t TimeGridStep(int64_t spanSeconds, int divisions);

// The length of the shown data, "3.00 hrs", "12.50 mins" or "60.00 secs".
std::string SpanLabelText(int64_t spanSeconds);

} // namespace kv
