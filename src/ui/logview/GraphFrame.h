// SPDX-License-Identifier: GPL-3.0-or-later
// Where the log viewer's picture lies on an image of a given size: the logical coordinates (the
// plot area x −1500 … 1500, y −1000 … 1000, y upwards) mapped onto the image's pixels, the fonts,
// and the margins around the plot that hold the title, the clock, the scale ranges and the
// footer. The texts are sized in proportion to the image's height and grown by the text scale
// (the screen's scale factor times the font size, see TextScaleOf) as far as the image leaves
// room; each margin grows by as much as the measured height of the texts in it, so larger texts
// stay off the plot and on the image. At text scale 1 the frame is the fixed logical system of
// GraphLayout.h and the picture is as it always was. User-interface thread only.
#pragma once

#include <QFont>
#include <QPoint>
#include <QPointF>
#include <QSize>

namespace kv {

class GraphFrame {
public:
    explicit GraphFrame(QSize size, double textScale = 1.0);

    QSize Size() const { return size_; }
    // The device pixel of a logical point, and the logical point of a device pixel.
    QPoint Map(double x, double y) const;
    QPointF Unmap(QPointF device) const;
    // The logical coordinates of the image's edges.
    double Left() const { return left_; }
    double Right() const { return left_ + width_; }
    double Top() const { return top_; }
    double Bottom() const { return top_ - height_; }
    // A length of `units` logical units at text scale 1 that keeps its size next to the texts:
    // grown as they are, in this frame's logical units.
    double TextX(double units) const;
    double TextY(double units) const;
    // Device pixels per logical unit across.
    double PixelsPerUnitX() const;

    const QFont& MainFont() const { return main_; }
    const QFont& VerticalFont() const { return vertical_; }

private:
    QSize size_;
    QFont main_;
    QFont vertical_;
    double growth_ = 1.0; // the main font's pixel size over its size at text scale 1
    double left_, top_, width_, height_;
};

} // namespace kv
