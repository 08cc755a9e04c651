// SPDX-License-Identifier: GPL-3.0-or-later
// The repaint of the measuring view. Every element is drawn in a fixed order into the off-screen
// image; later elements draw over earlier ones. Geometry is integer pixel arithmetic with
// divisions truncating toward zero, and antialiasing is off so lines land on the computed pixels.
#include "ui/view/ViewRenderer.h"

#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "ui/view/CursorDisk.h"
#include "ui/view/StatusText.h"

namespace kv {

namespace {

constexpr int MaxMarkers = 8;
constexpr int TextReach = 1 << 15; // width of the box a text is laid out in

const QColor StatusBlue(0, 0, 64);
const QColor IntervalGreen(32, 128, 32);
const QColor NoteColour(0, 63, 127);
const QColor PoorRed(255, 0, 0);
const QColor ThresholdGreen(100, 155, 100);
const QColor ReadoutBlue(0, 0, 200);
const QColor ReadoutOrange(200, 63, 0);
// Readouts that are not a current reading: measuring stopped, no ticks yet, or the signal lost.
const QColor ReadoutStale(150, 150, 150);
const QColor PromptBrown(128, 64, 64);
const QColor FrozenRed(200, 20, 20);

// Truncation toward zero of a pixel computation; non-finite values give 0 and huge ones are held
// far outside any window instead of overflowing.
long long Trunc(double v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<long long>(std::clamp(v, -1e15, 1e15));
}

int TruncPixel(double v) {
    return static_cast<int>(std::clamp<long long>(Trunc(v), -(1 << 24), 1 << 24));
}

long long Rnd(double v) {
    return std::isfinite(v) ? RoundHalfAway(std::clamp(v, -1e15, 1e15)) : 0;
}

// A rectangle given by its edges (left, top, right, bottom), the right and bottom edges exclusive.
QRect Edges(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

// A 1-pixel pen whose lines leave out their end point, as the scope and tape geometry assumes.
QPen ThinPen(const QColor& colour) {
    return QPen(colour, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

// The smallest height of the small font (status lines, labels) that stays readable.
constexpr int MinSmallFontPixels = 10;
// The 11 status lines stay in the lower half of the view, below the waveform's interval labels
// (a line under its middle), with a line to spare: 13 small lines in half the height. The
// readouts above them (4 large lines, at most 1.5 small lines high) then take under a quarter.
constexpr int LowerHalfSmallLines = 13;
// The widest status line ("Train (nominal) ... (actual) ...") is about 22 small line heights
// wide and must end before the tooth chart, which takes the right third of the window.
constexpr int WidestStatusLineHeights = 22;
// The widest readout ("Beat error 0.70 ms (0.42%)") is about 14 large line heights wide and must
// end before the paper tape, which starts 3/8 of the window's width from the left.
constexpr int WidestReadoutHeights = 14;

// The line heights with the texts grown by `scale` where the window leaves room: never smaller
// than the proportional sizes, never so large that the left column or a line overruns another.
struct LineHeights {
    int Small, Large, Whole;
};
LineHeights ScaledLineHeights(QSize client, int k, double scale) {
    const int H = client.height(), W = client.width();
    const int small = std::max(H / (6 * k), MinSmallFontPixels);
    const int large = std::max(H / (4 * k), small);
    const double s = std::isfinite(scale) ? std::max(scale, 1.0) : 1.0;
    const int smallRoom =
        std::min(H / (2 * LowerHalfSmallLines), W * 2 / 3 / WidestStatusLineHeights);
    const int largeRoom = std::min(smallRoom * 3 / 2, W * 3 / 8 / WidestReadoutHeights);
    const int grownSmall = std::max(small, std::min(TruncPixel(s * small), smallRoom));
    const int grownLarge =
        std::max({large, grownSmall, std::min(TruncPixel(s * large), largeRoom)});
    return {grownSmall, grownLarge, H / k};
}

QFont MakeFont(int pixelSize) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(std::max(1, pixelSize));
    return font;
}

enum class Align { Left, Right, Centre };

// Draws text with its top at y and its left edge, right edge or centre at x. Tabs are expanded.
void DrawText(QPainter& p, int x, int y, const std::string& text, Align align,
              const QColor& colour) {
    if (text.empty()) return;
    QRectF box(x, y, TextReach, TextReach);
    int flags = Qt::AlignTop | Qt::TextDontClip | Qt::TextExpandTabs | Qt::TextSingleLine;
    if (align == Align::Right) {
        box.moveRight(x);
        flags |= Qt::AlignRight;
    } else if (align == Align::Centre) {
        box.moveLeft(x - TextReach / 2.0);
        flags |= Qt::AlignHCenter;
    } else {
        flags |= Qt::AlignLeft;
    }
    const QPen saved = p.pen();
    p.setPen(colour);
    p.drawText(box, flags, QString::fromStdString(text));
    p.setPen(saved);
}

// Large fills, the tape and the waveform envelope are written straight into the scanlines: the
// painter would hand operations of many spans to worker threads, which costs more than it saves.
void FillWhite(QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), image.width(), qRgb(255, 255, 255));
}

// Each pixel of `area` becomes the bitwise AND of `colour` and the pixel (the mask raster op).
void AndRect(QImage& image, QRect area, QRgb colour) {
    area &= image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x)
            line[x] &= colour;
    }
}

