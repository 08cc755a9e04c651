// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/ViewPaint.h"

#include <algorithm>
#include <cmath>

#include "analysis/AnalysisParameters.h"

namespace kv {

namespace {

// The width and height of the box a text is laid out in: far beyond any window.
constexpr int TextReach = 1 << 15;
// Pixel results are held within +/- 2^24, far outside any window, so later sums cannot overflow.
constexpr long long PixelLimit = 1 << 24;
// Values are held within +/- 1e15 before conversion to an integer, inside long long's range.
constexpr double ConversionLimit = 1e15;

// A 1-pixel pen whose lines leave out their end point, as the scope and tape geometry assumes.
QPen ThinPen(const QColor& colour) {
    return QPen(colour, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

// The tooth chart's bars: 3 pixels wide, the tooth in mesh 2.
constexpr int ToothBarWidth = 3;
constexpr int CurrentToothBarWidth = 2;

} // namespace

int TapeBottom(long long newest, int feed, int viewHeight) {
    const long long rows = feed >= 1 ? newest / feed + 2 : 2 + newest * -feed;
    return static_cast<int>(std::clamp<long long>(rows, 0, viewHeight + 1));
}

long long Trunc(double v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<long long>(std::clamp(v, -ConversionLimit, ConversionLimit));
}

int TruncPixel(double v) {
    return static_cast<int>(std::clamp<long long>(Trunc(v), -PixelLimit, PixelLimit));
}

long long Rnd(double v) {
    return std::isfinite(v) ? RoundHalfAway(std::clamp(v, -ConversionLimit, ConversionLimit)) : 0;
}

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

QRect DevicePixels(const QImage& image, QRect area) {
    const double ratio = image.devicePixelRatio();
    if (ratio == 1.0) return area & image.rect();
    const auto scaled = [ratio](int edge) { return static_cast<int>(std::floor(edge * ratio)); };
    return Edges(scaled(area.left()), scaled(area.top()), scaled(area.left() + area.width()),
                 scaled(area.top() + area.height())) &
           image.rect();
}

void FillPixels(QImage& image, QRect area, QRgb colour) {
    area = DevicePixels(image, area);
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)) + area.left(), area.width(), colour);
}

void AndRect(QImage& image, QRect area, QRgb colour) {
    area = DevicePixels(image, area);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x)
            line[x] &= colour;
    }
}

void DrawArrow(QPainter& p, QPoint from, QPoint tip, int dx, int dy) {
    p.drawLine(from, tip);
    p.drawLine(tip, tip + QPoint(dx, -dy));
    p.drawLine(tip, tip + QPoint(dx, dy));
}

ViewPens::ViewPens()
    : Red(ThinPen(QColor(255, 0, 0))), Black(ThinPen(QColor(0, 0, 0))),
      Grey(ThinPen(QColor(200, 200, 200))), Green(ThinPen(QColor(0, 255, 0))),
      Blue(ThinPen(QColor(0, 0, 255))), LightGreen(ThinPen(QColor(200, 255, 200))),
      TapeOutline(ThinPen(QColor(230, 210, 127))),
      Tooth(QColor(0, 255, 0), ToothBarWidth, Qt::SolidLine, Qt::RoundCap),
      CurrentTooth(QColor(255, 0, 0), CurrentToothBarWidth, Qt::SolidLine, Qt::RoundCap),
      TapeFill(QColor(255, 239, 213)) {}

} // namespace kv
