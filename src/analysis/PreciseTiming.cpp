// SPDX-License-Identifier: GPL-3.0-or-later
// Precision timing: the refiner times each detected unlock to a fraction of a sample for the rate,
// the accumulated rate and the tape; each tick's onset (a constant fraction of its first event's
// rise) gives the beat error the same event of both pallets.
#include <algorithm>
#include <cmath>

#include "analysis/AnalysisCore.h"
#include "analysis/BufferContext.h"

namespace kv {

namespace {

// A tick whose onset lies this much further from its refined time than its pallet's usual distance
// had another of its events caught by the threshold: a quarter of a millisecond is far beyond the
// onset's jitter and well short of the spacing of a tick's events.
constexpr double OnsetOffsetToleranceSeconds = 0.25e-3;
// After this many such ticks in a row the pallet's usual distance is learnt again: the sound
// changed, or the first ticks it was learnt from were the odd ones.
constexpr int OnsetStraysBeforeRelearning = 4;

} // namespace

// Precision timing runs outside fork mode, when the tick envelope outlasts the onset search and
// the refiner's window, so no new unlock comes while a tick waits for its samples. The onset is
// looked for at most half the shortest lift time after the detected unlock: the drop comes later.
// Automatic level control asks for it too: ticks timed from their onset keep their times while the
// level changes.
void AnalysisCore::ConfigurePrecision(BufferContext& ctx) {
    if (PrecisionTimingInForce() && !ctx.ForkMode) {
        Refiner.Configure(Settings.SampleRate);
        ctx.OnsetLookAhead = std::min(Refiner.LongestLookAhead(), Derived.LiftSamplesMin / 2);
        ctx.OnsetOffsetTolerance = OnsetOffsetToleranceSeconds * Settings.SampleRate;
        ctx.Precise = Refiner.SamplesAfterOnsetSearch(ctx.OnsetLookAhead) < Derived.LiftSamplesMax;
    }
    if (!ctx.Precise) Detector.PendingRefineAt = -1;
}

// Measures the pending unlock once the samples after it are in. The refiner times the event the
// threshold caught to a fraction of a sample; that time serves the rate, whose intervals join ticks
// of the same pallet. The beat error compares the two pallets, so it needs the same event of both:
// each tick's onset, which neither the threshold nor the level moves. Per pallet the onset's mean
// distance from the refined time is added to the refined time, which keeps its precision.
void AnalysisCore::CompletePendingUnlock(BufferContext& ctx) {
    DetectorState& det = Detector;
    det.PendingRefineAt = -1;
    const int64_t detected = det.PendingUnlock;
    const TickRefiner::Result r = Refiner.Refine(detected, det.BeatCount);
    const double refined = static_cast<double>(detected) + r.Shift;
    if (detected == ctx.FirstTickSample) ctx.FirstTickShift = r.Shift; // for the tape
    const std::optional<double> onset =
        Refiner.Onset(detected, ctx.OnsetLookAhead, AutoLevels.NoiseRms());
    OnsetOffset& pallet = det.OnsetOffsets[static_cast<size_t>(det.BeatCount & 1)];
    double time = refined;
    if (onset) {
        const double offset = *onset - refined;
        if (pallet.Ticks > 0 && std::fabs(offset - pallet.Mean) > ctx.OnsetOffsetTolerance) {
            time = *onset; // the threshold caught another event this time: the onset stands alone
            if (++pallet.Strays >= OnsetStraysBeforeRelearning) pallet = {};
        } else {
            pallet.Strays = 0;
            pallet.Ticks = std::min(pallet.Ticks + 1, OnsetOffset::AveragedTicks);
            pallet.Mean += (offset - pallet.Mean) / pallet.Ticks;
            time = refined + pallet.Mean;
        }
    }
    NoteTimedTick(det.BeatCount, time);
    if (det.BeatCount % 2 == 0) BeatErrorFromTimedTicks();
    // Ticks that teach the templates are not measured: a measurement anchored on a detected time
    // would carry its rounding into the accumulated rate for the rest of the run.
    if (r.Learning) return;
    MeasurementStep(detected, r.Shift, ctx.LogMode);
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