// A vertical line at x from row top up to (not including) row bottom, clipped to the image.
void VerticalRun(QImage& image, int x, int top, int bottom, QRgb colour) {
    if (x < 0 || x >= image.width()) return;
    for (int y = std::max(top, 0); y < std::min(bottom, image.height()); ++y)
        reinterpret_cast<QRgb*>(image.scanLine(y))[x] = colour;
}

// A line from `from` to `tip` with a head of two lines from the tip to (tip + dx, tip -/+ dy).
void DrawArrow(QPainter& p, QPoint from, QPoint tip, int dx, int dy) {
    p.drawLine(from, tip);
    p.drawLine(tip, tip + QPoint(dx, -dy));
    p.drawLine(tip, tip + QPoint(dx, dy));
}

// Runs `read` under the analysis lock and returns its result.
template <class Read> auto Locked(const AnalysisCore& core, Read read) {
    const auto lock = core.HoldAnalysis();
    return read();
}

} // namespace

// Everything one repaint works with: the painter, the geometry and the values read from the core.
struct ViewRenderer::Frame {
    Frame(QPainter& p, QImage& image, const AnalysisCore& core, const AppSettings& settings,
          ViewDisplayState& state)
        : P(p), Image(image), Core(core), Settings(settings), State(state) {}

    QPainter& P;
    QImage& Image;
    const AnalysisCore& Core;
    const AppSettings& Settings;
    ViewDisplayState& State;
    int W = 0, H = 0, cx = 0, cy = 0, L1 = 0, L2 = 0;
    QColor StatusColour = StatusBlue; // text colour after the signal/noise row
    // The block of texts at the top right: where its next free line starts and its left edge,
    // so the calibration's lines go below it and never over it.
    int TopRightBottom = 0;
    int TopRightLeft = 0;

    // Read with the waveform constants.
    double T = 0.2;
    bool Fork = false;
    EscapementType Escapement = EscapementType::Lever;
    double D = 1.0, z = 1.0;
    int N = 0;
    double EffRate = 1.0, SamplesPerBeat = 0.0;
    int MuteSamples = 0, LiftSamplesMin = 0, DatumSamples = 0;

    // Rate inputs.
    double Rate = 0.0;
    bool WindowFull = false;
    bool Current = false; // the readouts are the running measurement's, from ticks heard
    int TickOffset = 0;
    double m = 1.0;
    int f = 1;
    int E = 1; // BeatsPerBuffer
    double G = 1.0;

    bool TapeShown = false;
    int xl = 0, xr = 0;
    std::string Prompt;

    // Trace index -> column, the trace's middle at the centre, wrapped into 0 ... W-1.
    int Column(long long i) const {
        long long x = Trunc((static_cast<double>(i) - N * 0.5) * W / N + cx) % W;
        return static_cast<int>(x < 0 ? x + W : x);
    }
    // Raw sample count -> trace index.
    long long TraceIndex(double samples) const { return Rnd(samples * z / D); }
    // Rows of a status line.
    int Row(int r) const { return H - r * L1; }
};

ViewRenderer::ViewRenderer()
    : red_(ThinPen(QColor(255, 0, 0))), black_(ThinPen(QColor(0, 0, 0))),
      grey_(ThinPen(QColor(200, 200, 200))), green_(ThinPen(QColor(0, 255, 0))),
      blue_(ThinPen(QColor(0, 0, 255))), lightGreen_(ThinPen(QColor(200, 255, 200))),
      tapeOutline_(ThinPen(QColor(230, 210, 127))),
      tooth_(QColor(0, 255, 0), 3, Qt::SolidLine, Qt::RoundCap),
      currentTooth_(QColor(255, 0, 0), 2, Qt::SolidLine, Qt::RoundCap),
      tapeBrush_(QColor(255, 239, 213)) {
    markers_.reserve(MaxMarkers);
}

void ViewRenderer::Render(QImage& backBuffer, QSize client, const AnalysisCore& core,
                          const AppSettings& settings, ViewDisplayState& state) {
    state.TapeRect = state.DiskGripRect = state.PreUnlockRect = state.PostUnlockRect =
        state.ToothChartRect = QRect();
    if (client.width() <= 0 || client.height() <= 0) return;
    if (backBuffer.size() != client || backBuffer.format() != QImage::Format_RGB32)
        backBuffer = QImage(client, QImage::Format_RGB32);
    if (backBuffer.isNull()) return;
    EnsureFonts(client, settings.CellFactor, state);

    QPainter painter(&backBuffer);
    if (!painter.isActive()) return;
    Frame fr(painter, backBuffer, core, settings, state);
    fr.W = client.width();
    fr.H = client.height();
    fr.cx = fr.W / 2;
    fr.cy = fr.H / 2;
    fr.L1 = storedL1_;
    fr.L2 = storedL2_;
    BeginFrame(fr);

    DrawWaveform(fr);
    ReadRateInputs(fr);
    DrawTape(fr);
    DrawSignalNoise(fr);
    DrawTapeDecorations(fr);
    DrawUpperStatusRows(fr);
    DrawDisk(fr);
    DrawLowerStatusRows(fr);
    DrawLowerRight(fr);
    DrawUnlockThreshold(fr);
    DrawReadouts(fr);
    DrawTopRight(fr);
    DrawStabilizing(fr);
    DrawMiddle(fr);
    DrawCalibrationText(fr);
}

