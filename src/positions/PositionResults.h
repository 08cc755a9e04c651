// SPDX-License-Identifier: GPL-3.0-or-later
// The results of a positional run as the view shows them and the results file receives them: a
// table with one line per position and a summary of the deltas and means.
#pragma once

#include <string>
#include <vector>

namespace kv {

// One closed position.
struct PositionResult {
    std::string Code;    // two letters, or empty
    double Span = 0.0;   // measured time of the position, stabilization included, seconds
    double RateSd = 0.0; // seconds per day
    double AmplitudeDeg = 0.0;
    double BeatErrorMs = 0.0;
    bool Measured = true; // false when closed while settling or before a reading after it
};

// A position measured for less than this, or closed before a reading after it settled, is listed
// as skipped and left out of the summary.
inline constexpr double MinimumPositionSpan = 0.1;

// The header, one line per position ("Skipped ..." for unsettled positions and spans under 0.1 s;
// the duration column is the span less `stabilization`) and, when `totalMeasuredTime` exceeds
// 0.1 s and at least one position was measured, the "Deltas:" and "Means:" lines.
// Lines end with CR LF.
std::string FormatPositionResults(const std::vector<PositionResult>& positions,
                                  double stabilization, double totalMeasuredTime);

} // namespace kv
