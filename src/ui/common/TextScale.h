// SPDX-License-Identifier: GPL-3.0-or-later
// How much larger than at scale 1 with the default font the painted texts of a widget should
// be: the screen's scale factor (QT_SCALE_FACTOR, the desktop's scaling) times the widget's font
// size over the reference size. Pictures drawn in proportion to the window grow their texts by it
// so that they keep pace with the menus, tool bars and dialogs.
#pragma once

class QWidget;

namespace kv {

double TextScaleOf(const QWidget& widget);

} // namespace kv
