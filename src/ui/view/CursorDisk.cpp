// SPDX-License-Identifier: GPL-3.0-or-later
// Cursor disk chords and drawing.
#include "ui/view/CursorDisk.h"

#include <QPainter>
#include <cmath>

#include "analysis/AnalysisParameters.h"

namespace kv {

namespace {

const QColor DiskColour(200, 200, 255);
const QColor GripColour(180, 180, 255);

int RoundPixel(double v) {
    return std::isfinite(v) ? static_cast<int>(RoundHalfAway(v)) : 0;
}

} // namespace

void UpdateDiskChords(CursorDiskRecord& disk) {
    const double r = disk.Radius;
    const double s = std::sin(disk.Theta);
    const double c = std::cos(disk.Theta);
    for (int k = 0; k < DiskChordCount; ++k) {
        if (!(r > 0.0)) {
            disk.ChordStart[k] = disk.ChordEnd[k] = QPoint();
            continue;
        }
        const double b = 0.2 * (k - 4) * r;
        const double half = r * std::cos(1.16 * b / r);
        const QPoint centre(RoundPixel(c * b), RoundPixel(-s * b));
        const QPoint reach(RoundPixel(s * half), RoundPixel(c * half));
        disk.ChordStart[k] = centre - reach;
        disk.ChordEnd[k] = centre + reach;
    }
}

QRect DrawCursorDisk(QPainter& painter, const QRect& bounds, bool manual, CursorDiskRecord& disk) {
    const int xc = bounds.left() + bounds.width() / 2;
    const int yc = bounds.top() + bounds.height() / 2;
    const double r = std::min(bounds.width() / 2.0, bounds.height() / 2.0);
    if (r != disk.Radius) {
        disk.Radius = r;
        UpdateDiskChords(disk);
    }
    const int h = RoundPixel(r);
    const QRect circle(xc - h, yc - h, 2 * h, 2 * h);

    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(DiskColour, 0));
    painter.drawEllipse(circle);
    const QPoint centre(xc, yc);
    for (int k = 0; k < DiskChordCount; ++k)
        painter.drawLine(centre + disk.ChordStart[k], centre + disk.ChordEnd[k]);
    if (manual) {
        // From the radial through (2s, s) counter-clockwise to the one through (2s, -s).
        const int s = (2 * h) / 16;
        const double start = std::atan2(-1.0, 2.0) * 180.0 / M_PI;
        painter.setPen(QPen(GripColour, 6, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(circle.adjusted(s, s, -s, -s), RoundPixel(start * 16),
                        RoundPixel(-2 * start * 16));
    }
    painter.restore();
    return circle;
}

} // namespace kv
