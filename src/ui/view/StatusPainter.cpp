// SPDX-License-Identifier: GPL-3.0-or-later
// The status block at the bottom left (signal/noise, filter, datum offset, Allan deviation,
// deviation, accumulated rate, measured time, feed, lift angle, train, profile; row 1 at the
// bottom) and the diagnostics that replace the tooth chart while Ctrl is held.
#include "ui/view/StatusText.h"
#include "ui/view/ViewPaint.h"
#include "ui/view/ViewSnapshot.h"

namespace kv {

void PaintSignalNoise(PaintContext& c, const ViewSnapshot& s) {
    c.P.setFont(c.Fonts.Small);
    c.StatusColour = colours::StatusBlue;
    if (s.Fork || !s.Prompt.empty()) return;
    const QColor colour = PoorSignal(s.SignalToNoise) ? colours::PoorRed : colours::StatusBlue;
    DrawText(c.P, StatusTextLeft, c.StatusRow(1), SignalNoiseText(s.SignalToNoise, s.SampleRate),
             Align::Left, colour);
    c.StatusColour = Qt::black;
}

// Rows 9 (lift angle), 10 (train) and 11 (profile).
void PaintUpperStatusRows(PaintContext& c, const ViewSnapshot& s) {
    if (!s.Prompt.empty()) return;
    QPainter& p = c.P;
    const QColor& colour = c.StatusColour;
    if (!s.Fork)
        DrawText(p, StatusTextLeft, c.StatusRow(9), LiftAngleText(s.LiftAngle, s.Escapement),
                 Align::Left, colour);
    DrawText(p, StatusTextLeft, c.StatusRow(10), TrainLineText(s.BeatPeriod, s.Rate, s.Fork),
             Align::Left, colour);
    DrawText(p, StatusTextLeft, c.StatusRow(11), ProfileText(c.Settings.Profile), Align::Left,
             colour);
}

// Rows 3, 8, 7, 6, 2, 5 and 4.
void PaintLowerStatusRows(PaintContext& c, const ViewSnapshot& s) {
    if (!s.Prompt.empty()) return;
    auto row = [&c](int r, const std::string& text) {
        DrawText(c.P, StatusTextLeft, c.StatusRow(r), text, Align::Left, c.StatusColour);
    };
    row(3, DatumOffsetText(-s.TickOffset / s.EffectiveRate));
    row(8, FeedText(s.TapeMagnification, s.DisplayZoom, s.Feed));
    row(7, MeasuredTimeText(s.MeasuredTime));
    row(6, AccumulatedRateText(s.AccumulatedRate, s.MeasuredSeconds));
    row(2, FilterText(s.HighPass, s.Fork));
    row(5, DeviationText(s.Deviation, s.TickElapsed, s.BeatCount));
    row(4, AllanText(s.AllanDeviation, s.AllanTau, s.AllanCount));
}

// Overruns, unpainted buffers and the fader's binding, right-aligned in the bottom three rows.
void PaintDiagnostics(PaintContext& c, const ViewSnapshot& s) {
    QPainter& p = c.P;
    const QColor& colour = c.StatusColour;
    DrawText(p, c.Width, c.StatusRow(2), OverrunText(s.OverrunCount), Align::Right, colour);
    DrawText(p, c.Width, c.StatusRow(1), UnpaintedText(s.UnpaintedBuffers), Align::Right, colour);
    DrawText(p, c.Width, c.StatusRow(3), c.State.FaderDiagnosticText, Align::Right, colour);
}

} // namespace kv
