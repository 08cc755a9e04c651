// SPDX-License-Identifier: GPL-3.0-or-later
// The tooth chart at the lower right: one bar per escape-wheel tooth from the baseline at 3/4 of
// the height, the tooth in mesh in red, scale marks and labels at the right edge.
#include "ui/view/StatusText.h"
#include "ui/view/ViewPaint.h"
#include "ui/view/ViewSnapshot.h"

namespace kv {

namespace {

// A residual of 1 at scale K = 1 reaches 5/21 of the view's height from the baseline.
constexpr int ChartHalfHeightNumerator = 5;
constexpr int ChartHalfHeightDenominator = 21;
// Every fourth tooth is numbered.
constexpr int ToothLabelStep = 4;
// The top and bottom edges stand for +/- 500 over the user's scale K, as the labels show.
constexpr double ScaleEdgeValue = 500.0;
// Scale marks: a tenth of the chart's width at the edges, a twentieth in the middle.
constexpr int EdgeMarkFraction = 10;
constexpr int MiddleMarkFraction = 20;

// Scale marks at the chart's right edge (long at top and bottom, short in the middle) and the
// deviation the top and bottom edges stand for.
void DrawScale(PaintContext& c, const QRect& chart, int baseline) {
    QPainter& p = c.P;
    const int right = c.Width, width = right - chart.left();
    const int top = chart.top(), bottom = chart.top() + chart.height();
    const double K = c.State.ToothChartScale;
    p.setPen(c.Pens.Grey);
    p.drawLine(right - width / EdgeMarkFraction, top, right, top);
    p.drawLine(right - width / MiddleMarkFraction, baseline, right, baseline);
    p.drawLine(right - width / EdgeMarkFraction, bottom, right, bottom);
    DrawText(p, right, top, ToothScaleLabel(ScaleEdgeValue / K), Align::Right, c.StatusColour);
    DrawText(p, right, bottom - c.SmallLine, ToothScaleLabel(-ScaleEdgeValue / K), Align::Right,
             c.StatusColour);
}

} // namespace

void PaintToothChart(PaintContext& c, const ViewSnapshot& s) {
    const int teeth = s.Teeth;
    if (s.Fork || s.AutoTrainActive || teeth < 1 || s.BeatCount < 1 || s.CurrentPosition != 0)
        return;
    QPainter& p = c.P;
    const int W = c.Width, H = c.Height;
    // The chart takes the right third of the width.
    const int pitch = (W / 3) / teeth;
    const int baseline = H * 3 / 4;
    const int halfHeight = H * ChartHalfHeightNumerator / ChartHalfHeightDenominator;
    const double K = c.State.ToothChartScale;
    auto barTop = [&](int i) {
        return baseline - TruncPixel(s.ToothResidual[static_cast<size_t>(i)] * K * H *
                                     ChartHalfHeightNumerator / ChartHalfHeightDenominator);
    };
    auto barX = [&](int i) { return W - (teeth - i) * pitch; };
    c.State.ToothChartRect =
        Edges(W - teeth * pitch, baseline - halfHeight, W, baseline + halfHeight);

    p.setPen(c.Pens.Tooth);
    for (int i = 0; i < teeth; ++i)
        p.drawLine(barX(i), baseline, barX(i), barTop(i));
    for (int i = 0; i < teeth; i += ToothLabelStep)
        DrawText(p, barX(i), baseline - c.SmallLine / 2, ToothNumberLabel(i + 1), Align::Centre,
                 c.StatusColour);
    // Two beats per tooth: one on each pallet.
    const int inMesh = static_cast<int>(s.BeatCount / 2 % teeth);
    p.setPen(c.Pens.CurrentTooth);
    p.drawLine(barX(inMesh), baseline, barX(inMesh) + 1, barTop(inMesh));
    DrawScale(c, c.State.ToothChartRect, baseline);
}

} // namespace kv
