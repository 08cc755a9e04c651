// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/print/TapePrint.h"

#include <QPainter>
#include <algorithm>

#include "analysis/AnalysisCore.h"

namespace kv {

namespace {

constexpr int DotSize = 2; // printer pixels each side: a single pixel is too faint on paper

struct StripLayout {
    int Count = PortraitTapeStrips;
    int Width = 0;  // Ws
    int Height = 0; // Vp
};

StripLayout LayoutFor(QSize page) {
    StripLayout s;
    s.Count = page.height() < page.width() ? LandscapeTapeStrips : PortraitTapeStrips;
    s.Width = page.width() / s.Count;
    s.Height = page.height();
    return s;
}

// One printer pixel wide, filled rather than stroked, so each border covers exactly its column.
void DrawBorder(QPainter& painter, int x, int height) {
    painter.fillRect(x, 0, 1, height, Qt::black);
}

void DrawBorders(QPainter& painter, QSize page, const StripLayout& strips) {
    for (int k = 0; k < strips.Count; ++k)
        DrawBorder(painter, k * strips.Width, page.height());
    DrawBorder(painter, page.width() - 1, page.height());
}

// The printed row of the entry `age` slots older than the newest: screen rows at feed `feed`
// scaled to printer rows.
long long RowOffset(long long age, long long pageHeight, long long screenHeight, int feed) {
    const long long rows = age * pageHeight / screenHeight;
    return feed >= 1 ? rows / feed : rows * -static_cast<long long>(feed);
}

} // namespace

void DrawTapeStrips(QPainter& painter, QSize page, int screenHeight, const AnalysisCore& core) {
    const StripLayout strips = LayoutFor(page);
    if (strips.Width <= 0 || strips.Height <= 0) return;
    DrawBorders(painter, page, strips);

    const auto lock = core.HoldAnalysis();
    const TapeState& tape = core.Tape;
    const int feed = core.Settings.SlowFeed == 0 ? 1 : core.Settings.SlowFeed;
    const double magnification = core.Settings.Zoom;
    const long long vs = std::max(screenHeight, 1);
    const long long sheetRows = static_cast<long long>(strips.Count) * strips.Height;
    const long long newest = tape.TapeWriteIndex;
    const long long size = static_cast<long long>(tape.Entries.size());

    long long row = -1;
    int dotsInRow = 0;
    for (long long i = newest; i >= 1; --i) {
        if (i >= size) continue;
        const TapeEntry& entry = tape.Entries[static_cast<size_t>(i)];
        if (entry.Time == 0) continue;
        const long long b = RowOffset(newest - i, strips.Height, vs, feed);
        if (b >= sheetRows) break; // the sheet is full
        if (b != row) {
            row = b;
            dotsInRow = 0;
        }
        const int x0 = strips.Width * static_cast<int>(b / strips.Height);
        const int y = static_cast<int>(b % strips.Height);
        if (feed <= 1 || dotsInRow < MaxDotsPerCompressedRow) {
            const int c = static_cast<int>(TapeColumn(entry.Phase, magnification, strips.Width));
            painter.fillRect(x0 + c, y, DotSize, DotSize, Qt::black);
            ++dotsInRow;
        }
        if (!entry.Text.empty())
            painter.drawText(QRect(x0, y, page.width(), page.height()),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                             QString::fromStdString(entry.Text));
    }
}

} // namespace kv
