// SPDX-License-Identifier: GPL-3.0-or-later
// The waveform (scope): the trace as an envelope (or a polyline for a tuning fork), the unlock and
// drop markers from the analysis' tick events with the spans around each unlock, the interval
// labels, the datum mark and the unlock threshold line.
#include <QPolygon>
#include <algorithm>
#include <cstdlib>

#include "ui/view/StatusText.h"
#include "ui/view/ViewPaint.h"
#include "ui/view/ViewSnapshot.h"

namespace kv {

namespace {

// Only the first markers of the trace are drawn: past these the picture is noise, not ticks.
constexpr size_t MaxMarkers = 8;
// Views narrower than this show no trace: its columns would not map to pixels.
constexpr int NarrowestTraceView = 10;
// A trace point of full 16-bit scale reaches half the view's height above or below the centre.
constexpr int TraceScale = 65536;
// The 16-bit level of the unlock threshold that reaches the view's top edge.
constexpr double ThresholdFullScale = 32767.0;
// The hit rectangle of a span reaches this many pixels above and below the centre line.
constexpr int SpanGrip = 2;

// Maps trace points to columns: the trace's middle at the view's centre, wrapped into 0 ... W-1.
struct TraceColumns {
    int Width = 0, Centre = 0, Points = 1;
    double Decimation = 1.0, Zoom = 1.0;