void ViewRenderer::EnsureFonts(QSize client, int cellFactor, ViewDisplayState& state) {
    const LineHeights l = ScaledLineHeights(client, std::max(1, cellFactor), state.TextScale);
    if (!fontsExist_ || l.Small != storedL1_ || l.Large != storedL2_ || l.Whole != storedL3_) {
        storedL1_ = l.Small;
        storedL2_ = l.Large;
        storedL3_ = l.Whole;
        small_ = MakeFont(storedL1_);
        note_ = MakeFont(storedL1_);
        large_ = MakeFont(storedL2_);
        huge_ = MakeFont(storedL3_);
        fontsExist_ = true;
        ++fontRebuilds_;
    }
    state.L1 = storedL1_;
    state.L2 = storedL2_;
    state.L3 = storedL3_;
}

void ViewRenderer::BeginFrame(Frame& fr) {
    fr.P.setRenderHint(QPainter::Antialiasing, false);
    FillWhite(fr.Image);
    fr.P.setBrush(Qt::NoBrush);
    fr.P.setFont(large_);
    fr.P.setPen(green_);
    fr.TapeShown = fr.Settings.PaperTape != 0;
    fr.xl = fr.cx - fr.W / 8;
    fr.xr = fr.cx + fr.W / 8;
}

// --- Waveform ---

void ViewRenderer::DrawWaveform(Frame& fr) {
    bool shown = false;
    {
        const auto lock = fr.Core.HoldAnalysis();
        const AnalysisCore& c = fr.Core;
        fr.T = c.Derived.BeatPeriod;
        fr.Fork = c.Derived.ForkMode();
        fr.Escapement = c.Params.Escapement();
        fr.D = c.Derived.WaveformDecimation;
        fr.z = c.Settings.DisplayZoom;
        fr.N = c.Trace.Length;
        fr.EffRate = c.EffectiveRate();
        fr.SamplesPerBeat = c.Derived.SamplesPerBeat;
        fr.MuteSamples = c.Derived.MuteSamples;
        fr.LiftSamplesMin = c.Derived.LiftSamplesMin;
        fr.DatumSamples = c.Derived.DatumSamples;
        shown = c.Trace.Shown;
    }
    if (!shown || fr.N <= 0 || fr.W <= 10 || !(fr.D > 0.0) || !(fr.z > 0.0)) return;

    QPainter& p = fr.P;
    const int datum = fr.Column(fr.TraceIndex(fr.DatumSamples));
    p.drawLine(datum, fr.H - 2 * fr.L2, datum, fr.H - fr.L1);
    p.setPen(grey_);
    if (!fr.Fork) p.drawLine(0, fr.cy, fr.W, fr.cy);
    CopyTrace(fr);
    if (fr.N <= 0) return;
    if (fr.Fork)
        DrawPolyline(fr);
    else
        DrawEnvelope(fr);
    DrawMarkers(fr);
}

// Copies the trace under the lock, records the first 8 markers and puts the drawn value in place
// of each marker: 0 for an unlock, the next point's value for a drop.
void ViewRenderer::CopyTrace(Frame& fr) {
    {
        const auto lock = fr.Core.HoldAnalysis();
        const WaveformTrace& trace = fr.Core.Trace;
        fr.N = std::min(trace.Length, static_cast<int>(trace.Points.size()));
        trace_.assign(trace.Points.begin(), trace.Points.begin() + std::max(0, fr.N));
    }
    markers_.clear();
    for (int i = 0; i < fr.N; ++i) {
        const int16_t v = trace_[i];
        if (v != 32767 && v != -32768) continue;
        const bool drop = v == -32768;
        if (markers_.size() < MaxMarkers) markers_.push_back({i, drop});
        if (!drop)
            trace_[i] = 0;
        else if (i + 1 < fr.N)
            trace_[i] = trace_[i + 1];
    }
}

// One vertical line per column, as high as the largest magnitude of the points in it; columns
// skipped between two points take the height of the later one.
void ViewRenderer::DrawEnvelope(Frame& fr) {
    const QRgb grey = grey_.color().rgb();
    int column = fr.W, previous = fr.W, h0 = 0;
    for (int i = 0; i < fr.N; ++i) {
        const int x = fr.Column(i);
        if (x != column) {
            const int h = h0 * fr.H / 65536;
            for (int c = column; h0 > 0 && c > previous; --c)
                VerticalRun(fr.Image, c, fr.cy - h, fr.cy + h, grey);
            previous = column;
            column = x;
            h0 = 0;
        }
        h0 = std::max(h0, std::abs(static_cast<int>(trace_[i])));
    }
}

// Tuning-fork trace: a polyline that starts afresh where the columns wrap.
void ViewRenderer::DrawPolyline(Frame& fr) {
    QPolygon run;
    run.reserve(fr.N);
    int last = -1;
    for (int i = 0; i < fr.N; ++i) {
        const int x = fr.Column(i);
        if (x < last) {
            fr.P.drawPolyline(run);
            run.clear();
        }
        run.append(QPoint(x, fr.cy - trace_[i] * fr.H / 65536));
        last = x;
    }
    fr.P.drawPolyline(run);
}

void ViewRenderer::DrawMarkers(Frame& fr) {
    QPainter& p = fr.P;
    p.setFont(small_);
    for (size_t k = 0; k < markers_.size(); ++k) {
        const Marker& mk = markers_[k];
        const int x = fr.Column(mk.Index);
        p.setPen(red_);
        if (mk.Drop) {
            p.drawLine(x, fr.cy + fr.L2, x, fr.cy - fr.L2);
            if (k > 0 && !markers_[k - 1].Drop) DrawIntervalLabel(fr, markers_[k - 1], mk);
        } else {
            p.drawLine(x, fr.cy + fr.L1, x, fr.cy - fr.L1);
            if (!fr.Fork) DrawUnlockSpans(fr, mk.Index, x);
        }
    }
}

