// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/ViewSnapshot.h"

#include <algorithm>

#include "analysis/AnalysisCore.h"
#include "calibration/CalibrationState.h"
#include "ui/view/ViewPaint.h"

namespace kv {

namespace {

// The entries the tape's rows read, first ... end-1, for the rows of a picture `height` high.
struct EntryRange {
    long long First = 0, End = 0;
};
EntryRange VisibleTapeEntries(long long newest, long long written, long long size, int feed,
                              int height) {
    const int bottom = TapeBottom(newest, feed, height);
    EntryRange range{size, 0};
    if (feed >= 1) {
        if (bottom - 2 <= 0) return {};
        range.First = feed * (newest / feed - (bottom - 3));
        range.End = std::min({feed * (newest / feed) + feed, written, size});
    } else {
        for (int y = 0; y < bottom - 2; y += -feed) {
            const long long i = (static_cast<long long>(feed) * newest + y) / feed;
            if (i < 0 || i >= size) break;
            range.First = std::min(range.First, i);
            range.End = std::max(range.End, i + 1);
        }
    }
    range.First = std::max(range.First, 0LL);
    if (range.End <= range.First) return {};
    return range;
}

// The envelope draws an unlock's own point as silence and a drop's as the point after it, where
// the analysis moved that point's sound; only the newest event on a point counts.
void PlaceMarkers(const TraceMarkerRing& ring, ViewSnapshot& s) {
    s.Markers.clear();
    for (int k = 0; k < TraceMarkerRing::Capacity; ++k) {
        const TraceMarker& m = ring.Slots[static_cast<size_t>((ring.Next + k) % ring.Capacity)];
        if (m.Kind == TraceMarkerKind::None || m.Point < 0) continue;
        if (m.Point >= static_cast<int>(s.Trace.size())) continue;
        auto same = std::find_if(s.Markers.begin(), s.Markers.end(),
                                 [&](const TraceMarker& o) { return o.Point == m.Point; });
        if (same != s.Markers.end())
            same->Kind = m.Kind;
        else
            s.Markers.push_back(m);
    }
    std::sort(s.Markers.begin(), s.Markers.end(),
              [](const TraceMarker& a, const TraceMarker& b) { return a.Point < b.Point; });
}

void ApplyMarkerPoints(ViewSnapshot& s) {
    const size_t n = s.Trace.size();
    for (const TraceMarker& m : s.Markers) {
        const size_t i = static_cast<size_t>(m.Point);
        if (m.Kind == TraceMarkerKind::Unlock)
            s.Trace[i] = 0;
        else if (i + 1 < n)
            s.Trace[i] = s.Trace[i + 1];
    }
}

void CaptureWaveform(const AnalysisCore& c, ViewSnapshot& s) {
    s.TraceShown = c.Trace.Shown;
    s.TraceFrozen = c.Trace.Frozen;
    s.Fork = c.Derived.ForkMode();
    s.Escapement = c.Params.Escapement();
    s.BeatPeriod = c.Derived.BeatPeriod;
    s.Decimation = c.Derived.WaveformDecimation;
    s.DisplayZoom = c.Trace.Zoom;
    s.EffectiveRate = c.EffectiveRate();
    s.SamplesPerBeat = c.Derived.SamplesPerBeat;
    s.MuteSamples = c.Derived.MuteSamples;
    s.LiftSamplesMin = c.Derived.LiftSamplesMin;
    s.DatumSamples = c.Derived.DatumSamples;
    s.UnlockThreshold = c.UnlockThresholdInForce();
    const int length =
        std::max(0, std::min(c.Trace.Length, static_cast<int>(c.Trace.Points.size())));
    s.Trace.assign(c.Trace.Points.begin(), c.Trace.Points.begin() + (s.TraceShown ? length : 0));
    PlaceMarkers(c.Trace.Markers, s);
}

void CaptureTape(const AnalysisCore& c, int scroll, int width, int height, ViewSnapshot& s) {
    const TapeState& tape = c.Tape;
    s.TapeMagnification = c.Settings.Zoom;
    s.Feed = c.Settings.SlowFeed == 0 ? 1 : c.Settings.SlowFeed;
    s.TapeScrolled = scroll != 0;
    s.TapeWrite = tape.TapeWriteIndex;
    s.TapeEnd = s.TapeWrite - scroll;
    s.TapeSize = static_cast<long long>(tape.Entries.size());
    s.TapeWidth = TapeGeometry(width).Width();
    const EntryRange range = VisibleTapeEntries(s.TapeEnd, s.TapeWrite, s.TapeSize, s.Feed, height);
    s.TapeFirst = range.First;
    s.TapeColumns.resize(static_cast<size_t>(range.End - range.First));
    s.TapeNoteCount = 0;
    for (long long i = range.First; i < range.End; ++i) {
        const TapeEntry& entry = tape.Entries[static_cast<size_t>(i)];
        s.TapeColumns[static_cast<size_t>(i - range.First)] =
            entry.Time != 0 && s.TapeWidth > 0
                ? static_cast<int>(TapeColumn(entry.Phase, s.TapeMagnification, s.TapeWidth))
                : -1;
        if (entry.Text.empty()) continue;
        if (s.TapeNoteCount == s.TapeNotes.size()) s.TapeNotes.emplace_back();
        ViewSnapshot::TapeNote& note = s.TapeNotes[s.TapeNoteCount++];
        note.Entry = i;
        note.Text = entry.Text;
    }
    s.CentringCountdown = c.CentringCountdown;
    const MeasurementState& ms = c.Measurement;
    const auto& history = ms.DeviationHistory;
    s.BracketEmpty = !ms.RateWindowFull && history.empty();
    if (ms.RateWindowFull)
        s.BracketSeconds =
            ms.CurrentPosition >= 1 ? c.Params.PositionAveragingTime : c.Params.MeasuringTime;
    else if (!history.empty())
        s.BracketSeconds = history.back().Time - history.front().Time;
    else
        s.BracketSeconds = 0.0;
}

// Row 7's values.
void CaptureMeasuredTime(const AnalysisCore& core, MeasuredTimeInputs& in) {
    const MeasurementState& ms = core.Measurement;
    in.Position = ms.CurrentPosition;
    in.HistoryEmpty = ms.DeviationHistory.empty();
    in.HistorySpan =
        in.HistoryEmpty ? 0.0 : ms.DeviationHistory.back().Time - ms.DeviationHistory.front().Time;
    in.MeasuringTime = core.Params.MeasuringTime;
    in.MeasuredTime = ms.MeasuredTime;
    in.PreviousPositionEnd = in.Position >= 2 && in.Position <= MaxPositions
                                 ? ms.PositionEndTime[static_cast<size_t>(in.Position - 1)]
                                 : 0.0;
    in.Stabilization = core.Params.Stabilization;
    in.PositionAveragingTime = core.Params.PositionAveragingTime;
    in.PositionCode = PositionCode(core.Params.Sequence, in.Position);
}

void CaptureStatus(const AnalysisCore& c, ViewSnapshot& s) {
    const MeasurementState& ms = c.Measurement;
    s.Rate = ms.Rate;
    s.RateWindowFull = ms.RateWindowFull;
    s.Current = ms.Running && !c.NoSignal && ms.RateMeasured;
    s.TickOffset = c.Detector.TickOffset;
    s.BeatsPerBuffer = c.Derived.BeatsPerBuffer;
    s.Prompt = c.PromptText;
    s.SignalToNoise = c.Detector.SignalToNoise;
    s.SampleRate = c.Settings.SampleRate;
    s.LiftAngle = c.Params.LiftAngle;
    CaptureMeasuredTime(c, s.MeasuredTime);
    s.AccumulatedRate = ms.AccumulatedRate;
    s.MeasuredSeconds = ms.MeasuredTime;
    s.HighPass = c.Settings.HPF != 0;
    s.Deviation = ms.Deviation;
    s.TickElapsed = ms.TickElapsed;
    s.BeatCount = c.Detector.BeatCount;
    s.AllanDeviation = ms.AllanDeviation;
    s.AllanTau = c.Params.Tau;
    s.AllanCount = ms.AllanCount;
    s.OverrunCount = c.Detector.OverrunCount;
    s.UnpaintedBuffers = c.Detector.UnpaintedBuffers;
    s.Teeth = std::min(c.Params.EscapeWheelTeeth, MaxTeeth);
    s.AutoTrainActive = c.AutoTrainActive;
    s.CurrentPosition = ms.CurrentPosition;
    s.ToothResidual = ms.ToothResidual;
}

void CaptureReadouts(const AnalysisCore& c, ViewSnapshot& s) {
    const MeasurementState& ms = c.Measurement;
    const double window =
        ms.CurrentPosition >= 1 ? c.Params.PositionAveragingTime : c.Params.MeasuringTime;
    s.WindowSamples = c.Settings.SampleRate * window;
    s.Averaging = c.Params.Averaging != 0;
    // An amplitude without steady drops is not shown: it would be a guess.
    s.Amplitude = ms.AmplitudeTrusted ? ms.Amplitude : 0.0;
    s.BeatError = ms.BeatError;
    s.BeatErrorStable = ms.BeatErrorStable;
    s.Stabilizing = ms.CurrentPosition >= 1 && ms.StabilizationRemaining > 0;
    if (s.Stabilizing)
        s.StabilizingPositionCode = PositionCode(c.Params.Sequence, ms.CurrentPosition);
}

} // namespace

void CaptureViewSnapshot(const AnalysisCore& core, const CalibrationState& calibrationState,
                         const TapeScroll& scroll, int width, int height, ViewSnapshot& s) {
    // The calibration lock comes before the analysis lock; a busy one leaves the calibration's
    // text out of this picture rather than stall the repaint.
    auto calibration = calibrationState.TryHoldLock();
    s.CalibrationShown = calibration.owns_lock();
    {
        const auto lock = core.HoldAnalysis();
        CaptureWaveform(core, s);
        CaptureTape(core, scroll.Offset(core), width, height, s);
        CaptureStatus(core, s);
        CaptureReadouts(core, s);
        // The capture thread rebuilds a local standard's text under the analysis lock.
        if (s.CalibrationShown)
            s.CalibrationText = calibrationState.ShownText(core);
        else
            s.CalibrationText.clear();
    }
    if (calibration.owns_lock()) calibration.unlock();
    ApplyMarkerPoints(s);
}

} // namespace kv
