// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/TapeCursors.h"

#include <QPainter>
#include <QPixmap>
#include <functional>

namespace kv {

namespace {

constexpr int Size = 32;
constexpr int Hot = 15;

// Draws `shape` twice: thick in white for the halo, then thin in black.
QCursor MakeCursor(const std::function<void(QPainter&)>& shape) {
    QPixmap picture(Size, Size);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::SquareCap));
    shape(p);
    p.setPen(QPen(Qt::black, 1, Qt::SolidLine, Qt::SquareCap));
    shape(p);
    p.end();
    return QCursor(picture, Hot, Hot);
}

} // namespace

// A bar across the row with short end stops: |----+----|
QCursor TapeCursor() {
    return MakeCursor([](QPainter& p) {
        p.drawLine(Hot - 11, Hot, Hot + 11, Hot);
        p.drawLine(Hot - 11, Hot - 4, Hot - 11, Hot + 4);
        p.drawLine(Hot + 11, Hot - 4, Hot + 11, Hot + 4);
        p.drawLine(Hot, Hot - 2, Hot, Hot + 2);
    });
}

// The row bar with arrows pointing up and down the tape, toward the rows being measured to.
QCursor MarkingCursor() {
    return MakeCursor([](QPainter& p) {
        p.drawLine(Hot - 8, Hot, Hot + 8, Hot);
        p.drawLine(Hot, Hot - 12, Hot, Hot + 12);
        for (int dir : {-1, 1}) {
            const int tip = Hot + dir * 12;
            p.drawLine(Hot, tip, Hot - 4, tip - dir * 4);
            p.drawLine(Hot, tip, Hot + 4, tip - dir * 4);
        }
    });
}

} // namespace kv