// The post-unlock mute span (red, lever-type escapements) and the pre-unlock span (blue); the
// first of each becomes a hit rectangle for dragging.
void ViewRenderer::DrawUnlockSpans(Frame& fr, int index, int x0) {
    QPainter& p = fr.P;
    const int cy = fr.cy;
    if (fr.Escapement != EscapementType::Pendulum) {
        const int x1 = fr.Column(index + fr.TraceIndex(fr.LiftSamplesMin));
        if (x0 < x1) {
            p.drawLine(x0, cy, x1, cy);
            if (fr.State.PostUnlockRect.isEmpty())
                fr.State.PostUnlockRect = Edges(x0, cy - 2, x1, cy + 2);
        } else {
            p.drawLine(x0, cy, fr.W, cy);
            p.drawLine(0, cy, x1, cy);
        }
    }
    const int x2 = fr.Column(index - fr.TraceIndex(fr.SamplesPerBeat - fr.MuteSamples));
    if (x2 < x0) {
        p.setPen(blue_);
        p.drawLine(x2, cy, x0, cy);
        if (fr.State.PreUnlockRect.isEmpty())
            fr.State.PreUnlockRect = Edges(x2, cy - 2, x0, cy + 2);
    }
}

void ViewRenderer::DrawIntervalLabel(Frame& fr, const Marker& unlock, const Marker& drop) {
    const double t = (drop.Index - unlock.Index) * fr.D / fr.z / fr.EffRate;
    if (!(t < 0.5 * fr.T)) return;
    const int x = fr.Column(unlock.Index + fr.TraceIndex(fr.LiftSamplesMin));
    DrawText(fr.P, x, fr.H / 2, IntervalLabel(t), Align::Right, IntervalGreen);
}

// --- Rate inputs, paper tape and cursor disk ---

void ViewRenderer::ReadRateInputs(Frame& fr) {
    {
        const auto lock = fr.Core.HoldAnalysis();
        fr.Rate = fr.Core.Measurement.Rate;
        fr.WindowFull = fr.Core.Measurement.RateWindowFull;
        fr.Current =
            fr.Core.Measurement.Running && !fr.Core.NoSignal && fr.Core.Measurement.RateMeasured;
        fr.TickOffset = fr.Core.Detector.TickOffset;
        fr.m = fr.Core.Settings.Zoom;
        fr.f = fr.Core.Settings.SlowFeed == 0 ? 1 : fr.Core.Settings.SlowFeed;
        fr.E = fr.Core.Derived.BeatsPerBuffer;
    }
    const double ewm = static_cast<double>(fr.E) * fr.W * fr.m;
    fr.G = fr.f >= 1 ? ewm * fr.f : ewm / -fr.f;
    if (!fr.State.ManualCursorDisk) {
        fr.State.Disk.Theta = -std::atan(fr.Rate * fr.G);
        UpdateDiskChords(fr.State.Disk);
    }
}

void ViewRenderer::DrawTape(Frame& fr) {
    if (!fr.TapeShown) return;
    QPainter& p = fr.P;
    const auto lock = fr.Core.HoldAnalysis();
    const TapeState& tape = fr.Core.Tape;
    const long long n = static_cast<long long>(tape.TapeWriteIndex) - tape.TapeScrollOffset;
    const long long rows = fr.f >= 1 ? n / fr.f + 2 : 2 + n * -fr.f;
    const int bottom = static_cast<int>(std::clamp<long long>(rows, 0, fr.H + 1));

    fr.State.TapeRect = Edges(fr.xl - 1, 0, fr.xr, bottom);
    if (bottom > 0) {
        // AND the tape over what is drawn, so the waveform shows through it.
        const int l = fr.xl - 1, r = fr.xr;
        const QRgb outline = tapeOutline_.color().rgb();
        AndRect(fr.Image, Edges(l + 1, 1, r - 1, bottom - 1), tapeBrush_.color().rgb());
        AndRect(fr.Image, Edges(l, 0, r, 1), outline);
        AndRect(fr.Image, Edges(l, bottom - 1, r, bottom), outline);
        AndRect(fr.Image, Edges(l, 0, l + 1, bottom), outline);
        AndRect(fr.Image, Edges(r - 1, 0, r, bottom), outline);
    }
    p.setPen(black_);
    p.setFont(note_);
    DrawTapeRows(fr, bottom);
    if (fr.State.TapeMarking) DrawMarkedRow(fr);
    DrawHoverText(fr);
}

// Newest entries at the top. With f >= 1 each pixel row gathers f entries; with f <= -1 each entry
// has a row of its own, -f rows apart.
void ViewRenderer::DrawTapeRows(Frame& fr, int bottom) {
    const int wt = fr.xr - fr.xl;
    if (wt <= 0) return;
    columnMap_.assign(static_cast<size_t>(wt), 0);
    flagged_.clear();
    const TapeState& tape = fr.Core.Tape;
    const long long size = static_cast<long long>(tape.Entries.size());
    const long long n = static_cast<long long>(tape.TapeWriteIndex) - tape.TapeScrollOffset;
    const long long f = fr.f;
    if (f >= 1) {
        for (int y = 0; y < bottom - 2; ++y) {
            const long long first = f * (n / f - y);
            const long long end = std::min({first + f, tape.TapeWriteIndex + 0LL, size});
            if (first >= 0) CollectTapeEntries(fr, first, end, y);
            FlushTapeRow(fr, y);
        }
        return;
    }
    for (int y = 0; y < bottom - 2; y += static_cast<int>(-f)) {
        const long long i = (f * n + y) / f;
        if (i < 0 || i >= size) break;
        CollectTapeEntries(fr, i, i + 1, y);
        FlushTapeRow(fr, y);
    }
}

