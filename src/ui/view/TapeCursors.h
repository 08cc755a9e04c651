// SPDX-License-Identifier: GPL-3.0-or-later
// The two pointer shapes of the paper tape, drawn here rather than taken from the system: the tape
// pointer, a row reader whose horizontal bar marks the tape row whose time is read out, and the
// marking pointer shown while a right-button drag measures the time between two rows.
#pragma once

#include <QCursor>

namespace kv {

// Both are 32 x 32 pixels with the hot spot at (15, 15), black on a white halo so that they show
// on the tape's paper colour as well as on its dots.
QCursor TapeCursor();
QCursor MarkingCursor();

} // namespace kv
