// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/TextScale.h"

#include <QFontInfo>
#include <QWidget>

namespace kv {

namespace {
// The pixel height of Qt's default 9 pt font at 96 dots per inch: the size the view's proportions
// were chosen with. A larger desktop font or a higher logical DPI grows the texts with it.
constexpr double ReferenceFontPixels = 12.0;
} // namespace

double TextScaleOf(const QWidget& widget) {
    const int pixels = QFontInfo(widget.font()).pixelSize();
    const double font = pixels > 0 ? pixels / ReferenceFontPixels : 1.0;
    return widget.devicePixelRatioF() * font;
}

} // namespace kv
