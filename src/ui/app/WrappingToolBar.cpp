// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app/WrappingToolBar.h"

#include <QAction>
#include <QFrame>
#include <QToolButton>

#include "ui/bars/FlowLayout.h"

namespace kv {

namespace {

// The pictures are drawn for 16x15 logical pixels, the size of the original button bitmaps.
constexpr QSize ButtonPicture(16, 15);
// Room left and right of a separator line, in logical pixels, as a tool bar's own separator has.
constexpr int SeparatorMargin = 3;

} // namespace

WrappingToolBar::WrappingToolBar(const QString& title, QWidget* parent)
    : QToolBar(title, parent), Row(new FlowWidget(this)) {
    setIconSize(ButtonPicture);
    Row->Flow()->setSpacing(0); // buttons side by side, as in a tool bar of their own
    addWidget(Row);
}

void WrappingToolBar::AddButton(QAction* action) {
    auto* button = new QToolButton(Row);
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setIconSize(ButtonPicture);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setFocusPolicy(Qt::NoFocus);
    Row->Flow()->addWidget(button);
    Actions.append(action);
}

void WrappingToolBar::AddSeparator() {
    auto* line = new QFrame(Row);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setContentsMargins(SeparatorMargin, 0, SeparatorMargin, 0);
    line->setMinimumHeight(ButtonPicture.height());
    Row->Flow()->addWidget(line);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    Actions.append(separator);
}

} // namespace kv