// Flags the columns of entries first ... end-1 and draws their notes. A full tape width spans a
// quarter of a beat at magnification 1; phase 0 is the middle.
void ViewRenderer::CollectTapeEntries(Frame& fr, long long first, long long end, int y) {
    const long long wt = fr.xr - fr.xl;
    const TapeEntry* entries = fr.Core.Tape.Entries.data();
    for (long long i = first; i < end; ++i) {
        const TapeEntry& entry = entries[i];
        if (entry.Time != 0) {
            const long long c = TapeColumn(entry.Phase, fr.m, wt);
            uint8_t& flag = columnMap_[static_cast<size_t>(c)];
            if (!flag) flagged_.push_back(static_cast<int>(c));
            flag = 1;
        }
        if (!entry.Text.empty()) DrawText(fr.P, fr.xl - 1, y, entry.Text, Align::Left, NoteColour);
    }
}

// Writes the row's dots straight into the image: several entries on one pixel cost one write.
void ViewRenderer::FlushTapeRow(Frame& fr, int y) {
    QRgb* line = y >= 0 && y < fr.H ? reinterpret_cast<QRgb*>(fr.Image.scanLine(y)) : nullptr;
    for (int c : flagged_) {
        columnMap_[static_cast<size_t>(c)] = 0;
        const int x = fr.xl + c;
        if (line && x >= 0 && x < fr.W) line[x] = qRgb(0, 0, 0);
    }
    flagged_.clear();
}

void ViewRenderer::DrawMarkedRow(Frame& fr) {
    const int y = fr.State.MarkedRow.y();
    fr.P.setPen(blue_);
    fr.P.drawLine(fr.xl, y, fr.xr, y);
    DrawText(fr.P, fr.xr, y, ClockTimeText(fr.State.MarkedTime), Align::Left, NoteColour);
}

void ViewRenderer::DrawHoverText(Frame& fr) {
    const ViewDisplayState& s = fr.State;
    if (s.HoverText.empty() || !s.PointerOverTape) return;
    const int y = std::clamp(s.PointerPosition.y(), 0, std::max(0, fr.H - fr.L1));
    DrawText(fr.P, s.PointerPosition.x() + fr.L1, y, s.HoverText, Align::Left, NoteColour);
}

void ViewRenderer::DrawTapeDecorations(Frame& fr) {
    if (!fr.TapeShown) return;
    QPainter& p = fr.P;
    const int H = fr.H, cx = fr.cx;
    if (Locked(fr.Core, [&] { return fr.Core.Tape.TapeScrollOffset != 0; })) {
        p.setPen(red_);
        const QPoint tri[] = {
            {cx - 5, H * 13 / 16}, {cx, H * 7 / 8}, {cx + 5, H * 13 / 16}, {cx - 5, H * 13 / 16}};
        p.drawPolyline(tri, 4);
    }
    DrawCentringMark(fr);
    DrawWindowBracket(fr);
    DrawTapeWidthArrows(fr);
}

void ViewRenderer::DrawCentringMark(Frame& fr) {
    if (Locked(fr.Core, [&] { return fr.Core.CentringCountdown; }) == 0) return;
    QPainter& p = fr.P;
    const int W = fr.W, H = fr.H, y = H * 7 / 16;
    p.setPen(red_);
    DrawArrow(p, {W * 7 / 8, y}, {W * 5 / 8, y}, 10, 5);
    DrawArrow(p, {W / 8, y}, {W * 3 / 8, y}, -10, 5);
    p.drawLine(W / 2, H * 5 / 16, W / 2, H * 9 / 16);
}

// Two lines at the tape's right edge as long as the measuring window: green when the window is
// full, blue while it fills.
void ViewRenderer::DrawWindowBracket(Frame& fr) {
    double q = 0.0;
    bool empty = false;
    {
        const auto lock = fr.Core.HoldAnalysis();
        const MeasurementState& ms = fr.Core.Measurement;
        const AnalysisParameters& pa = fr.Core.Params;
        const auto& history = ms.DeviationHistory;
        if (fr.WindowFull)
            q = ms.CurrentPosition >= 1 ? pa.PositionAveragingTime : pa.MeasuringTime;
        else if (history.empty())
            empty = true;
        else
            q = history.back().Time - history.front().Time;
    }
    const double e = fr.E;
    const double beats = q / fr.T;
    const int Y = empty       ? 0
                  : fr.f >= 1 ? TruncPixel(beats / fr.f / e + 0.5)
                              : TruncPixel(0.5 - beats * fr.f / e);
    const int xb = fr.W * 5 / 8;
    fr.P.setPen(fr.WindowFull ? green_ : blue_);
    for (int dx = 0; dx <= 1; ++dx) {
        const QPoint line[] = {{xb + 3 + dx, 5}, {xb + dx, 0}, {xb + dx, Y}, {xb + 3 + dx, Y - 5}};
        fr.P.drawPolyline(line, 4);
    }
}

