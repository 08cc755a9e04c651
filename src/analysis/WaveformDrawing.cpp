// SPDX-License-Identifier: GPL-3.0-or-later
// The waveform trace ProcessBuffer writes for the display: the free-running view's slot of each
// buffer, the unlock and drop markers (as tick events beside the points), and the triggered view's
// tick envelope.
#include <algorithm>

#include "analysis/AnalysisCore.h"
#include "analysis/BufferContext.h"

namespace kv {

namespace {

constexpr int HighestEnvelopePoint = 32766;
// Free-running traces at display zooms up to 1, triggered envelopes from 2 on; the margins absorb
// the rounding of the stored zoom.
constexpr double FreeRunningZoomLimit = 1.001;
constexpr double TriggeredZoomFrom = 1.999;
// A triggered envelope starts 10 points in, where its unlock marker stands.
constexpr int TriggeredTraceStart = 10;

} // namespace

void AnalysisCore::FreeRunningSlotStart(BufferContext& ctx) {
    const bool tracing = Trace.Shown && !Trace.Frozen && Trace.Length > 0 && !Trace.Points.empty();
    ctx.DrawTriggered = tracing && Trace.Zoom >= TriggeredZoomFrom;
    if (!tracing || Trace.Zoom > FreeRunningZoomLimit) return;
    const double zoom = std::min(Trace.Zoom, 1.0);
    const int64_t slots = std::max<int64_t>(1, static_cast<int64_t>(Derived.BuffersPerBeat / zoom));
    ctx.SlotWidth = static_cast<int64_t>(Trace.Length * zoom / Derived.BuffersPerBeat);
    ctx.SlotStart = (Detector.BufferCounter % slots) * ctx.SlotWidth;
    const int64_t capacity = static_cast<int64_t>(Trace.Points.size());
    const int64_t end = std::min(ctx.SlotStart + ctx.SlotWidth, capacity);
    for (int64_t p = ctx.SlotStart; p < end; ++p)
        Trace.Points[p] = 0;
    Trace.Markers.ClearPoints(ctx.SlotStart, end);
    const int64_t k = ctx.BeatsPerBuffer;
    ctx.DrawFrom = (k - 1) * static_cast<int64_t>(ctx.N) / k;
    ctx.DrawFreeRunning = true;
}

void AnalysisCore::DrawUnlockMarker(const BufferContext& ctx, size_t index) {
    if (!ctx.DrawFreeRunning || ctx.ForkMode) return;
    const int64_t p = ctx.TracePoint(index);
    const int64_t capacity = static_cast<int64_t>(Trace.Points.size());
    if (p < 0 || p >= capacity) return;
    Detector.UnlockMarkerPos = static_cast<int>(p);
    // The point's sound moves one on, where the drawing shows it beside the marker.
    if (p < Trace.Length - 1) Trace.Points[p + 1] = Trace.Points[p];
    if (p < Trace.Length) Trace.Markers.Add(static_cast<int>(p), TraceMarkerKind::Unlock);
}

void AnalysisCore::DrawDropMarker(const BufferContext& ctx) {
    const DetectorState& det = Detector;
    if (det.DropHistory[0] == 0 || det.UnlockMarkerPos == 0) return;
    const double span = static_cast<double>(det.DropHistory[0] - det.UnlockHistory[0]);
    const int64_t p = det.UnlockMarkerPos +
                      RoundHalfAway(span * static_cast<double>(ctx.SlotWidth * ctx.BeatsPerBuffer) /
                                    static_cast<double>(ctx.N));
    if (p < 0) return;
    if (p < Trace.Length - 1) Trace.Points[p + 1] = Trace.Points[p];
    if (p < Trace.Length) Trace.Markers.Add(static_cast<int>(p), TraceMarkerKind::Drop);
}

void AnalysisCore::DrawTriggeredEnvelope(int dropIndex) {
    const DetectorState& det = Detector;
    const int length = Trace.Length;
    std::fill(Trace.Points.begin(), Trace.Points.end(), int16_t{0});
    Trace.Markers.Clear();
    const double scale = Trace.Zoom / Derived.WaveformDecimation;
    int previous = -1;
    for (int k = 0; k < det.EnvelopeCount; ++k) {
        const int index = TriggeredTraceStart + static_cast<int>(k * scale);
        if (index >= length) break;
        const int16_t value =
            static_cast<int16_t>(std::min(det.TickEnvelope[k], HighestEnvelopePoint));
        Trace.Points[index] = std::max(Trace.Points[index], value);
        for (int gap = index - 1; previous >= 0 && gap > previous; --gap)
            Trace.Points[gap] = value;
        previous = index;
    }
    if (TriggeredTraceStart < length)
        Trace.Markers.Add(TriggeredTraceStart, TraceMarkerKind::Unlock);
    if (dropIndex > 0) {
        const int index = TriggeredTraceStart + static_cast<int>(dropIndex * scale);
        if (index < length) Trace.Markers.Add(index, TraceMarkerKind::Drop);
    }
}

} // namespace kv
