// SPDX-License-Identifier: GPL-3.0-or-later
// The whole paper tape printed as a row of vertical strips on one sheet: newest entry at the top
// of the leftmost strip, each strip continuing at the top of the next. User-interface thread;
// reads the tape under the analysis lock for the whole walk.
#pragma once

#include <QSize>

class QPainter;

namespace kv {

class AnalysisCore;

// Strips on a sheet: more side by side when the sheet is wider than high.
inline constexpr int PortraitTapeStrips = 5;
inline constexpr int LandscapeTapeStrips = 7;
// With several entries to a printed row, a row holds at most this many dots, so a compressed
// feed prints a readable trace instead of a black bar.
inline constexpr int MaxDotsPerCompressedRow = 8;

// Draws the strips' borders and the tape of `core` onto `page` (printer pixels). One pixel row of
// the tape on a screen `screenHeight` pixels high becomes page height / screen height printed
// rows, so the tape keeps its screen proportions on the sheet.
void DrawTapeStrips(QPainter& painter, QSize page, int screenHeight, const AnalysisCore& core);

} // namespace kv