void ViewRenderer::DrawTapeWidthArrows(Frame& fr) {
    QPainter& p = fr.P;
    const int W = fr.W, yt = fr.H / 64;
    p.setPen(green_);
    DrawArrow(p, {W * 21 / 32, yt}, {W * 5 / 8, yt}, 10, 3);
    DrawArrow(p, {W * 11 / 32, yt}, {W * 3 / 8, yt}, -10, 3);
    DrawText(p, W * 21 / 32, yt - fr.L1 / 2, TapeWidthLabel(fr.T, fr.m), Align::Left,
             fr.StatusColour);
}

// The disk sits over the top of the tape, its top edge above the window.
void ViewRenderer::DrawDisk(Frame& fr) {
    if (!fr.TapeShown || !fr.Settings.CursorDisk) return;
    const int a = (fr.xr - fr.xl) * 2 / 3;
    const int e = (fr.xr - fr.xl) / -5;
    const QRect bounds = Edges(fr.W / 2 - a, e, fr.W / 2 + a, e + 2 * a);
    QRect grip = DrawCursorDisk(fr.P, bounds, fr.State.ManualCursorDisk, fr.State.Disk);
    grip.setLeft(fr.W / 2);
    fr.State.DiskGripRect = grip;
}

// --- Status block ---

void ViewRenderer::DrawSignalNoise(Frame& fr) {
    double snr = 0.0;
    unsigned sampleRate = 0;
    {
        const auto lock = fr.Core.HoldAnalysis();
        fr.Prompt = fr.Core.PromptText;
        snr = fr.Core.Detector.SignalToNoise;
        sampleRate = fr.Core.Settings.SampleRate;
    }
    fr.P.setFont(small_);
    fr.StatusColour = StatusBlue;
    if (fr.Fork || !fr.Prompt.empty()) return;
    const QColor colour = PoorSignal(snr) ? PoorRed : StatusBlue;
    DrawText(fr.P, 3, fr.Row(1), SignalNoiseText(snr, sampleRate), Align::Left, colour);
    fr.StatusColour = Qt::black;
}

// Rows 9 (lift angle), 10 (train) and 11 (profile).
void ViewRenderer::DrawUpperStatusRows(Frame& fr) {
    if (!fr.Prompt.empty()) return;
    const double liftAngle = Locked(fr.Core, [&] { return fr.Core.Params.LiftAngle; });
    QPainter& p = fr.P;
    const QColor& c = fr.StatusColour;
    if (!fr.Fork)
        DrawText(p, 3, fr.Row(9), LiftAngleText(liftAngle, fr.Escapement), Align::Left, c);
    DrawText(p, 3, fr.Row(10), TrainLineText(fr.T, fr.Rate, fr.Fork), Align::Left, c);
    DrawText(p, 3, fr.Row(11), ProfileText(fr.Settings.Profile), Align::Left, c);
}

// Row 7's values; the caller holds the analysis lock.
static MeasuredTimeInputs ReadMeasuredTime(const AnalysisCore& core) {
    const MeasurementState& ms = core.Measurement;
    MeasuredTimeInputs in;
    in.Position = ms.CurrentPosition;
    in.HistoryEmpty = ms.DeviationHistory.empty();
    if (!in.HistoryEmpty)
        in.HistorySpan = ms.DeviationHistory.back().Time - ms.DeviationHistory.front().Time;
    in.MeasuringTime = core.Params.MeasuringTime;
    in.MeasuredTime = ms.MeasuredTime;
    if (in.Position >= 2 && in.Position <= MaxPositions)
        in.PreviousPositionEnd = ms.PositionEndTime[static_cast<size_t>(in.Position - 1)];
    in.Stabilization = core.Params.Stabilization;
    in.PositionAveragingTime = core.Params.PositionAveragingTime;
    in.PositionCode = PositionCode(core.Params.Sequence, in.Position);
    return in;
}

// Rows 3, 8, 7, 6, 2, 5 and 4, in that order, each read in its own short section.
void ViewRenderer::DrawLowerStatusRows(Frame& fr) {
    if (!fr.Prompt.empty()) return;
    const AnalysisCore& core = fr.Core;
    const MeasurementState& ms = core.Measurement;
    auto row = [&fr](int r, const std::string& text) {
        DrawText(fr.P, 3, fr.Row(r), text, Align::Left, fr.StatusColour);
    };
    row(3, DatumOffsetText(-fr.TickOffset / fr.EffRate));
    row(8, FeedText(fr.m, fr.z, fr.f));
    row(7, MeasuredTimeText(Locked(core, [&] { return ReadMeasuredTime(core); })));
    row(6, Locked(core, [&] { return AccumulatedRateText(ms.AccumulatedRate, ms.MeasuredTime); }));
    row(2, FilterText(Locked(core, [&] { return core.Settings.HPF != 0; }), fr.Fork));
    row(5, Locked(core, [&] {
            return DeviationText(ms.Deviation, ms.TickElapsed, core.Detector.BeatCount);
        }));
    row(4,
        Locked(core, [&] { return AllanText(ms.AllanDeviation, core.Params.Tau, ms.AllanCount); }));
}

// --- Lower right: diagnostics or tooth chart; unlock threshold ---

void ViewRenderer::DrawLowerRight(Frame& fr) {
    fr.P.setFont(small_);
    if (fr.State.CtrlHeld)
        DrawDiagnostics(fr);
    else
        DrawToothChart(fr);
}