    int Column(long long i) const {
        long long x =
            Trunc((static_cast<double>(i) - Points * 0.5) * Width / Points + Centre) % Width;
        return static_cast<int>(x < 0 ? x + Width : x);
    }
    // Raw sample count -> trace points.
    long long PointsFor(double samples) const { return Rnd(samples * Zoom / Decimation); }
};

// A vertical line at x from row top up to (not including) row bottom, clipped to the image.
void VerticalRun(QImage& image, int x, int top, int bottom, QRgb colour) {
    FillPixels(image, Edges(x, top, x + 1, bottom), colour);
}

// One vertical line per column, as high as the largest magnitude of the points in it; columns
// skipped between two points take the height of the later one. Written straight into the
// scanlines: the painter would hand so many spans to worker threads, which costs more than it
// saves.
void DrawEnvelope(PaintContext& c, const ViewSnapshot& s, const TraceColumns& map) {
    const QRgb grey = c.Pens.Grey.color().rgb();
    const int points = static_cast<int>(s.Trace.size());
    int column = c.Width, previous = c.Width, peak = 0;
    for (int i = 0; i < points; ++i) {
        const int x = map.Column(i);
        if (x != column) {
            const int h = peak * c.Height / TraceScale;
            for (int col = column; peak > 0 && col > previous; --col)
                VerticalRun(c.Image, col, c.CentreY - h, c.CentreY + h, grey);
            previous = column;
            column = x;
            peak = 0;
        }
        peak = std::max(peak, std::abs(static_cast<int>(s.Trace[static_cast<size_t>(i)])));
    }
}

// Tuning-fork trace: a polyline that starts afresh where the columns wrap.
void DrawPolyline(PaintContext& c, const ViewSnapshot& s, const TraceColumns& map) {
    const int points = static_cast<int>(s.Trace.size());
    QPolygon run;
    run.reserve(points);
    int last = -1;
    for (int i = 0; i < points; ++i) {
        const int x = map.Column(i);
        if (x < last) {
            c.P.drawPolyline(run);
            run.clear();
        }
        run.append(QPoint(x, c.CentreY - s.Trace[static_cast<size_t>(i)] * c.Height / TraceScale));
        last = x;
    }
    c.P.drawPolyline(run);
}

// The post-unlock mute span (red, lever-type escapements) and the pre-unlock span (blue); the
// first of each becomes a hit rectangle for dragging.
void DrawUnlockSpans(PaintContext& c, const ViewSnapshot& s, const TraceColumns& map, int point,
                     int unlockX) {
    QPainter& p = c.P;
    const int cy = c.CentreY;
    if (s.Escapement != EscapementType::Pendulum) {
        const int liftEndX = map.Column(point + map.PointsFor(s.LiftSamplesMin));
        if (unlockX < liftEndX) {
            p.drawLine(unlockX, cy, liftEndX, cy);
            if (c.State.PostUnlockRect.isEmpty())
                c.State.PostUnlockRect = Edges(unlockX, cy - SpanGrip, liftEndX, cy + SpanGrip);
        } else {
            p.drawLine(unlockX, cy, c.Width, cy);
            p.drawLine(0, cy, liftEndX, cy);
        }
    }
    const int armedX = map.Column(point - map.PointsFor(s.SamplesPerBeat - s.MuteSamples));
    if (armedX < unlockX) {
        p.setPen(c.Pens.Blue);
        p.drawLine(armedX, cy, unlockX, cy);
        if (c.State.PreUnlockRect.isEmpty())
            c.State.PreUnlockRect = Edges(armedX, cy - SpanGrip, unlockX, cy + SpanGrip);
    }
}

// The lift time between an unlock and the drop after it, when it is under half a beat.
void DrawIntervalLabel(PaintContext& c, const ViewSnapshot& s, const TraceColumns& map,
                       const TraceMarker& unlock, const TraceMarker& drop) {
    const double seconds =
        (drop.Point - unlock.Point) * s.Decimation / s.DisplayZoom / s.EffectiveRate;
    if (!(seconds < 0.5 * s.BeatPeriod)) return;
    const int x = map.Column(unlock.Point + map.PointsFor(s.LiftSamplesMin));
    DrawText(c.P, x, c.Height / 2, IntervalLabel(seconds), Align::Right, colours::IntervalGreen);
}

// Unlocks are as tall as a small line either side of the centre, drops as a large line.
void DrawMarkers(PaintContext& c, const ViewSnapshot& s, const TraceColumns& map) {
    QPainter& p = c.P;
    p.setFont(c.Fonts.Small);
    const size_t count = std::min(s.Markers.size(), MaxMarkers);
    for (size_t k = 0; k < count; ++k) {
        const TraceMarker& marker = s.Markers[k];
        const int x = map.Column(marker.Point);
        p.setPen(c.Pens.Red);
        if (marker.Kind == TraceMarkerKind::Drop) {
            p.drawLine(x, c.CentreY + c.LargeLine, x, c.CentreY - c.LargeLine);
            if (k > 0 && s.Markers[k - 1].Kind != TraceMarkerKind::Drop)
                DrawIntervalLabel(c, s, map, s.Markers[k - 1], marker);
        } else {
            p.drawLine(x, c.CentreY + c.SmallLine, x, c.CentreY - c.SmallLine);
            if (!s.Fork) DrawUnlockSpans(c, s, map, marker.Point, x);
        }
    }
}

} // namespace

void PaintWaveform(PaintContext& c, const ViewSnapshot& s) {
    const int points = static_cast<int>(s.Trace.size());
    if (!s.TraceShown || points <= 0 || c.Width <= NarrowestTraceView || !(s.Decimation > 0.0) ||
        !(s.DisplayZoom > 0.0))
        return;
    const TraceColumns map{c.Width, c.CentreX, points, s.Decimation, s.DisplayZoom};
    QPainter& p = c.P;
    const int datum = map.Column(map.PointsFor(s.DatumSamples));
    p.drawLine(datum, c.Height - 2 * c.LargeLine, datum, c.Height - c.SmallLine);
    p.setPen(c.Pens.Grey);
    if (!s.Fork) p.drawLine(0, c.CentreY, c.Width, c.CentreY);
    if (s.Fork)
        DrawPolyline(c, s, map);
    else
        DrawEnvelope(c, s, map);
    DrawMarkers(c, s, map);
}

void PaintUnlockThreshold(PaintContext& c, const ViewSnapshot& s) {
    if (!s.TraceShown) return;
    const int y =
        c.Height / 2 - TruncPixel(c.Height * 0.5 * s.UnlockThreshold / ThresholdFullScale + 0.5);
    c.P.setPen(c.Pens.LightGreen);
    c.P.drawLine(0, y, c.Width, y);
    DrawText(c.P, StatusTextLeft, y - c.SmallLine, UnlockThresholdText(s.UnlockThreshold),
             Align::Left, colours::ThresholdGreen);
}

} // namespace kv
