// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logview/GraphCanvas.h"

#include <QFontMetrics>
#include <QPen>
#include <algorithm>
#include <cmath>

#include "logview/model/GraphSettings.h"
#include "ui/logview/GraphLayout.h"

namespace kv {

namespace {

// Degrees clockwise on the screen: vertical text reads upwards, its top facing left, so the
// range texts fill the gaps their dimension lines leave and the time labels stay on the image.
constexpr double kVerticalTextAngle = -90.0;
constexpr int kNoOperation = 11; // the raster operation that leaves the image as it is

// The painter's equivalents of the two-operand raster operations 1 … 16.
constexpr QPainter::CompositionMode kRasterOps[] = {
    QPainter::RasterOp_ClearDestination,           // 1 black
    QPainter::RasterOp_NotSourceAndNotDestination, // 2 not merge pen
    QPainter::RasterOp_NotSourceAndDestination,    // 3 mask not pen
    QPainter::RasterOp_NotSource,                  // 4 not copy pen
    QPainter::RasterOp_SourceAndNotDestination,    // 5 mask pen not
    QPainter::RasterOp_NotDestination,             // 6 not
    QPainter::RasterOp_SourceXorDestination,       // 7 xor pen
    QPainter::RasterOp_NotSourceOrNotDestination,  // 8 not mask pen
    QPainter::RasterOp_SourceAndDestination,       // 9 mask pen
    QPainter::RasterOp_NotSourceXorDestination,    // 10 not xor pen
    QPainter::CompositionMode_Destination,         // 11 no operation
    QPainter::RasterOp_NotSourceOrDestination,     // 12 merge not pen
    QPainter::CompositionMode_SourceOver,          // 13 copy pen
    QPainter::RasterOp_SourceOrNotDestination,     // 14 merge pen not
    QPainter::RasterOp_SourceOrDestination,        // 15 merge pen
    QPainter::RasterOp_SetDestination,             // 16 white
};

} // namespace

QPoint LogicalToDevice(QSize size, double x, double y) {
    const double dx = (x - LogicalLeft) * (size.width() - 1) / LogicalWidth;
    const double dy = (LogicalTop - y) * (size.height() - 1) / LogicalHeight;
    return {static_cast<int>(std::lround(dx)), static_cast<int>(std::lround(dy))};
}

QColor ColorOf(uint32_t rgb) {
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>((rgb >> 16) & 0xFF));
}

GraphCanvas::GraphCanvas(QPainter& painter, const GraphFrame& frame)
    : painter_(painter), frame_(frame), rasterOp_(CopyPenRasterOp) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setBackgroundMode(Qt::TransparentMode);
    painter_.setBrush(Qt::NoBrush);
}

void GraphCanvas::SetPen(QColor colour, int logicalWidth) {
    const int width =
        std::max(1, static_cast<int>(std::lround(logicalWidth * frame_.PixelsPerUnitX())));
    painter_.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
}

void GraphCanvas::BeginLines() {
    const bool known = rasterOp_ >= 1 && rasterOp_ <= static_cast<int>(std::size(kRasterOps));
    painter_.setCompositionMode(known ? kRasterOps[rasterOp_ - 1]
                                      : QPainter::CompositionMode_SourceOver);
}

void GraphCanvas::Line(double x0, double y0, double x1, double y1) {
    if (rasterOp_ == kNoOperation) return;
    BeginLines();
    painter_.drawLine(Map(x0, y0), Map(x1, y1));
}

void GraphCanvas::Polyline(const std::vector<QPoint>& devicePoints) {
    if (devicePoints.size() < 2 || rasterOp_ == kNoOperation) return;
    BeginLines();
    painter_.drawPolyline(devicePoints.data(), static_cast<int>(devicePoints.size()));
}

void GraphCanvas::FillRect(double left, double bottom, double right, double top, QColor colour) {
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const QPoint topLeft = Map(left, top);
    const QPoint bottomRight = Map(right, bottom);
    // Right and bottom edges excluded, so a fill meets the axis drawn on its edge without
    // covering it.
    painter_.fillRect(QRect(topLeft, bottomRight - QPoint(1, 1)), colour);
}

GraphCanvas::TextPlacement GraphCanvas::Place(double x, double y, const QString& text, HAlign h,
                                              VAlign v, GraphFont font) const {
    const QFont& chosen = font == GraphFont::Main ? frame_.MainFont() : frame_.VerticalFont();
    const QFontMetrics metrics(chosen);
    const int width = metrics.horizontalAdvance(text);
    const int dx = h == HAlign::Left ? 0 : (h == HAlign::Right ? -width : -width / 2);
    const int dy = v == VAlign::Top      ? metrics.ascent()
                   : v == VAlign::Bottom ? -metrics.descent()
                                         : 0;
    QTransform transform;
    const QPoint anchor = Map(x, y);
    transform.translate(anchor.x(), anchor.y());
    if (font == GraphFont::Vertical) transform.rotate(kVerticalTextAngle);
    return {&chosen, transform, QPoint(dx, dy)};
}

void GraphCanvas::Text(double x, double y, const std::string& text, HAlign h, VAlign v,
                       QColor colour, GraphFont font) {
    const QString string = QString::fromStdString(text);
    const TextPlacement place = Place(x, y, string, h, v, font);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.save();
    painter_.setFont(*place.Font);
    painter_.setPen(colour);
    painter_.setTransform(place.Transform, true);
    painter_.drawText(place.Origin, string);
    painter_.restore();
}

QRect GraphCanvas::TextRect(double x, double y, const std::string& text, HAlign h, VAlign v,
                            GraphFont font) const {
    const QString string = QString::fromStdString(text);
    const TextPlacement place = Place(x, y, string, h, v, font);
    // Blanks at either end take room but leave no ink.
    const QFontMetrics metrics(*place.Font);
    qsizetype first = 0;
    while (first < string.size() && string[first].isSpace())
        ++first;
    const QString inked = string.mid(first).trimmed();
    const QRect ink = metrics.tightBoundingRect(inked);
    if (inked.isEmpty() || ink.isEmpty()) return {};
    const QPoint start = place.Origin + QPoint(metrics.horizontalAdvance(string.left(first)), 0);
    return place.Transform.mapRect(ink.translated(start));
}

} // namespace kv
