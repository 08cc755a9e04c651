// SPDX-License-Identifier: GPL-3.0-or-later
// The paper tape: its strip ANDed over the waveform, a dot per tick at its phase (newest row at the
// top), the notes, the time marking and hover texts, and the decorations around it (the scroll
// triangle, the centring arrows, the measuring window's bracket and the tape-width arrows).
#include <algorithm>
#include <vector>

#include "ui/view/StatusText.h"
#include "ui/view/ViewPaint.h"
#include "ui/view/ViewSnapshot.h"

namespace kv {

namespace {

// The scroll triangle: 5 pixels either side of the centre, from 13/16 down to 7/8 of the height.
constexpr int ScrollTriangleHalfWidth = 5;
// Arrow heads: 10 pixels long, 5 (centring) or 3 (tape width) either side of the shaft.
constexpr int ArrowHeadLength = 10;
constexpr int CentringHeadSpread = 5;
constexpr int WidthHeadSpread = 3;
// The bracket's hooks turn back 3 pixels across and 5 along; it is drawn 2 pixels thick.
constexpr int BracketHookAcross = 3;
constexpr int BracketHookAlong = 5;
constexpr int BracketThickness = 2;

// The dots of one row at a time, in buffers the renderer keeps between repaints.
class RowDots {
public:
    explicit RowDots(TapeRowScratch& scratch) : flags_(scratch.Flags), flagged_(scratch.Flagged) {}
    void Reset(int width) {
        flags_.assign(static_cast<size_t>(std::max(width, 0)), 0);
        flagged_.clear();
    }
    void Flag(int column) {
        uint8_t& flag = flags_[static_cast<size_t>(column)];
        if (!flag) flagged_.push_back(column);
        flag = 1;
    }
    // Writes the row's dots straight into the image: several entries on one pixel cost one write.
    // A dot covers its logical pixel's image pixels; at ratio 1 that is one pixel of the row.
    void Flush(PaintContext& c, int y) {
        const bool onImage = y >= 0 && y < c.Height;
        const bool onePixel = c.Image.devicePixelRatio() == 1.0;
        QRgb* line = onImage && onePixel ? reinterpret_cast<QRgb*>(c.Image.scanLine(y)) : nullptr;
        for (int column : flagged_) {
            flags_[static_cast<size_t>(column)] = 0;
            const int x = c.Tape.Left + column;
            if (!onImage || x < 0 || x >= c.Width) continue;
            if (line)
                line[x] = qRgb(0, 0, 0);
            else
                FillPixels(c.Image, QRect(x, y, 1, 1), qRgb(0, 0, 0));
        }
        flagged_.clear();
    }

private:
    std::vector<uint8_t>& flags_;
    std::vector<int>& flagged_;
};

// Flags the dots of entries first ... end-1 and draws their notes on row y.
void CollectEntries(PaintContext& c, const ViewSnapshot& s, RowDots& dots, long long first,
                    long long end, int y) {
    for (long long i = first; i < end; ++i) {
        const int column = s.TapeColumnOf(i);
        if (column >= 0 && column < s.TapeWidth) dots.Flag(column);
    }
    const auto notesEnd = s.TapeNotes.begin() + static_cast<std::ptrdiff_t>(s.TapeNoteCount);
    auto note =
        std::lower_bound(s.TapeNotes.begin(), notesEnd, first,
                         [](const ViewSnapshot::TapeNote& n, long long i) { return n.Entry < i; });
    for (; note != notesEnd && note->Entry < end; ++note)
        DrawText(c.P, c.Tape.Left - 1, y, note->Text, Align::Left, colours::Note);
}

// Newest entries at the top. With a feed f >= 1 each pixel row gathers f entries; with f <= -1
// each entry has a row of its own, -f rows apart.
void DrawRows(PaintContext& c, const ViewSnapshot& s, RowDots& dots, int bottom) {
    if (c.Tape.Width() <= 0) return;
    dots.Reset(c.Tape.Width());
    const long long newest = s.TapeEnd, feed = s.Feed;
    if (feed >= 1) {
        for (int y = 0; y < bottom - 2; ++y) {
            const long long first = feed * (newest / feed - y);
            const long long end = std::min({first + feed, s.TapeWrite, s.TapeSize});
            if (first >= 0) CollectEntries(c, s, dots, first, end, y);
            dots.Flush(c, y);
        }
        return;
    }
    for (int y = 0; y < bottom - 2; y += static_cast<int>(-feed)) {
        const long long i = (feed * newest + y) / feed;
        if (i < 0 || i >= s.TapeSize) break;
        CollectEntries(c, s, dots, i, i + 1, y);
        dots.Flush(c, y);
    }
}

void DrawMarkedRow(PaintContext& c) {
    const int y = c.State.MarkedRow.y();
    c.P.setPen(c.Pens.Blue);
    c.P.drawLine(c.Tape.Left, y, c.Tape.Right, y);
    DrawText(c.P, c.Tape.Right, y, ClockTimeText(c.State.MarkedTime), Align::Left, colours::Note);
}

void DrawHoverText(PaintContext& c) {
    const ViewDisplayState& state = c.State;
    if (state.HoverText.empty() || !state.PointerOverTape) return;
    const int y = std::clamp(state.PointerPosition.y(), 0, std::max(0, c.Height - c.SmallLine));
    DrawText(c.P, state.PointerPosition.x() + c.SmallLine, y, state.HoverText, Align::Left,
             colours::Note);
}

void DrawCentringMark(PaintContext& c) {
    QPainter& p = c.P;
    const int W = c.Width, H = c.Height, y = H * 7 / 16;
    p.setPen(c.Pens.Red);
    DrawArrow(p, {W * 7 / 8, y}, {W * 5 / 8, y}, ArrowHeadLength, CentringHeadSpread);
    DrawArrow(p, {W / 8, y}, {W * 3 / 8, y}, -ArrowHeadLength, CentringHeadSpread);
    p.drawLine(W / 2, H * 5 / 16, W / 2, H * 9 / 16);
}

// Two lines at the tape's right edge as long as the measuring window: green when the window is
// full, blue while it fills.
void DrawWindowBracket(PaintContext& c, const ViewSnapshot& s) {
    const double perRow = s.BeatsPerBuffer;
    const double beats = s.BracketSeconds / s.BeatPeriod;
    const int length = s.BracketEmpty ? 0
                       : s.Feed >= 1  ? TruncPixel(beats / s.Feed / perRow + 0.5)
                                      : TruncPixel(0.5 - beats * s.Feed / perRow);
    const int x = c.Width * 5 / 8;
    c.P.setPen(s.RateWindowFull ? c.Pens.Green : c.Pens.Blue);
    for (int dx = 0; dx < BracketThickness; ++dx) {
        const QPoint line[] = {{x + BracketHookAcross + dx, BracketHookAlong},
                               {x + dx, 0},
                               {x + dx, length},
                               {x + BracketHookAcross + dx, length - BracketHookAlong}};
        c.P.drawPolyline(line, 4);
    }
}

void DrawTapeWidthArrows(PaintContext& c, const ViewSnapshot& s) {
    QPainter& p = c.P;
    const int W = c.Width, y = c.Height / 64;
    p.setPen(c.Pens.Green);
    DrawArrow(p, {W * 21 / 32, y}, {W * 5 / 8, y}, ArrowHeadLength, WidthHeadSpread);
    DrawArrow(p, {W * 11 / 32, y}, {W * 3 / 8, y}, -ArrowHeadLength, WidthHeadSpread);
    DrawText(p, W * 21 / 32, y - c.SmallLine / 2, TapeWidthLabel(s.BeatPeriod, s.TapeMagnification),
             Align::Left, c.StatusColour);
}

} // namespace

void PaintTape(PaintContext& c, const ViewSnapshot& s) {
    if (!c.TapeShown) return;
    const int bottom = TapeBottom(s.TapeEnd, s.Feed, c.Height);
    const int left = c.Tape.Left - 1, right = c.Tape.Right;
    c.State.TapeRect = Edges(left, 0, right, bottom);
    if (bottom > 0) {
        // AND the tape over what is drawn, so the waveform shows through it.
        const QRgb outline = c.Pens.TapeOutline.color().rgb();
        AndRect(c.Image, Edges(left + 1, 1, right - 1, bottom - 1), c.Pens.TapeFill.color().rgb());
        AndRect(c.Image, Edges(left, 0, right, 1), outline);
        AndRect(c.Image, Edges(left, bottom - 1, right, bottom), outline);
        AndRect(c.Image, Edges(left, 0, left + 1, bottom), outline);
        AndRect(c.Image, Edges(right - 1, 0, right, bottom), outline);
    }
    c.P.setPen(c.Pens.Black);
    c.P.setFont(c.Fonts.Note);
    RowDots dots(c.TapeRows);
    DrawRows(c, s, dots, bottom);
    if (c.State.TapeMarking) DrawMarkedRow(c);
    DrawHoverText(c);
}

void PaintTapeDecorations(PaintContext& c, const ViewSnapshot& s) {
    if (!c.TapeShown) return;
    const int H = c.Height, cx = c.CentreX;
    if (s.TapeScrolled) {
        c.P.setPen(c.Pens.Red);
        const int w = ScrollTriangleHalfWidth;
        const QPoint triangle[] = {
            {cx - w, H * 13 / 16}, {cx, H * 7 / 8}, {cx + w, H * 13 / 16}, {cx - w, H * 13 / 16}};
        c.P.drawPolyline(triangle, 4);
    }
    if (s.CentringCountdown != 0) DrawCentringMark(c);
    DrawWindowBracket(c, s);
    DrawTapeWidthArrows(c, s);
}

} // namespace kv
