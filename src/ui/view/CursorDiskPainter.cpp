// SPDX-License-Identifier: GPL-3.0-or-later
// The cursor disk over the top of the tape: turned to the rate's angle unless the user turns it.
#include <cmath>

#include "ui/view/CursorDisk.h"
#include "ui/view/ViewPaint.h"
#include "ui/view/ViewSnapshot.h"

namespace kv {

void TurnCursorDisk(PaintContext& c, const ViewSnapshot& s) {
    // How far the dot trail moves across the tape per beat for a rate of 1: one row holds
    // BeatsPerBuffer beats (times the feed), a full width a quarter beat at magnification 1.
    const double perRow = static_cast<double>(s.BeatsPerBuffer) * c.Width * s.TapeMagnification;
    c.CursorGain = s.Feed >= 1 ? perRow * s.Feed : perRow / -s.Feed;
    if (!c.State.ManualCursorDisk) {
        c.State.Disk.Theta = -std::atan(s.Rate * c.CursorGain);
        UpdateDiskChords(c.State.Disk);
    }
}

// The disk's radius is 2/3 of the tape's width and its top edge a fifth of that width above the
// window, so the chords cross the newest rows.
void PaintCursorDisk(PaintContext& c) {
    if (!c.TapeShown || !c.Settings.CursorDisk) return;
    const int radius = c.Tape.Width() * 2 / 3;
    const int top = c.Tape.Width() / -5;
    const QRect bounds = Edges(c.Width / 2 - radius, top, c.Width / 2 + radius, top + 2 * radius);
    QRect grip = DrawCursorDisk(c.P, bounds, c.State.ManualCursorDisk, c.State.Disk);
    grip.setLeft(c.Width / 2);
    c.State.DiskGripRect = grip;
}

} // namespace kv
