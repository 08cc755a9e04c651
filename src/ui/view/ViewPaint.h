// SPDX-License-Identifier: GPL-3.0-or-later
// What the painters of the measuring view share: the picture's geometry, pens, fonts and colours,
// the drawing helpers, and the painter entry points. Geometry is integer pixel arithmetic with
// divisions truncating toward zero, and antialiasing is off so lines land on the computed pixels.
#pragma once

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/AppSettings.h"
#include "ui/view/ViewDisplayState.h"

namespace kv {

struct ViewSnapshot;

// The paper tape's strip: the middle quarter of the view's width.
struct TapeStrip {
    int Left = 0, Right = 0;
    int Width() const { return Right - Left; }
};
inline TapeStrip TapeGeometry(int viewWidth) {
    const int centre = viewWidth / 2;
    return {centre - viewWidth / 8, centre + viewWidth / 8};
}
// The tape's bottom edge: one row per `feed` entries (or `-feed` rows per entry) below the newest
// entry `newest`, two rows of border, and never below the view's bottom row.
int TapeBottom(long long newest, int feed, int viewHeight);

// Truncation toward zero of a pixel computation; non-finite values give 0 and huge ones are held
// far outside any window instead of overflowing.
long long Trunc(double v);
int TruncPixel(double v);
// Rounding half away from zero, non-finite values giving 0.
long long Rnd(double v);

// A rectangle given by its edges (left, top, right, bottom), the right and bottom edges exclusive.
inline QRect Edges(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

enum class Align { Left, Right, Centre };

// Left margins of the status lines and of the readouts: clear of the window's edge.
constexpr int StatusTextLeft = 3;
constexpr int ReadoutLeft = 5;

// Draws text with its top at y and its left edge, right edge or centre at x. Tabs are expanded.
void DrawText(QPainter& p, int x, int y, const std::string& text, Align align,
              const QColor& colour);
// The image pixels that draw the logical pixels `area` at the image's device pixel ratio: the
// edges scale and truncate, so neighbouring areas share no pixel and at ratio 1 they are `area`.
// Clipped to the image.
QRect DevicePixels(const QImage& image, QRect area);
// Every image pixel of the logical pixels `area` becomes `colour`.
void FillPixels(QImage& image, QRect area, QRgb colour);
// Each image pixel of the logical pixels `area` becomes the bitwise AND of `colour` and the
// pixel (the mask raster op).
void AndRect(QImage& image, QRect area, QRgb colour);
// A line from `from` to `tip` with a head of two lines from the tip to (tip + dx, tip -/+ dy).
void DrawArrow(QPainter& p, QPoint from, QPoint tip, int dx, int dy);

namespace colours {
inline const QColor StatusBlue(0, 0, 64);
inline const QColor IntervalGreen(32, 128, 32);
inline const QColor Note(0, 63, 127);
inline const QColor PoorRed(255, 0, 0);
inline const QColor ThresholdGreen(100, 155, 100);
inline const QColor ReadoutBlue(0, 0, 200);
inline const QColor ReadoutOrange(200, 63, 0);
// Readouts that are not a current reading: measuring stopped, no ticks yet, or the signal lost.
inline const QColor ReadoutStale(150, 150, 150);
inline const QColor PromptBrown(128, 64, 64);
inline const QColor FrozenRed(200, 20, 20);
} // namespace colours

struct ViewPens {
    ViewPens();
    QPen Red, Black, Grey, Green, Blue, LightGreen, TapeOutline, Tooth, CurrentTooth;
    QBrush TapeFill;
};

struct ViewFonts {
    QFont Small, Note, Large, Huge;
};

// The tape's dots of one row: which columns are flagged and, as a list, which to clear.
struct TapeRowScratch {
    std::vector<uint8_t> Flags;
    std::vector<int> Flagged;
};

// One repaint's painter, geometry and the notes one element leaves for a later one.
struct PaintContext {
    PaintContext(QPainter& p, QImage& image, const AppSettings& settings, ViewDisplayState& state,
                 const ViewPens& pens, const ViewFonts& fonts, TapeRowScratch& tapeRows)
        : P(p), Image(image), Settings(settings), State(state), Pens(pens), Fonts(fonts),
          TapeRows(tapeRows) {}

    QPainter& P;
    QImage& Image;
    const AppSettings& Settings;
    ViewDisplayState& State;
    const ViewPens& Pens;
    const ViewFonts& Fonts;
    TapeRowScratch& TapeRows;

    int Width = 0, Height = 0;
    int CentreX = 0, CentreY = 0;
    int SmallLine = 0, LargeLine = 0; // line heights of the small and large fonts
    TapeStrip Tape;
    bool TapeShown = false;

    QColor StatusColour = colours::StatusBlue; // text colour after the signal/noise row
    double CursorGain = 1.0; // tape slope per unit rate, turning the disk angle into a rate
    // The block of texts at the top right: where its next free line starts and its left edge,
    // so the calibration's lines go below it and never over it.
    int TopRightBottom = 0;
    int TopRightLeft = 0;

    // The top of status line `r`, counted upward from the bottom.
    int StatusRow(int r) const { return Height - r * SmallLine; }
};

// The painters, in the order a repaint calls them; later ones draw over earlier ones.
void PaintWaveform(PaintContext& c, const ViewSnapshot& s);
void TurnCursorDisk(PaintContext& c, const ViewSnapshot& s);
void PaintTape(PaintContext& c, const ViewSnapshot& s);
void PaintSignalNoise(PaintContext& c, const ViewSnapshot& s);
void PaintTapeDecorations(PaintContext& c, const ViewSnapshot& s);
void PaintUpperStatusRows(PaintContext& c, const ViewSnapshot& s);
void PaintCursorDisk(PaintContext& c);
void PaintLowerStatusRows(PaintContext& c, const ViewSnapshot& s);
void PaintLowerRight(PaintContext& c, const ViewSnapshot& s); // tooth chart or diagnostics
void PaintToothChart(PaintContext& c, const ViewSnapshot& s);
void PaintDiagnostics(PaintContext& c, const ViewSnapshot& s);
void PaintUnlockThreshold(PaintContext& c, const ViewSnapshot& s);
void PaintReadouts(PaintContext& c, const ViewSnapshot& s);
void PaintTopRight(PaintContext& c, const ViewSnapshot& s);
void PaintStabilizing(PaintContext& c, const ViewSnapshot& s);
void PaintMiddle(PaintContext& c, const ViewSnapshot& s);
void PaintCalibrationText(PaintContext& c, const ViewSnapshot& s);

} // namespace kv
