#include "ui/ToolBarIcons.h"

#include <QPainter>
#include <QPixmap>

#include "ui/CommandTable.h"

namespace kv {

namespace {

struct Glyph {
    int Id;
    const char* Text; // one to three characters drawn on the button
    QRgb Colour;
};

// Short, distinct marks for every tool-bar command.
const Glyph Glyphs[] = {
    {cmd::Run, "\u25b6", 0x008000},
    {cmd::Positions, "Pos", 0x804000},
    {cmd::Autostop, "\u25a0", 0xc00000},
    {cmd::Settings, "\u2699", 0x404040},
    {cmd::LoadProfile, "Pr", 0x000080},
    {cmd::MagPopup, "\u2194", 0x000080},
    {cmd::FeedPopup, "\u2195", 0x000080},
    {cmd::Centre, "\u2316", 0xc00000},
    {cmd::PaperTape, "\u2261", 0x806000},
    {cmd::ClearTape, "\u2205", 0x806000},
    {cmd::DiscardOdd, "\u00bd", 0x404040},
    {cmd::Pendulum, "\u25cb", 0x404040},
    {cmd::Lever, "L", 0x000080},
    {cmd::Coaxial1, "C", 0x000080},
    {cmd::TuningFork, "\u03a8", 0x000080},
    {cmd::CursorDisk, "\u25ce", 0x6060c0},
    {cmd::Waveform, "\u223f", 0x606060},
    {cmd::ZoomPopup, "Z", 0x606060},
    {cmd::Hpf, "HP", 0x008080},
    {cmd::EnableLogging, "Lg", 0x008000},
    {cmd::ClearLog, "Lx", 0xc00000},
    {cmd::ShowViewer, "\u2197", 0x008000},
    {cmd::Averaging, "Av", 0x0000c8},
    {cmd::ContextHelp, "?", 0x000000},
};

} // namespace

QIcon ToolBarIcon(int commandId) {
    QPixmap pixmap(16, 15);
    pixmap.fill(Qt::transparent);
    for (const Glyph& g : Glyphs) {
        if (g.Id != commandId) continue;
        QPainter p(&pixmap);
        QFont font(QStringLiteral("Arial"));
        const QString text = QString::fromUtf8(g.Text);
        font.setPixelSize(text.size() > 1 ? 9 : 13);
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor::fromRgb(g.Colour));
        p.drawText(pixmap.rect(), Qt::AlignCenter, text);
    }
    return QIcon(pixmap);
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
