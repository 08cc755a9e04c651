// The paper tape: one slot per beat, advanced and filled at the end of every buffer.
#include <algorithm>

#include "analysis/AnalysisCore.h"

namespace kv {

void AnalysisCore::AdvanceTape() {
    TapeState& tape = Tape;
    const int64_t beats = (Detector.BufferCounter - tape.TapeBufferMark) / Derived.BuffersPerBeat;
    if (beats <= 0) return;
    tape.TapeBufferMark = Detector.BufferCounter;
    if (tape.TapeScrollOffset != 0 || tape.MarkingDragActive)
        tape.TapeScrollOffset += static_cast<int>(beats);
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
    entry.Phase = Detector.TickOffset / Derived.SamplesPerBeat;
    entry.Text.clear();
}

void AnalysisCore::ClampTapeScroll() {
    Tape.TapeScrollOffset = std::min(std::max(Tape.TapeScrollOffset, 0), Tape.TapeWriteIndex);
}

void AnalysisCore::ClearTape() {
    {
        const auto lock = HoldAnalysis();
        Tape.Entries = std::vector<TapeEntry>(TapeGrowStep);
        Tape.TapeBufferMark = Detector.BufferCounter;
        Tape.TapeScrollOffset = 0;
        Tape.TapeWriteIndex = 0;
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
