// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app/ToolBarIcons.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "ui/common/CommandTable.h"

namespace kv {

namespace {

struct Glyph {
    int Id;
    const char* Text; // one to three characters drawn on the button
    QRgb Colour;
};

// Short, distinct marks for the tool-bar commands (auto centring is drawn).
const Glyph Glyphs[] = {
    {cmd::Run, "\u25b6", 0x008000},        {cmd::Positions, "Pos", 0x804000},
    {cmd::Autostop, "\u25a0", 0xc00000},   {cmd::Settings, "\u2699", 0x404040},
    {cmd::LoadProfile, "Pr", 0x000080},    {cmd::MagPopup, "\u2194", 0x000080},
    {cmd::FeedPopup, "\u2195", 0x000080},  {cmd::PaperTape, "\u2261", 0x806000},
    {cmd::ClearTape, "\u2205", 0x806000},  {cmd::DiscardOdd, "\u00bd", 0x404040},
    {cmd::Pendulum, "\u25cb", 0x404040},   {cmd::Lever, "L", 0x000080},
    {cmd::Coaxial1, "C", 0x000080},        {cmd::TuningFork, "\u03a8", 0x000080},
    {cmd::CursorDisk, "\u25ce", 0x6060c0}, {cmd::Waveform, "\u223f", 0x606060},
    {cmd::ZoomPopup, "Z", 0x606060},       {cmd::Hpf, "HP", 0x008080},
    {cmd::EnableLogging, "Lg", 0x008000},  {cmd::ClearLog, "Lx", 0xc00000},
    {cmd::ShowViewer, "\u2197", 0x008000}, {cmd::Averaging, "Av", 0x0000c8},
    {cmd::ContextHelp, "?", 0x000000},
};

// The tool bar's buttons are 16 x 15 pixels.
constexpr int IconWidth = 16, IconHeight = 15;
// Glyph heights in pixels: one character fills the button, two or three stay inside it.
constexpr int SingleGlyphPixels = 13, MultiGlyphPixels = 9;
// A checked command's picture sits on a pale highlight inside a dark frame, in menus and on the
// tool bar alike, so its state shows at a glance.
constexpr QRgb CheckedFill = 0xffcfe3ff;
constexpr QRgb CheckedFrame = 0xff003c8c;
constexpr QRgb CentringRed = 0xc00000;

void DrawGlyph(QPainter& p, const Glyph& g, const QRect& area) {
    QFont font(QStringLiteral("Arial"));
    const QString text = QString::fromUtf8(g.Text);
    font.setPixelSize(text.size() > 1 ? MultiGlyphPixels : SingleGlyphPixels);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor::fromRgb(g.Colour));
    p.drawText(area, Qt::AlignCenter, text);
}

// Auto centring: two arrows pointing at a vertical datum line in the middle ("->|<-"). Drawn,
// since no common font has a centring sign.
void DrawCentring(QPainter& p) {
    const QColor red = QColor::fromRgb(CentringRed);
    const int mid = IconWidth / 2, centreY = IconHeight / 2;
    constexpr int LineHalf = 6;   // half the datum line's height
    constexpr int HeadLength = 4; // arrow head, along the arrow
    constexpr int HeadHalf = 3;   // arrow head, half its width
    p.fillRect(QRect(mid, centreY - LineHalf, 1, 2 * LineHalf + 1), red);
    p.setPen(Qt::NoPen);
    p.setBrush(red);
    for (const int side : {-1, 1}) {
        const int tip = mid + side; // next to the datum line
        const int base = tip + side * HeadLength;
        const int edge = side < 0 ? 0 : IconWidth - 1;
        p.fillRect(
            QRect(QPoint(std::min(base, edge), centreY), QPoint(std::max(base, edge), centreY)),
            red);
        const QPoint head[] = {
            {tip, centreY}, {base, centreY - HeadHalf}, {base, centreY + HeadHalf}};
        p.drawPolygon(head, 3);
    }
}

QPixmap Picture(int commandId, bool checked) {
    QPixmap pixmap(IconWidth, IconHeight);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    if (checked) {
        p.fillRect(pixmap.rect(), QColor::fromRgba(CheckedFill));
        p.setPen(QColor::fromRgba(CheckedFrame));
        p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    }
    if (commandId == cmd::Centre) {
        DrawCentring(p);
        return pixmap;
    }
    for (const Glyph& g : Glyphs)
        if (g.Id == commandId) DrawGlyph(p, g, pixmap.rect());
    return pixmap;
}

} // namespace

QIcon ToolBarIcon(int commandId) {
    QIcon icon;
    icon.addPixmap(Picture(commandId, false), QIcon::Normal, QIcon::Off);
    icon.addPixmap(Picture(commandId, true), QIcon::Normal, QIcon::On);
    return icon;
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(QPen(QColor(0x8a, 0x6d, 0x3b), 4));
        p.setBrush(QColor(255, 240, 213));
        p.drawEllipse(QPointF(32, 32), 24, 24);
        p.setPen(QPen(QColor(200, 63, 0), 3));
        const QPointF trace[] = {{14, 36}, {22, 36}, {25, 24}, {29, 44},
                                 {32, 30}, {35, 38}, {38, 36}, {50, 36}};
        p.drawPolyline(trace, 8);
        p.setPen(QPen(QColor(0, 0, 200), 3));
        p.drawLine(QPointF(32, 32), QPointF(32, 18));
        p.drawLine(QPointF(32, 32), QPointF(42, 26));
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace kv
