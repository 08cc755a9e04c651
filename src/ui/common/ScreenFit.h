// SPDX-License-Identifier: GPL-3.0-or-later
// Dialogs that fit any screen: the content scrolls inside the dialog while the buttons stay below
// it, always visible, and the dialog opens no larger than the screen's free area.
#pragma once

class QDialog;
class QLayout;
class QScrollArea;
class QWidget;

namespace kv {

// Lays out `dialog` as `content` in a scroll area above `buttons`, and gives it its content's
// natural size, bounded by the available area of its screen.
QScrollArea* ScrollingDialogLayout(QDialog& dialog, QWidget* content, QLayout* buttons);

// Bounds a window's present size to the available area of its screen.
void FitToScreen(QWidget& window);

} // namespace kv
