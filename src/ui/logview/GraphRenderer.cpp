// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logview/GraphRenderer.h"

#include <QDateTime>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

#include "logview/model/Spectrum.h"
#include "ui/logview/GraphCanvas.h"
#include "ui/logview/GraphDates.h"

namespace kv {

namespace {

const QColor kFrameColour(220, 220, 220);
const QColor kSpectrumColour(48, 48, 48);
const QColor kMarkedSpanColour(255, 0, 0);
constexpr int kFramePenWidth = 5;
constexpr int kThinPenWidth = 2;
// Logical units at text scale 1 (growing with the texts, see GraphFrame::TextX):
constexpr int kEdgeGap = 10; // ticks, range texts and clock end this far inside the side edges
constexpr double kNoScaleRange = 1e-30; // a smaller scale range shows no trace
constexpr int64_t kMinTraceSpan = 2;    // seconds; a shorter span draws no lines or time grid
constexpr int kTimeLabelRoom = 2960;    // gridlines further right would crowd the right axis
constexpr int64_t kSecondsPerHour = 3600;
constexpr int kScaleTextX = 1470;      // top and bottom scale values, inside the plot edge
constexpr int kScaleLabelIndent = 270; // the trace label beside the top value, further in
constexpr int kArrowInset = 15;        // the range arrow tips stay off the strip edges
constexpr int kArrowLength = 30;       // arrowhead stroke, along the shaft
constexpr int kArrowHalfWidth = 10;    // arrowhead stroke, across the shaft
constexpr int kRangeCharUnits = 15;    // room per character of the range text, half-height font
constexpr int kSpanCharUnits = 30;     // room per character of the span label, main font
constexpr int kTextGapUnits = 30;      // free room around a dimension text
constexpr int kZeroDashStart = -1485;
constexpr int kZeroDashLength = 15;
constexpr int kZeroDashPitch = 30;
constexpr double kMaxSpectrumRangeDb = 100.0; // weaker spectrum lines sit on the strip bottom
constexpr double kDecibelsPerDecade = 20.0;
constexpr double kMaxLogicalMagnitude = 1e6; // keeps far-off points inside int range
// The span label and its dimension line below the plot.
constexpr int kSpanLabelX = 750;
constexpr int kSpanArrowLeftTip = 350;
constexpr int kSpanArrowRightTip = 1150;
// Above the image's bottom edge, growing with the texts: the baseline of the start and span
// labels, and the span's dimension line at about half the height of their digits.
constexpr int kFooterBaselineRise = 1;
constexpr int kSpanArrowRise = 21;

int Truncate(double v) {
    if (std::isnan(v)) return 0;
    return static_cast<int>(std::clamp(v, -kMaxLogicalMagnitude, kMaxLogicalMagnitude));
}

// Which texts give way when two would overlap: a text is drawn only where it overlaps none of
// higher rank (lower number) or of the same rank asked for earlier.
enum class LabelRank {
    Header,    // the title, then the clock
    Scale,     // the scale values at the strip edges and the scale ranges beside them
    Footer,    // the start of the shown data and the span label below the plot
    TraceName, // a trace's label beside its top value
    Zero,      // the zero line's "0"
    Time,      // the time grid's labels, left to right
};

// A text waiting for its place among the others.
struct PendingLabel {
    LabelRank Rank;
    double X, Y;
    std::string Text;
    HAlign H;
    VAlign V;
    QColor Colour;
    GraphFont Font;
};

// A time grid line whose label waits for its place: whether it carries the date depends on the
// labels shown before it.
struct TimeMark {
    int64_t Time;
    double X;
};

// One DrawGraph pass: the painter, the data and the shared geometry, and the texts whose place
// is decided once every text is known.
struct GraphPass {
    GraphCanvas& C;
    GraphModel& M;
    const GraphSettings& S;
    const StripLayout& L;
    const QLocale& Locale;
    std::vector<PendingLabel> Labels{};
    std::vector<TimeMark> TimeMarks{};

