// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/ScreenFit.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace kv {

namespace {

// Room the window manager's frame and title bar take around a dialog, in logical pixels.
constexpr int FrameAllowance = 16;
constexpr int TitleAllowance = 40;

QSize ScreenRoom(const QWidget& widget) {
    const QScreen* screen = widget.screen() ? widget.screen() : QGuiApplication::primaryScreen();
    if (!screen) return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    const QSize free = screen->availableGeometry().size();
    return {std::max(free.width() - FrameAllowance, 1),
            std::max(free.height() - TitleAllowance, 1)};
}

} // namespace

QScrollArea* ScrollingDialogLayout(QDialog& dialog, QWidget* content, QLayout* buttons) {
    auto* column = new QVBoxLayout(&dialog);
    auto* scroll = new QScrollArea(&dialog);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    column->addWidget(scroll, 1);
    column->addLayout(buttons);

    // The natural size: the whole content and the buttons, plus a scroll bar where the screen
    // is too low for the content.
    const QMargins m = column->contentsMargins();
    const QSize inner = content->sizeHint();
    const QSize row = buttons->sizeHint();
    QSize whole(std::max(inner.width(), row.width()) + m.left() + m.right(),
                inner.height() + column->spacing() + row.height() + m.top() + m.bottom());
    const QSize room = ScreenRoom(dialog);
    if (whole.height() > room.height())
        whole.rwidth() += dialog.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    dialog.resize(whole.boundedTo(room));
    return scroll;
}

void FitToScreen(QWidget& window) {
    window.resize(window.size().boundedTo(ScreenRoom(window)));
}

} // namespace kv
