// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's data: processed records, annotation tags, the time window and the per-trace
// results kept between loads.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kv {

inline constexpr int TraceCount = 8;

// Stands for the absence of a value; any value at or below it counts as none.
inline constexpr double NoValue = -1e30;
inline bool HasValue(double v) {
    return v > NoValue;
}

// LeftMark 0 means from the beginning, RightMark EndOfTime to the end of the file.
inline constexpr int64_t EndOfTime = 1000000000000; // 10^12 s, far beyond any log

// One log line inside the shown time window.
struct GraphRecord {
    double Time = 0.0; // seconds since 1970-01-01 UTC
    // As drawn: scaled, differentiated or integrated, folded and filtered.
    std::array<double, TraceCount> Value;
    // Scaled and differentiated, before folding and filtering; the spectrum uses it.
    std::array<double, TraceCount> Raw;
};

enum class GraphTagKind { Note = 0, NoteWithLine = 1 }; // the second also draws a line

struct GraphTag {
    double Time = 0.0;
    int16_t Trace = 0; // 0 … 7
    std::string Text;
    GraphTagKind Kind = GraphTagKind::Note;
};

// The shown time window, whole seconds since 1970-01-01 UTC.
struct GraphWindow {
    int64_t LeftMark = 0;
    int64_t RightMark = EndOfTime;
    bool SectionMarked = false;       // the user set a mark since the last reset
    int64_t DisplayStart = EndOfTime; // earliest record time in the window (latest load)
    int64_t DisplayEnd = 0;           // latest record time in the window
    int64_t FirstRecordTime = 0;      // first non-zero time of the whole file
    int64_t LastRecordTime = 0;       // time of the file's last line

    // The whole file, nothing marked.
    void ResetMarks() {
        LeftMark = 0;
        RightMark = EndOfTime;
        SectionMarked = false;
    }
    bool HasRightMark() const { return RightMark < EndOfTime; }
};

// What a load leaves per trace for the drawing and for the next load.
struct TraceResult {
    double ScaleMax = -1e30;
    double ScaleMin = 1e30;
    double Integral = 0.0;        // running time integral (derivative mode 2)
    double FilterSeedA = NoValue; // the next load's filter start, from the backward pass
    double FilterSeedB = NoValue;
    int SlopeCount = 0;           // consecutive slope pairs (derivative mode 1)
    double SlopeSquares = 0.0;    // sum of their squared differences
    double LatestValue = NoValue; // the last record's value

    bool HasScale() const { return ScaleMax - ScaleMin > 1e-30; }
};
using TraceResults = std::array<TraceResult, TraceCount>;

} // namespace kv