void ViewRenderer::DrawDiagnostics(Frame& fr) {
    QPainter& p = fr.P;
    const QColor& c = fr.StatusColour;
    const auto lock = fr.Core.HoldAnalysis();
    DrawText(p, fr.W, fr.H - 2 * fr.L1, OverrunText(fr.Core.Detector.OverrunCount), Align::Right,
             c);
    DrawText(p, fr.W, fr.H - fr.L1, UnpaintedText(fr.Core.Detector.UnpaintedBuffers), Align::Right,
             c);
    DrawText(p, fr.W, fr.H - 3 * fr.L1, fr.State.FaderDiagnosticText, Align::Right, c);
}

// One bar per escape-wheel tooth from the baseline, the tooth in mesh in red, scale marks and
// labels at the right edge.
void ViewRenderer::DrawToothChart(Frame& fr) {
    const auto lock = fr.Core.HoldAnalysis();
    const AnalysisCore& core = fr.Core;
    const int n = std::min(core.Params.EscapeWheelTeeth, MaxTeeth);
    if (fr.Fork || core.AutoTrainActive || n < 1 || core.Detector.BeatCount < 1 ||
        core.Measurement.CurrentPosition != 0)
        return;
    QPainter& p = fr.P;
    const int W = fr.W, H = fr.H;
    const int s = (W / 3) / n, y0 = H * 3 / 4, hc = H * 5 / 21;
    const double K = fr.State.ToothChartScale;
    const auto& v = core.Measurement.ToothResidual;
    auto barTop = [&](int i) {
        return y0 - TruncPixel(v[static_cast<size_t>(i)] * K * H * 5 / 21);
    };
    fr.State.ToothChartRect = Edges(W - n * s, y0 - hc, W, y0 + hc);

    p.setPen(tooth_);
    for (int i = 0; i < n; ++i)
        p.drawLine(W - (n - i) * s, y0, W - (n - i) * s, barTop(i));
    for (int i = 0; i < n; i += 4)
        DrawText(p, W - (n - i) * s, y0 - fr.L1 / 2, ToothNumberLabel(i + 1), Align::Centre,
                 fr.StatusColour);
    const int t = static_cast<int>(core.Detector.BeatCount / 2 % n);
    const int xt = W - (n - t) * s;
    p.setPen(currentTooth_);
    p.drawLine(xt, y0, xt + 1, barTop(t));
    DrawToothScale(fr, fr.State.ToothChartRect);
}

// Scale marks at the chart's right edge (long at top and bottom, short in the middle) and the
// deviation the top and bottom edges stand for.
void ViewRenderer::DrawToothScale(Frame& fr, const QRect& chart) {
    QPainter& p = fr.P;
    const int R = fr.W, width = R - chart.left();
    const int top = chart.top(), middle = fr.H * 3 / 4, bottom = chart.top() + chart.height();
    const double K = fr.State.ToothChartScale;
    p.setPen(grey_);
    p.drawLine(R - width / 10, top, R, top);
    p.drawLine(R - width / 20, middle, R, middle);
    p.drawLine(R - width / 10, bottom, R, bottom);
    DrawText(p, R, top, ToothScaleLabel(500 / K), Align::Right, fr.StatusColour);
    DrawText(p, R, bottom - fr.L1, ToothScaleLabel(-500 / K), Align::Right, fr.StatusColour);
}

void ViewRenderer::DrawUnlockThreshold(Frame& fr) {
    bool shown = false;
    int U = 0;
    {
        const auto lock = fr.Core.HoldAnalysis();
        shown = fr.Core.Trace.Shown;
        U = fr.Core.UnlockThresholdInForce();
    }
    if (!shown) return;
    const int yu = fr.H / 2 - TruncPixel(fr.H * 0.5 * U / 32767 + 0.5);
    fr.P.setPen(lightGreen_);
    fr.P.drawLine(0, yu, fr.W, yu);
    DrawText(fr.P, 3, yu - fr.L1, UnlockThresholdText(U), Align::Left, ThresholdGreen);
}

// --- Readouts and texts at the top and in the middle ---

void ViewRenderer::DrawReadouts(Frame& fr) {
    QPainter& p = fr.P;
    const AnalysisCore& core = fr.Core;
    RateReadoutInputs in;
    double amplitude = 0.0, lift = 0.0, beatError = 0.0;
    bool stable = false;
    {
        const auto lock = core.HoldAnalysis();
        const double window = core.Measurement.CurrentPosition >= 1
                                  ? core.Params.PositionAveragingTime
                                  : core.Params.MeasuringTime;
        in.WindowSamples = core.Settings.SampleRate * window;
        in.Averaging = core.Params.Averaging != 0;
        // An amplitude without steady drops is not shown: it would be a guess.
        amplitude = core.Measurement.AmplitudeTrusted ? core.Measurement.Amplitude : 0.0;
        lift = core.Params.LiftAngle;
        beatError = core.Measurement.BeatError;
        stable = core.Measurement.BeatErrorStable;
    }
    in.ManualCursor = fr.State.ManualCursorDisk;
    in.CursorRate = CursorRate(fr.State.Disk.Theta, fr.G);
    in.Rate = fr.Rate;
    in.WindowFull = fr.WindowFull;
    const RateReadout rate = RateReadoutText(in);
    p.setFont(large_);
    const QColor valid = fr.Current || in.ManualCursor ? ReadoutBlue : ReadoutStale;
    DrawText(p, 5, 0, rate.Text, Align::Left,
             rate.Orange && valid == ReadoutBlue ? ReadoutOrange : valid);
    const QColor readings = fr.Current ? ReadoutBlue : ReadoutStale;
    DrawText(p, 5, fr.L2, AmplitudeText(amplitude, lift, in.Averaging, fr.Escapement, fr.Fork),
             Align::Left, readings);
    DrawText(p, 5, 2 * fr.L2, BeatErrorText(beatError, fr.T, in.Averaging, stable, fr.Fork),
             Align::Left, readings);
}

