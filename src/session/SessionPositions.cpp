// SPDX-License-Identifier: GPL-3.0-or-later
// The measuring session's part of positional runs: the positional command, the per-buffer
// hand-over from one position to the next, and Stop cancelling a run.
#include "session/MeasuringSession.h"

namespace kv {

namespace {
constexpr int PositionAnnotationTrace = 2; // the log viewer's trace that shows position results
} // namespace

void MeasuringSession::AdvancePositionalRun() {
    PositionRun->Advance();
}

// When the current position has been measured long enough: its result goes into the log as an
// annotation and the positional command is posted. One hand-over at a time: the buffers that
// arrive before the posted command runs find it pending. A hand-over that finds the run
// cancelled or already moved on does nothing.
void MeasuringSession::PositionHandOver() {
    if (HandOverPending) return;
    const std::optional<std::string> annotation = PositionRun->HandOverAnnotation();
    if (!annotation) return;
    Log.AnnotateLog(PositionAnnotationTrace, *annotation);
    int position;
    {
        const auto lock = Core.HoldAnalysis();
        position = Core.Measurement.CurrentPosition;
    }
    HandOverPending = true;
    Host.Post([this, position] {
        HandOverPending = false;
        bool samePosition;
        {
            const auto lock = Core.HoldAnalysis();
            samePosition = Core.Measurement.CurrentPosition == position;
        }
        if (samePosition) AdvancePositionalRun();
    });
}

// Stop during a run: the run is forgotten and the positioner sent home while the sound output
// still plays.
void MeasuringSession::CancelPositionalRun() {
    PositionRun->Cancel();
}

} // namespace kv
