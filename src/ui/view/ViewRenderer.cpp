// SPDX-License-Identifier: GPL-3.0-or-later
// The repaint of the measuring view. Every element is drawn in a fixed order into the off-screen
// image; later elements draw over earlier ones.
#include "ui/view/ViewRenderer.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace kv {

namespace {

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
// The proportional line heights: a small line is a sixth, a large one a quarter of a cell, which
// is the view's height over the user's cell factor.
constexpr int SmallLinesPerCell = 6;
constexpr int LargeLinesPerCell = 4;

// The line heights with the texts grown by `scale` where the window leaves room: never smaller
// than the proportional sizes, never so large that the left column or a line overruns another.
struct LineHeights {
    int Small, Large, Whole;
};
LineHeights ScaledLineHeights(QSize client, int cellFactor, double scale) {
    const int height = client.height(), width = client.width();
    const int small = std::max(height / (SmallLinesPerCell * cellFactor), MinSmallFontPixels);
    const int large = std::max(height / (LargeLinesPerCell * cellFactor), small);
    const double s = std::isfinite(scale) ? std::max(scale, 1.0) : 1.0;
    const int smallRoom =
        std::min(height / (2 * LowerHalfSmallLines), width * 2 / 3 / WidestStatusLineHeights);
    const int largeRoom = std::min(smallRoom * 3 / 2, width * 3 / 8 / WidestReadoutHeights);
    const int grownSmall = std::max(small, std::min(TruncPixel(s * small), smallRoom));
    const int grownLarge =
        std::max({large, grownSmall, std::min(TruncPixel(s * large), largeRoom)});
    return {grownSmall, grownLarge, height / cellFactor};
}

QFont MakeFont(int pixelSize) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(std::max(1, pixelSize));
    return font;
}

// Large fills are written straight into the scanlines: the painter would hand operations of many
// spans to worker threads, which costs more than it saves.
void FillWhite(QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), image.width(), qRgb(255, 255, 255));
}

} // namespace

// Diagnostics while Ctrl is held, else the tooth chart.
void PaintLowerRight(PaintContext& c, const ViewSnapshot& s) {
    c.P.setFont(c.Fonts.Small);
    if (c.State.CtrlHeld)
        PaintDiagnostics(c, s);
    else
        PaintToothChart(c, s);
}

void ViewRenderer::Render(QImage& backBuffer, QSize client, const AnalysisCore& core,
                          const CalibrationState& calibration, const AppSettings& settings,
                          ViewDisplayState& state, double pixelRatio) {
    state.TapeRect = state.DiskGripRect = state.PreUnlockRect = state.PostUnlockRect =
        state.ToothChartRect = QRect();
    if (client.width() <= 0 || client.height() <= 0) return;
    if (!(pixelRatio >= 1.0) || !std::isfinite(pixelRatio)) pixelRatio = 1.0;
    const QSize pixels = (QSizeF(client) * pixelRatio).toSize();
    if (backBuffer.size() != pixels || backBuffer.format() != QImage::Format_RGB32 ||
        backBuffer.devicePixelRatio() != pixelRatio) {
        backBuffer = QImage(pixels, QImage::Format_RGB32);
        backBuffer.setDevicePixelRatio(pixelRatio);
    }
    if (backBuffer.isNull()) return;
    EnsureFonts(client, settings.CellFactor, state);
    CaptureViewSnapshot(core, calibration, state.Scroll, client.width(), client.height(),
                        snapshot_);

    QPainter painter(&backBuffer);
    if (!painter.isActive()) return;
    PaintContext c(painter, backBuffer, settings, state, pens_, fonts_, tapeRows_);
    c.Width = client.width();
    c.Height = client.height();
    c.CentreX = c.Width / 2;
    c.CentreY = c.Height / 2;
    c.SmallLine = smallLine_;
    c.LargeLine = largeLine_;
    c.Tape = TapeGeometry(c.Width);
    c.TapeShown = settings.PaperTape != 0;

    painter.setRenderHint(QPainter::Antialiasing, false);
    FillWhite(backBuffer);
    painter.setBrush(Qt::NoBrush);
    painter.setFont(fonts_.Large);
    painter.setPen(pens_.Green);

    const ViewSnapshot& s = snapshot_;
    PaintWaveform(c, s);
    TurnCursorDisk(c, s);
    PaintTape(c, s);
    PaintSignalNoise(c, s);
    PaintTapeDecorations(c, s);
    PaintUpperStatusRows(c, s);
    PaintCursorDisk(c);
    PaintLowerStatusRows(c, s);
    PaintLowerRight(c, s);
    PaintUnlockThreshold(c, s);
    PaintReadouts(c, s);
    PaintTopRight(c, s);
    PaintStabilizing(c, s);
    PaintMiddle(c, s);
    PaintCalibrationText(c, s);
}

void ViewRenderer::EnsureFonts(QSize client, int cellFactor, ViewDisplayState& state) {
    const LineHeights l = ScaledLineHeights(client, std::max(1, cellFactor), state.TextScale);
    if (!fontsExist_ || l.Small != smallLine_ || l.Large != largeLine_ || l.Whole != wholeLine_) {
        smallLine_ = l.Small;
        largeLine_ = l.Large;
        wholeLine_ = l.Whole;
        fonts_.Small = MakeFont(smallLine_);
        fonts_.Note = MakeFont(smallLine_);
        fonts_.Large = MakeFont(largeLine_);
        fonts_.Huge = MakeFont(wholeLine_);
        fontsExist_ = true;
        ++fontRebuilds_;
    }
    state.L1 = smallLine_;
    state.L2 = largeLine_;
    state.L3 = wholeLine_;
}

} // namespace kv