namespace {

// The label with the path shortened to `width` pixels: folders nearest the root give way first,
// then the middle of the file name.
QString ElidedPathLabel(const TopRightTexts& texts, const QFontMetrics& metrics, int width) {
    const QString whole = QString::fromStdString(texts.Line0);
    if (texts.PathStart == std::string::npos || metrics.horizontalAdvance(whole) <= width)
        return whole;
    const QString label = whole.left(static_cast<int>(texts.PathStart));
    const QString path = whole.mid(static_cast<int>(texts.PathStart));
    const int slash = static_cast<int>(path.lastIndexOf(QLatin1Char('/')));
    const QString name = path.mid(slash + 1);
    const int forFolders = width - metrics.horizontalAdvance(label + QLatin1Char('/') + name);
    const QString folders =
        metrics.elidedText(path.left(std::max(slash, 0)), Qt::ElideLeft, std::max(forFolders, 0));
    if (slash >= 0 && !folders.isEmpty()) return label + folders + QLatin1Char('/') + name;
    return metrics.elidedText(label + name, Qt::ElideMiddle, width);
}

} // namespace

void ViewRenderer::DrawTopRight(Frame& fr) {
    const ViewDisplayState& s = fr.State;
    const TopRightTexts texts = TopRightText(s.PlayingBack, s.Recording, fr.Settings.WaveFile2,
                                             s.LoopCount, fr.Settings.Title);
    // Right of the tape-width label when the tape is shown, else the right half of the window.
    const int gap = fr.L1;
    const int left = fr.TapeShown ? fr.W * 21 / 32 +
                                        QFontMetrics(small_).horizontalAdvance(
                                            QString::fromStdString(TapeWidthLabel(fr.T, fr.m))) +
                                        gap
                                  : fr.W / 2;
    const QFontMetrics metrics(fr.P.font());
    const QString line0 = ElidedPathLabel(texts, metrics, fr.W - 20 - left);
    // A line never closer than the font's own spacing, which may exceed L2 on a small window.
    const int line = std::max(fr.L2, metrics.lineSpacing());
    DrawText(fr.P, fr.W - 20, 0, line0.toStdString(), Align::Right, ReadoutBlue);
    DrawText(fr.P, fr.W - 20, line, texts.Line1, Align::Right, ReadoutBlue);
    fr.TopRightBottom = (texts.Line1.empty() ? 1 : 2) * line;
    fr.TopRightLeft = left;
}

void ViewRenderer::DrawStabilizing(Frame& fr) {
    std::string text;
    {
        const auto lock = fr.Core.HoldAnalysis();
        const MeasurementState& ms = fr.Core.Measurement;
        if (ms.CurrentPosition >= 1 && ms.StabilizationRemaining > 0)
            text = StabilizingText(ms.CurrentPosition,
                                   PositionCode(fr.Core.Params.Sequence, ms.CurrentPosition));
    }
    DrawText(fr.P, 5, 3 * fr.L2, text, Align::Left, ReadoutBlue);
}

void ViewRenderer::DrawMiddle(Frame& fr) {
    if (!fr.Prompt.empty()) {
        const std::vector<std::string> lines = SplitLines(fr.Prompt);
        for (size_t j = 0; j < lines.size(); ++j)
            DrawText(fr.P, 5, fr.H / 2 + static_cast<int>(j) * fr.L2, lines[j], Align::Left,
                     PromptBrown);
        return;
    }
    if (!Locked(fr.Core, [&] { return fr.Core.Trace.Frozen; })) return;
    fr.P.setFont(small_);
    DrawText(fr.P, 5, fr.H / 2 + fr.L2, FrozenNotice, Align::Left, FrozenRed);
    fr.P.setFont(large_);
}

// Tries the calibration lock once; a busy lock leaves the text out of this repaint.
void ViewRenderer::DrawCalibrationText(Frame& fr) {
    auto lock = fr.Core.TryHoldCalibration();
    if (!lock.owns_lock()) return;
    std::vector<std::string> lines;
    {
        // The capture thread rebuilds a local standard's text under the analysis lock.
        const auto analysis = fr.Core.HoldAnalysis();
        lines = SplitLines(fr.Core.Measurement.CalibrationStatusText);
    }
    lock.unlock();
    fr.P.setFont(large_);
    const QFontMetrics metrics(large_);
    const int line = std::max(fr.L2, metrics.lineSpacing());
    const int width = std::max(0, fr.W - fr.L2 - fr.TopRightLeft);
    for (size_t j = 0; j < lines.size(); ++j) {
        const QString text =
            metrics.elidedText(QString::fromStdString(lines[j]), Qt::ElideRight, width);
        DrawText(fr.P, fr.W - fr.L2, fr.TopRightBottom + static_cast<int>(j) * line,
                 text.toStdString(), Align::Right, PromptBrown);
    }
}

} // namespace kv
