// SPDX-License-Identifier: GPL-3.0-or-later
// State of the measuring view that lives on the user-interface thread: what the window code hands
// to the repaint (mouse, keyboard, playback and mixer state, the cursor disk) and what the repaint
// hands back (the hit rectangles of the drawn elements and the line heights).
#pragma once

#include <QPoint>
#include <QRect>
#include <array>
#include <cstdint>
#include <string>

#include "ui/view/TapeScroll.h"

namespace kv {

inline constexpr int DiskChordCount = 9;

// The cursor disk: rotation, the radius the chords were computed for, and the chords as pixel
// offsets from the disk centre.
struct CursorDiskRecord {
    double Theta = 0.0;  // radians
    double Radius = 0.0; // pixels
    std::array<QPoint, DiskChordCount> ChordStart{};
    std::array<QPoint, DiskChordCount> ChordEnd{};
};

struct ViewDisplayState {
    // --- Inputs, set by the window code before a repaint ---
    bool ManualCursorDisk = false;  // the user turns the disk instead of the rate
    double ToothChartScale = 100.0; // K
    std::string HoverText;          // drawn beside the pointer over the tape
    bool PointerOverTape = false;
    QPoint PointerPosition;   // client coordinates
    TapeScroll Scroll;        // read and set under the analysis lock
    bool TapeMarking = false; // right-button time marking on the tape in progress
    QPoint MarkedRow;         // client position where the marking started
    uint64_t MarkedTime = 0;  // 100 ns since 1601-01-01 UTC
    bool CtrlHeld = false;    // shows the diagnostic overlay instead of the tooth chart
    bool PlayingBack = false;
    bool Recording = false;
    int LoopCount = 0;
    std::string FaderDiagnosticText; // the microphone fader's binding diagnostics
    CursorDiskRecord Disk;
    // How much larger than at scale 1 with the reference font the texts should be: the screen's
    // scale factor times the user's font size over the reference size. The readouts and status
    // lines grow by it as far as the window leaves them room.
    double TextScale = 1.0;

    // --- Outputs, written by every repaint; empty when the element is not drawn ---
    QRect TapeRect;
    QRect DiskGripRect;
    QRect PreUnlockRect;
    QRect PostUnlockRect;
    QRect ToothChartRect;
    int L1 = 0; // small line height, H/(6k)
    int L2 = 0; // large line height, H/(4k)
    int L3 = 0; // H/k
};

} // namespace kv
