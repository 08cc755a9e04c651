// Precision timing: each detected unlock is timed from its onset (a constant fraction of its main
// event's rise) refined to a fraction of a sample against its pallet's template, and those times
// feed the rate, the accumulated rate, the tape and the beat error.
#include <algorithm>
#include <cmath>

#include "analysis/AnalysisCore.h"
#include "analysis/BufferContext.h"

namespace kv {

// Precision timing runs outside fork mode, when the tick envelope outlasts the onset search and
// the refiner's window, so no new unlock comes while a tick waits for its samples. The onset is
// looked for at most half the shortest lift time after the detected unlock: the drop comes later.
// Automatic level control asks for it too: ticks timed from their onset keep their times while the
// level changes.
void AnalysisCore::ConfigurePrecision(BufferContext& ctx) {
    if (PrecisionTimingInForce() && !ctx.ForkMode) {
        Refiner.Configure(Settings.SampleRate);
        ctx.OnsetLookAhead = std::min(Refiner.LongestLookAhead(), Derived.LiftSamplesMin / 2);
        ctx.Precise = Refiner.SamplesAfterOnsetSearch(ctx.OnsetLookAhead) < Derived.LiftSamplesMax;
    }
    if (!ctx.Precise) Detector.PendingRefineAt = -1;
}

// Measures the pending unlock once the samples after it are in. The tick is timed from its onset,
// which neither the threshold nor the level moves; the refiner then times the onset to a fraction
// of a sample, and where it cannot, the onset's own interpolated time stands.
void AnalysisCore::CompletePendingUnlock(BufferContext& ctx) {
    DetectorState& det = Detector;
    det.PendingRefineAt = -1;
    const int64_t detected = det.PendingUnlock;
    const std::optional<double> onset = Refiner.Onset(detected, ctx.OnsetLookAhead, AutoLevels.NoiseRms());
    const int64_t anchor = onset ? static_cast<int64_t>(std::llround(*onset)) : detected;
    const TickRefiner::Result r = Refiner.Refine(anchor, det.BeatCount);
    const double withinAnchor =
        r.Refined ? r.Shift : (onset ? *onset - static_cast<double>(anchor) : 0.0);
    const double shift = static_cast<double>(anchor - detected) + withinAnchor;
    if (detected == ctx.FirstTickSample) ctx.FirstTickShift = shift; // for the tape
    NoteTimedTick(det.BeatCount, static_cast<double>(detected) + shift);
    if (det.BeatCount % 2 == 0) BeatErrorFromTimedTicks();
    // Ticks that teach the templates are not measured: a measurement anchored on a coarser time
    // would carry its error into the accumulated rate for the rest of the run.
    if (r.Learning) return;
    MeasurementStep(detected, shift, ctx.LogMode);
}

void AnalysisCore::NoteTimedTick(int64_t beat, double time) {
    auto& ticks = Detector.TimedTicks;
    std::rotate(ticks.rbegin(), ticks.rbegin() + 1, ticks.rend());
    ticks[0] = {beat, time, true};
}

// The beat error from the three latest timed ticks, when they are successive beats.
void AnalysisCore::BeatErrorFromTimedTicks() {
    const auto& t = Detector.TimedTicks;
    const bool successive = t[2].Valid && t[1].Valid && t[0].Beat == t[1].Beat + 1 &&
                            t[1].Beat == t[2].Beat + 1 && t[0].Time > t[1].Time &&
                            t[1].Time > t[2].Time;
    if (!successive) {
        Measurement.BeatErrorStable = false;
        return;
    }
    UpdateBeatError(t[0].Time - t[1].Time, t[0].Time - t[2].Time);
}

} // namespace kv
