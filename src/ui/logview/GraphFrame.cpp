// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logview/GraphFrame.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>

#include "ui/logview/GraphLayout.h"

namespace kv {

namespace {

constexpr int kMainFontHeight = 60;     // logical units at text scale 1
constexpr int kVerticalFontHeight = 40; // logical units at text scale 1
// The main font's pixel height stays below this share of the image's height, so that a large
// text scale on a small window still leaves the strips most of the picture.
constexpr double kMaxMainFontShare = 1.0 / 14;
// The margins at text scale 1, in logical units: what the fixed logical system leaves around
// the plot.
constexpr double kSideMargin = PlotLeft - LogicalLeft;
constexpr double kTopMargin = LogicalTop - PlotTop;
constexpr double kBottomMargin = PlotBottom - (LogicalTop - LogicalHeight);

// The tallest letters and figures of the titles and times: the ink the top margin must hold.
const char* const kTallGlyphs = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZbdfhklt";

QFont GraphFontOfHeight(double pixels) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    return font;
}

// What a line of text of that font takes across its lines: ascent and descent.
int LineHeight(const QFont& font) {
    const QFontMetrics metrics(font);
    return metrics.ascent() + metrics.descent();
}

} // namespace

GraphFrame::GraphFrame(QSize size, double textScale)
    : size_(size), left_(LogicalLeft), top_(LogicalTop), width_(LogicalWidth),
      height_(LogicalHeight) {
    const double pixelsX = std::max(0, size.width() - 1);
    const double pixelsY = std::max(0, size.height() - 1);
    const double unitX = pixelsX / LogicalWidth; // device pixels per logical unit at scale 1
    const double unitY = pixelsY / LogicalHeight;
    const QFont baseMain = GraphFontOfHeight(kMainFontHeight * unitY);
    const QFont baseVertical = GraphFontOfHeight(kVerticalFontHeight * unitY);
    // The same rule as the measuring view's: never smaller than at scale 1, and as far as the
    // image leaves room.
    const double grow = std::isfinite(textScale) ? std::max(textScale, 1.0) : 1.0;
    const double room = std::max(kMainFontHeight * unitY, kMaxMainFontShare * pixelsY);
    main_ = GraphFontOfHeight(std::min(kMainFontHeight * unitY * grow, room));
    growth_ = static_cast<double>(main_.pixelSize()) / baseMain.pixelSize();
    vertical_ = GraphFontOfHeight(kVerticalFontHeight * unitY * growth_);

    // The side margins hold the vertical scale ranges, the top one the title and the clock, the
    // bottom one the start and span labels.
    const int sideGrowth = LineHeight(vertical_) - LineHeight(baseVertical);
    const int mainGrowth = LineHeight(main_) - LineHeight(baseMain);
    const double side = kSideMargin * unitX + sideGrowth;
    // The title and the clock stand on the font's descent above the plot: their tallest ink
    // must fit above that, which the fixed margin misses by a pixel at some heights.
    const QFontMetrics mainMetrics(main_);
    const int headerInk =
        mainMetrics.descent() - mainMetrics.tightBoundingRect(QLatin1String(kTallGlyphs)).top();
    const double top = std::max(kTopMargin * unitY + mainGrowth, static_cast<double>(headerInk));
    const double bottom = kBottomMargin * unitY + mainGrowth;
    const double plotX = (pixelsX - 2 * side) / PlotWidth;
    const double plotY = (pixelsY - top - bottom) / PlotHeight;
    // Margins as at scale 1 keep the fixed system exactly; an image too small for grown ones too.
    if (sideGrowth > 0 && plotX > 0) {
        left_ = PlotLeft - side / plotX;
        width_ = PlotWidth + 2 * side / plotX;
    }
    if ((mainGrowth > 0 || top > kTopMargin * unitY) && plotY > 0) {
        top_ = PlotTop + top / plotY;
        height_ = PlotHeight + (top + bottom) / plotY;
    }
}

QPoint GraphFrame::Map(double x, double y) const {
    const double dx = (x - left_) * (size_.width() - 1) / width_;
    const double dy = (top_ - y) * (size_.height() - 1) / height_;
    return {static_cast<int>(std::lround(dx)), static_cast<int>(std::lround(dy))};
}

QPointF GraphFrame::Unmap(QPointF device) const {
    const double x = device.x() * width_ / std::max(1, size_.width() - 1) + left_;
    const double y = top_ - device.y() * height_ / std::max(1, size_.height() - 1);
    return {x, y};
}

double GraphFrame::TextX(double units) const {
    return units * growth_ * width_ / LogicalWidth;
}

double GraphFrame::TextY(double units) const {
    return units * growth_ * height_ / LogicalHeight;
}

double GraphFrame::PixelsPerUnitX() const {
    return (size_.width() - 1) / width_;
}

} // namespace kv
