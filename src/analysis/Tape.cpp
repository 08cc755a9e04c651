// SPDX-License-Identifier: GPL-3.0-or-later
// The paper tape: one slot per beat, advanced and filled at the end of every buffer.
#include <algorithm>
#include <cmath>

#include "analysis/AnalysisCore.h"

namespace kv {

namespace {
// Columns beyond this are held there instead of overflowing; any of them wraps like the rest.
constexpr double ColumnReach = 1e15;
} // namespace

long long TapeColumn(double phase, double magnification, long long width) {
    if (width <= 0) return 0;
    const double x = (0.5 - 4.0 * magnification * phase) * static_cast<double>(width);
    const long long c =
        std::isfinite(x) ? static_cast<long long>(std::clamp(x, -ColumnReach, ColumnReach)) : 0;
    return c >= 0 && c < width ? c : (c % width + width) % width;
}

void AnalysisCore::AdvanceTape() {
    TapeState& tape = Tape;
    const int64_t beats = (Detector.BufferCounter - tape.TapeBufferMark) / Derived.BuffersPerBeat;
    if (beats <= 0) return;
    tape.TapeBufferMark = Detector.BufferCounter;
    tape.TapeWriteIndex += static_cast<int>(beats);
}

void AnalysisCore::EnterTape() {
    if (Settings.DiscardOdd && Detector.BeatCount % 2 != 0) return;
    if (CentringPending) return;
    TapeState& tape = Tape;
    const size_t index = static_cast<size_t>(tape.TapeWriteIndex);
    if (index >= tape.Entries.size()) {
        const size_t needed = index + 1;
        if (needed > tape.Entries.capacity())
            tape.Entries.reserve((needed + TapeGrowStep - 1) / TapeGrowStep * TapeGrowStep);
        tape.Entries.resize(needed);
    }
    TapeEntry& entry = tape.Entries[index];
    entry.Time = ClockRegression.StampTick(static_cast<uint64_t>(Detector.LastTickSample),
                                           Settings.SampleRate, Clock);
    entry.Phase = (Detector.TickOffset + Detector.TickOffsetFraction) / Derived.SamplesPerBeat;
    entry.Text.clear();
}

void AnalysisCore::ClearTape() {
    {
        const auto lock = HoldAnalysis();
        Tape.Entries = std::vector<TapeEntry>(TapeGrowStep);
        Tape.TapeBufferMark = Detector.BufferCounter;
        Tape.TapeWriteIndex = 0;
        ++Tape.Restarts;
    }
    Host.RequestRepaint();
}

void AnalysisCore::SetFeedNormal() {
    const auto lock = HoldAnalysis();
    Settings.SlowFeed = 1;
    Tape.TapeBufferMark = Detector.BufferCounter;
}

// Toggles the feed between `code` (10, 100 or -10) and normal.
void AnalysisCore::ToggleFeed(int code) {
    const auto lock = HoldAnalysis();
    Settings.SlowFeed = Settings.SlowFeed == code ? 1 : code;
    Tape.TapeBufferMark = Detector.BufferCounter;
}

} // namespace kv
