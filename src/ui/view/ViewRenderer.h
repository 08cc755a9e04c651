// SPDX-License-Identifier: GPL-3.0-or-later
// The repaint of the measuring view: copies what it shows from the analysis into one snapshot
// under a single short hold of the analysis lock, then draws the waveform, the paper tape, the
// cursor disk, the status block, the tooth chart, the unlock threshold and the readouts from it
// into an off-screen image. The widget copies the image to the window.
#pragma once

#include <QImage>
#include <QSize>

#include "analysis/AnalysisCore.h"
#include "calibration/CalibrationState.h"
#include "settings/AppSettings.h"
#include "ui/view/ViewDisplayState.h"
#include "ui/view/ViewPaint.h"
#include "ui/view/ViewSnapshot.h"

namespace kv {

class ViewRenderer {
public:
    // Redraws the whole view into `backBuffer`, which is (re)allocated only when its size or
    // pixel ratio differs: `client` logical pixels drawn at `pixelRatio` image pixels each, so
    // that a scaled screen gets a sharp picture. Writes the hit rectangles and line heights (in
    // logical pixels) into `state`. Never blocks on the calibration lock: while another thread
    // holds it the calibration text is left out.
    void Render(QImage& backBuffer, QSize client, const AnalysisCore& core,
                const CalibrationState& calibration, const AppSettings& settings,
                ViewDisplayState& state, double pixelRatio = 1.0);

    // How many times the fonts were built; they are rebuilt only when a line height changes.
    int FontRebuildCount() const { return fontRebuilds_; }

    // The analysis values the latest repaint drew.
    const ViewSnapshot& Snapshot() const { return snapshot_; }

private:
    void EnsureFonts(QSize client, int cellFactor, ViewDisplayState& state);

    ViewFonts fonts_;
    bool fontsExist_ = false;
    int smallLine_ = 0, largeLine_ = 0, wholeLine_ = -1;
    int fontRebuilds_ = 0;
    ViewPens pens_;
    ViewSnapshot snapshot_;   // refilled each repaint; its buffers keep their capacity
    TapeRowScratch tapeRows_; // likewise for the tape's row of dots
};

} // namespace kv