    void Label(LabelRank rank, double x, double y, std::string text, HAlign h, VAlign v,
               QColor colour, GraphFont font) {
        Labels.push_back({rank, x, y, std::move(text), h, v, colour, font});
    }
    QDateTime Local(int64_t t) const { return QDateTime::fromSecsSinceEpoch(t); }
    const GraphFrame& F() const { return C.Frame(); }
    // Where the ticks, the range texts and the clock end, right of the plot.
    double OuterX() const { return F().Right() - F().TextX(kEdgeGap); }
    double FooterBaseline() const { return F().Bottom() + F().TextY(kFooterBaselineRise); }

    int64_t Span() const { return M.Window.DisplayEnd - M.Window.DisplayStart; }
    double Top(const TraceSettings& t) const { return L.BottomOf(t) + L.BandHeight; }
    // Height of v above the strip bottom on a scale from lo over range r, inside the strip.
    int Height(double v, double lo, double r) const {
        return std::clamp(Truncate((v - lo) * L.BandHeight / r), 0, static_cast<int>(L.BandHeight));
    }
};

void DrawAxes(GraphPass& g) {
    g.C.SetPen(kFrameColour, kFramePenWidth);
    for (int side : {-1, 1}) {
        g.C.Line(side * PlotRight, PlotBottom, side * PlotRight, PlotTop);
        for (int m = 0; m <= g.L.Count && g.L.Count > 0; ++m) {
            const int y = static_cast<int>(m * g.L.BandHeight) + PlotBottom;
            g.C.Line(side * g.OuterX(), y, side * PlotRight, y);
        }
    }
}

void DrawBackgrounds(GraphPass& g) {
    std::array<bool, StripCount> painted{};
    for (const TraceSettings& t : g.S.Traces) {
        if (!t.Enabled || painted[t.Strip()]) continue;
        const QColor colour = ColorOf(t.BackColor);
        g.C.FillRect(PlotLeft + 2, g.L.BottomOf(t), PlotRight, std::lround(g.Top(t)), colour);
        painted[t.Strip()] = colour != Qt::white; // a white strip is still open to the next
    }
}

void DrawHorizontalGrids(GraphPass& g) {
    for (int i = 0; i < TraceCount; ++i) {
        const TraceSettings& t = g.S.Traces[i];
        const TraceResult& r = g.M.Results[i];
        const double range = r.ScaleMax - r.ScaleMin;
        if (!t.Enabled || t.HGrid <= 0 || !(range > kNoScaleRange)) continue;
        g.C.SetPen(ColorOf(t.TraceGridColor), kThinPenWidth);
        const double step = HorizontalGridStep(range, t.HGrid);
        const int bottom = g.L.BottomOf(t);
        const double lines = std::min(std::trunc(range / step) + 1, kMaxLogicalMagnitude);
        for (int j = 1; j <= static_cast<int>(lines); ++j) {
            const double u = (std::trunc(r.ScaleMin / step) + j) * step;
            const int y = bottom + Truncate((u - r.ScaleMin) * g.L.BandHeight / range);
            if (y >= bottom && y <= bottom + g.L.BandHeight) g.C.Line(PlotLeft, y, PlotRight, y);
        }
    }
}

// A time grid label: the time, and the date when the day is not the one of the label before.
std::string TimeGridLabel(const GraphPass& g, int64_t t, const QDate& previousDay) {
    const QDateTime local = g.Local(t);
    QString label =
        g.Locale.toString(local.time(), g.Span() <= kSecondsPerHour ? QStringLiteral("HH:mm:ss")
                                                                    : QStringLiteral("HH:mm"));
    if (local.date() != previousDay)
        label += QLatin1Char(' ') + GraphDateText(local.date(), g.Locale);
    return label.toStdString();
}

// The grid lines now; their labels wait for PlaceLabels.
void DrawTimeGrid(GraphPass& g) {
    const int64_t span = g.Span();
    if (g.S.VGrid <= 0 || span <= kMinTraceSpan) return;
    g.C.SetPen(ColorOf(g.S.GridColor), kThinPenWidth);
    const int64_t start = g.M.Window.DisplayStart;
    const int64_t step = TimeGridStep(span, g.S.VGrid);
    for (int64_t j = 0; j <= span / step; ++j) {
        const int64_t t = start / step * step + (j + 1) * step;
        const long x = std::lround(static_cast<double>(t - start) * PlotWidth / span);
        if (x < 0 || x > kTimeLabelRoom) continue;
        g.C.Line(x + PlotLeft, PlotTop, x + PlotLeft, PlotBottom);
        g.TimeMarks.push_back({t, static_cast<double>(x + PlotLeft)});
    }
}

bool TagShown(const GraphPass& g, const GraphTag& tag) {
    return tag.Trace >= 0 && tag.Trace < TraceCount && g.S.Traces[tag.Trace].Enabled;
}

void DrawTagLines(GraphPass& g) {
    g.C.SetPen(ColorOf(g.S.GridColor), kThinPenWidth);
    for (const GraphTag& tag : g.M.Tags) {
        if (tag.Kind != GraphTagKind::NoteWithLine || !TagShown(g, tag)) continue;
        const TraceSettings& t = g.S.Traces[tag.Trace];
        const int x = Truncate(TimeToLogicalX(tag.Time, g.M.Window, g.S.LogX));
        g.C.Line(x, g.L.BottomOf(t), x, g.Top(t));
    }
}

// Spectrum levels in dB; the trace's scale becomes their range, at most kMaxSpectrumRangeDb.
std::vector<double> SpectrumLevels(GraphPass& g, TraceResult& r) {
    std::vector<double> levels;
    levels.reserve(g.M.Spectrum.size());
    r.ScaleMax = -1e40;
    r.ScaleMin = 1e40;
    for (const std::complex<double>& line : g.M.Spectrum) {
        const double level = SpectrumLevelDb(line, g.M.Spectrum.size());
        levels.push_back(level);
        if (!std::isfinite(level)) continue; // a silent line does not stretch the scale
        r.ScaleMax = std::max(r.ScaleMax, level);
        r.ScaleMin = std::min(r.ScaleMin, level);
    }
    if (r.ScaleMax - r.ScaleMin > kMaxSpectrumRangeDb)
        r.ScaleMin = r.ScaleMax - kMaxSpectrumRangeDb;
    return levels;
}

void DrawSpectrum(GraphPass& g, const TraceSettings& t, TraceResult& r) {
    g.C.SetPen(kSpectrumColour, kThinPenWidth);
    const std::vector<double> levels = SpectrumLevels(g, r);
    const size_t n = levels.size();
    const int bottom = g.L.BottomOf(t);
    const double range = r.ScaleMax - r.ScaleMin;
    for (size_t k = 0; k <= n / 2; ++k) {
        const int x = Truncate(static_cast<double>(k) * 2 * PlotWidth / n + PlotLeft);
        const double level = std::isfinite(levels[k]) ? levels[k] : r.ScaleMin;
        const int h = range > 0 ? g.Height(level, r.ScaleMin, range) : 0;
        g.C.Line(x, bottom + h, x, bottom);
    }
}

void DrawTraceLine(GraphPass& g, int i) {
    const TraceSettings& t = g.S.Traces[i];
    const TraceResult& r = g.M.Results[i];
    g.C.SetPen(ColorOf(t.TraceColor), kThinPenWidth);
    const double range = r.ScaleMax - r.ScaleMin;
    if (!(range > kNoScaleRange) || g.Span() <= kMinTraceSpan) return;
    const int bottom = g.L.BottomOf(t);
    std::vector<QPoint> run;
    bool hasPrevious = false;
    int px = 0;
    int py = 0;
    for (const GraphRecord& record : g.M.Records) {
        const double v = record.Value[i];
        if (!HasValue(v)) {
            g.C.Polyline(run);
            run.clear();
            hasPrevious = false;
            continue;
        }
        const int x = Truncate(TimeToLogicalX(record.Time, g.M.Window, g.S.LogX));
        const int y = bottom + g.Height(v, r.ScaleMin, range);
        const bool joined =
            hasPrevious && x >= px && (!t.WrapSuppress || std::abs(y - py) < g.L.BandHeight / 2);
        if (!joined) {
            g.C.Polyline(run);
            run.clear();
        }
        const QPoint point = g.C.Map(x, y);
        if (run.empty() || run.back() != point) run.push_back(point);
        hasPrevious = true;
        px = x;
        py = y;
    }
    g.C.Polyline(run);
}

std::string ScaleLabel(const GraphPass& g, int i, TraceResult& r, bool spectrum) {
    const TraceSettings& t = g.S.Traces[i];
    std::string label = t.Label;
    if (spectrum) {
        const double reference = std::pow(10.0, r.ScaleMax / kDecibelsPerDecade);
        label += " (dB ref " + FormatScaled(reference, t.Precision, t.SI) + ")";
        r.ScaleMin -= r.ScaleMax;
        r.ScaleMax = 0;
    } else if (HasValue(r.LatestValue)) {
        label += " (" + FormatScaled(r.LatestValue, t.Precision, t.SI) + ")";
    }
    if (t.Mode() != DerivativeMode::Plain && r.SlopeCount > 0)
        label += " ad=" +
                 FormatScaled(std::sqrt(r.SlopeSquares / (2.0 * r.SlopeCount)), t.Precision, t.SI);
    return label;
}

// A vertical dimension line at x over the strip, leaving room for a text of `chars` characters.
void DrawRangeArrows(GraphPass& g, const TraceSettings& t, double x, int chars) {
    const double h = g.F().TextY((kRangeCharUnits * chars + kTextGapUnits) / 2);
    const double middle = g.L.MiddleOf(t);
    const double y1 = g.Top(t) - kArrowInset;
    const double y2 = g.L.BottomOf(t) + kArrowInset;
    for (int side : {-1, 1}) {
        g.C.Line(x, y1, x + side * kArrowHalfWidth, y1 - kArrowLength);
        g.C.Line(x, y2, x + side * kArrowHalfWidth, y2 + kArrowLength);
    }
    g.C.Line(x, y1, x, middle + h);
    g.C.Line(x, y2, x, middle - h);
}

void DrawScaleTexts(GraphPass& g, int i, bool spectrum) {
    const TraceSettings& t = g.S.Traces[i];
    TraceResult& r = g.M.Results[i];
    if (!(r.ScaleMax - r.ScaleMin > kNoScaleRange)) return;
    const QColor colour = ColorOf(t.TraceTColor);
    const std::string top = FormatScaled(r.ScaleMax, t.Precision, t.SI);
    const std::string label = ScaleLabel(g, i, r, spectrum);
    const int side = t.ScaleOnRight() ? 1 : -1;
    const HAlign align = t.ScaleOnRight() ? HAlign::Right : HAlign::Left;
    const double stripTop = g.Top(t);
    g.Label(LabelRank::Scale, side * kScaleTextX, stripTop, top, align, VAlign::Top, colour,
            GraphFont::Main);
    g.Label(LabelRank::TraceName, side * (kScaleTextX - g.F().TextX(kScaleLabelIndent)), stripTop,
            label, align, VAlign::Top, colour, GraphFont::Main);
    g.Label(LabelRank::Scale, side * kScaleTextX, g.L.BottomOf(t),
            FormatScaled(r.ScaleMin, t.Precision, t.SI), align, VAlign::Baseline, colour,
            GraphFont::Main);
    const std::string range = FormatScaled(r.ScaleMax - r.ScaleMin, t.Precision, t.SI);
    g.Label(LabelRank::Scale, side * g.OuterX(), g.L.MiddleOf(t), range, HAlign::Centre,
            t.ScaleOnRight() ? VAlign::Baseline : VAlign::Top, colour, GraphFont::Vertical);
    // The dimension line halfway between the plot and the range text.
    DrawRangeArrows(g, t, side * (PlotRight + g.OuterX()) / 2, static_cast<int>(range.size()));
}

void DrawZeroLine(GraphPass& g, int i) {
    const TraceSettings& t = g.S.Traces[i];
    const TraceResult& r = g.M.Results[i];
    if (!(r.ScaleMax > 0 && r.ScaleMin < 0)) return;
    const int y0 =
        g.L.BottomOf(t) + Truncate(-r.ScaleMin * g.L.BandHeight / (r.ScaleMax - r.ScaleMin));
    for (int x = kZeroDashStart; x < PlotRight; x += kZeroDashPitch)
        g.C.Line(x - kZeroDashLength, y0, x, y0);
    const int side = t.ScaleOnRight() ? 1 : -1;
    g.Label(LabelRank::Zero, side * PlotRight, y0, "0",
            t.ScaleOnRight() ? HAlign::Right : HAlign::Left, VAlign::Baseline,
            ColorOf(t.TraceTColor), GraphFont::Main);
}

void DrawTraces(GraphPass& g) {
    for (int i = 0; i < TraceCount; ++i) {
        const TraceSettings& t = g.S.Traces[i];
        if (!t.Enabled) continue;
        g.C.SetRasterOp(t.ROPCode);
        const bool spectrum =
            i == g.M.SpectrumTrace && g.M.HasSpectrum() && g.M.SpectrumSize >= MinSpectrumRecords;
        if (spectrum)
            DrawSpectrum(g, t, g.M.Results[i]);
        else
            DrawTraceLine(g, i);
        DrawScaleTexts(g, i, spectrum);
        DrawZeroLine(g, i);
    }
    g.C.SetRasterOp(CopyPenRasterOp);
}

void DrawSpanLabel(GraphPass& g) {
    const int64_t span = g.Span();
    if (span <= 0 || g.M.Window.DisplayEnd <= 0) return;
    const std::string text = SpanLabelText(span);
    g.Label(LabelRank::Footer, kSpanLabelX, g.FooterBaseline(), text, HAlign::Centre,
            VAlign::Baseline, g.M.Window.SectionMarked ? kMarkedSpanColour : QColor(Qt::black),
            GraphFont::Main);
    g.C.SetPen(kFrameColour, kFramePenWidth);
    const double h =
        g.F().TextX((kSpanCharUnits * static_cast<int>(text.size()) + kTextGapUnits) / 2);
    const double y = g.F().Bottom() + g.F().TextY(kSpanArrowRise);
    for (int side : {-1, 1}) {
        g.C.Line(kSpanArrowLeftTip, y, kSpanArrowLeftTip + kArrowLength,
                 y + side * kArrowHalfWidth);
        g.C.Line(kSpanArrowRightTip, y, kSpanArrowRightTip - kArrowLength,
                 y + side * kArrowHalfWidth);
    }
    g.C.Line(kSpanArrowLeftTip, y, kSpanLabelX - h, y);
    g.C.Line(kSpanArrowRightTip, y, kSpanLabelX + h, y);
}

void DrawStartTime(GraphPass& g) {
    if (g.M.Window.DisplayStart <= 0 || !ShowsRecords(g.M.Window)) return;
    const QString text =
        QStringLiteral("start ") + GraphDateTimeText(g.Local(g.M.Window.DisplayStart), g.Locale);
    g.Label(LabelRank::Footer, PlotLeft, g.FooterBaseline(), text.toStdString(), HAlign::Left,
            VAlign::Baseline, Qt::black, GraphFont::Main);
}

void DrawTagTexts(GraphPass& g) {
    for (const GraphTag& tag : g.M.Tags) {
        if (!TagShown(g, tag)) continue;
        const TraceSettings& t = g.S.Traces[tag.Trace];
        const int x = Truncate(TimeToLogicalX(tag.Time, g.M.Window, g.S.LogX));
        g.C.Text(x, g.L.MiddleOf(t), tag.Text, HAlign::Centre, VAlign::Baseline,
                 ColorOf(t.TraceTColor), GraphFont::Vertical);
    }
}

// Above the plot, their descenders too: the top strip's texts begin right under its edge.
void DrawClockAndTitle(GraphPass& g) {
    g.Label(LabelRank::Header, PlotLeft, PlotTop, g.S.Title, HAlign::Left, VAlign::Bottom,
            Qt::black, GraphFont::Main);
    const QString now = GraphDateTimeText(QDateTime::currentDateTime(), g.Locale);
    g.Label(LabelRank::Header, g.OuterX(), PlotTop, now.toStdString(), HAlign::Right,
            VAlign::Bottom, Qt::black, GraphFont::Main);
}

// Draws the texts by rank, each only where its ink overlaps no text drawn before it, and then
// the time grid's labels from left to right the same way: a label that would overlap is left
// out, and the next one shown carries the date when the day changed since the last one shown.
// `placed` receives what was drawn.
void PlaceLabels(GraphPass& g, std::vector<GraphLabel>& placed) {
    placed.clear();
    const auto free = [&](const QRect& rect) {
        return std::none_of(placed.begin(), placed.end(),
                            [&](const GraphLabel& other) { return other.Rect.intersects(rect); });
    };
    std::stable_sort(g.Labels.begin(), g.Labels.end(),
                     [](const PendingLabel& a, const PendingLabel& b) { return a.Rank < b.Rank; });
    for (const PendingLabel& l : g.Labels) {
        const QRect rect = g.C.TextRect(l.X, l.Y, l.Text, l.H, l.V, l.Font);
        if (rect.isEmpty() || !free(rect)) continue;
        g.C.Text(l.X, l.Y, l.Text, l.H, l.V, l.Colour, l.Font);
        placed.push_back({rect, l.Text});
    }
    if (g.TimeMarks.empty()) return;
    QDate previousDay = g.Local(g.M.Window.DisplayStart).date(); // the start label has the date
    for (const TimeMark& mark : g.TimeMarks) {
        const std::string text = TimeGridLabel(g, mark.Time, previousDay);
        const QRect rect =
            g.C.TextRect(mark.X, PlotBottom, text, HAlign::Left, VAlign::Top, GraphFont::Vertical);
        if (rect.isEmpty() || !free(rect)) continue;
        g.C.Text(mark.X, PlotBottom, text, HAlign::Left, VAlign::Top, Qt::black,
                 GraphFont::Vertical);
        placed.push_back({rect, text});
        previousDay = g.Local(mark.Time).date();
    }
}

void DrawLoadedGraph(GraphPass& g) {
    DrawBackgrounds(g);
    DrawHorizontalGrids(g);
    DrawTimeGrid(g);
    DrawTagLines(g);
    DrawTraces(g);
    DrawSpanLabel(g);
    DrawStartTime(g);
    DrawTagTexts(g);
    g.M.ApplySpan(g.S.Span);
}

} // namespace

double TimeToLogicalX(double t, const GraphWindow& window, bool logX) {
    const double start = static_cast<double>(window.DisplayStart);
    const double end = static_cast<double>(window.DisplayEnd);
    if (!(end > start)) return PlotLeft; // a single moment sits at the left edge
    if (logX && start > 0 && end > start)
        return (std::log10(t) - std::log10(start)) * PlotWidth /
                   (std::log10(end) - std::log10(start)) +
               PlotLeft;
    return (t - start) * PlotWidth / (end - start) + PlotLeft;
}

GraphLoadStatus GraphRenderer::Render(QImage& image, GraphModel& model,
                                      const GraphSettings& settings, const std::string& logPath) {
    image.fill(Qt::white);
    labels_.clear();
    if (image.isNull()) return model.LoadGraphData(logPath, settings);
    QPainter painter(&image);
    GraphCanvas canvas(painter, GraphFrame(image.size(), textScale_));
    ComputeStrips(settings, strips_);
    GraphPass pass{canvas, model, settings, strips_, locale_};
    DrawAxes(pass);
    const GraphLoadStatus status = model.LoadGraphData(logPath, settings);
    if (status == GraphLoadStatus::Loaded) DrawLoadedGraph(pass);
    DrawClockAndTitle(pass);
    PlaceLabels(pass, labels_);
    return status;
}

} // namespace kv
