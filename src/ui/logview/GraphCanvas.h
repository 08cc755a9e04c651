// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing in the log viewer's logical coordinates (x −1570 … 1570 left to right, y 1059 … −1061
// top to bottom at text scale 1, wider margins at a larger one: see GraphFrame) onto an image of
// any size. Text stays upright as the mapping flips y, so the
// canvas maps points itself and draws text in device pixels with a chosen alignment. Lines take
// the current raster operation; text and fills always paint over. User-interface thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTransform>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/logview/GraphFrame.h"

namespace kv {

enum class HAlign { Left, Centre, Right };
enum class VAlign { Top, Baseline, Bottom }; // Bottom: the font's descent ends at the point
enum class GraphFont { Main, Vertical };     // the vertical font reads upwards

// The device pixel of a logical point on an image of `size` at text scale 1.
QPoint LogicalToDevice(QSize size, double x, double y);

// A stored 0x00BBGGRR colour.
QColor ColorOf(uint32_t rgb);

class GraphCanvas {
public:
    GraphCanvas(QPainter& painter, const GraphFrame& frame);

    const GraphFrame& Frame() const { return frame_; }
    QPoint Map(double x, double y) const { return frame_.Map(x, y); }
    void SetPen(QColor colour, int logicalWidth);
    // One of the sixteen two-operand raster operations (13 copies the pen); others copy too.
    void SetRasterOp(int code) { rasterOp_ = code; }
    void Line(double x0, double y0, double x1, double y1);
    void Polyline(const std::vector<QPoint>& devicePoints);
    void FillRect(double left, double bottom, double right, double top, QColor colour);
    void Text(double x, double y, const std::string& text, HAlign h, VAlign v, QColor colour,
              GraphFont font);
    // The device pixels the ink of that text covers (empty for a blank text), measured with the
    // font's metrics: what keeps labels from overlapping.
    QRect TextRect(double x, double y, const std::string& text, HAlign h, VAlign v,
                   GraphFont font) const;

private:
    // Where Text draws: the font, the transformation from text coordinates to device pixels
    // (a move to the anchor, turned for the vertical font) and the baseline's start in them.
    struct TextPlacement {
        const QFont* Font;
        QTransform Transform;
        QPoint Origin;
    };
    TextPlacement Place(double x, double y, const QString& text, HAlign h, VAlign v,
                        GraphFont font) const;
    void BeginLines();

    QPainter& painter_;
    GraphFrame frame_;
    int rasterOp_;
};

} // namespace kv
