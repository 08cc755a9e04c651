// SPDX-License-Identifier: GPL-3.0-or-later
// The cursor disk: a transparent disk of parallel chords over the top of the paper tape. Turned
// to the rate's angle, its chords run parallel to the dot trail, so the rate can be read off (or,
// turned by hand, the disk measures the slope of the trail).
#pragma once

#include <QRect>

#include "ui/view/ViewDisplayState.h"

class QPainter;

namespace kv {

// Recomputes the 9 chords from the disk's radius and angle. Called whenever either changes.
void UpdateDiskChords(CursorDiskRecord& disk);

// Draws the disk inscribed in `bounds` with the AND (mask) raster operation so that the tape
// shows through; in manual mode adds the grip arc at the right-hand side. Updates the radius and
// chords when the size changed. Returns the square of the drawn circle.
QRect DrawCursorDisk(QPainter& painter, const QRect& bounds, bool manual, CursorDiskRecord& disk);

} // namespace kv
