// SPDX-License-Identifier: GPL-3.0-or-later
// The repaint of the measuring view: draws the waveform, the paper tape, the cursor disk, the
// status block, the tooth chart, the unlock threshold and the readouts into an off-screen image,
// from the analysis state it reads under the analysis lock in short sections. The widget copies the
// image to the window.
#pragma once

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QSize>
#include <cstdint>
#include <vector>

#include "analysis/AnalysisCore.h"
#include "settings/AppSettings.h"
#include "ui/view/ViewDisplayState.h"

namespace kv {

class ViewRenderer {
public:
    ViewRenderer();

    // Redraws the whole view into `backBuffer`, which is (re)allocated only when its size differs
    // from `client`. Writes the hit rectangles and line heights into `state`. Never blocks on
    // the calibration lock: while another thread holds it the calibration text is left out.
    void Render(QImage& backBuffer, QSize client, const AnalysisCore& core,
                const AppSettings& settings, ViewDisplayState& state);

    // How many times the fonts were built; they are rebuilt only when a line height changes.
    int FontRebuildCount() const { return fontRebuilds_; }

private:
    struct Frame;
    struct Marker {
        int Index;
        bool Drop;
    };

    void EnsureFonts(QSize client, int cellFactor, ViewDisplayState& state);
    void BeginFrame(Frame& fr);

    // Waveform (scope)
    void DrawWaveform(Frame& fr);
    void CopyTrace(Frame& fr);
    void DrawEnvelope(Frame& fr);
    void DrawPolyline(Frame& fr);
    void DrawMarkers(Frame& fr);
    void DrawUnlockSpans(Frame& fr, int index, int x0);
    void DrawIntervalLabel(Frame& fr, const Marker& unlock, const Marker& drop);

    // Paper tape
    void ReadRateInputs(Frame& fr);
    void DrawTape(Frame& fr);
    void DrawTapeRows(Frame& fr, int bottom);
    void FlushTapeRow(Frame& fr, int y);
    void CollectTapeEntries(Frame& fr, long long first, long long end, int y);
    void DrawMarkedRow(Frame& fr);
    void DrawHoverText(Frame& fr);
    void DrawTapeDecorations(Frame& fr);
    void DrawCentringMark(Frame& fr);
    void DrawWindowBracket(Frame& fr);
    void DrawTapeWidthArrows(Frame& fr);
    void DrawDisk(Frame& fr);

    // Status block, tooth chart, threshold and readouts
    void DrawSignalNoise(Frame& fr);
    void DrawUpperStatusRows(Frame& fr);
    void DrawLowerStatusRows(Frame& fr);
    void DrawLowerRight(Frame& fr);
    void DrawDiagnostics(Frame& fr);
    void DrawToothChart(Frame& fr);
    void DrawToothScale(Frame& fr, const QRect& chart);
    void DrawUnlockThreshold(Frame& fr);
    void DrawReadouts(Frame& fr);
    void DrawTopRight(Frame& fr);
    void DrawStabilizing(Frame& fr);
    void DrawMiddle(Frame& fr);
    void DrawCalibrationText(Frame& fr);

    QFont small_, note_, large_, huge_;
    bool fontsExist_ = false;
    int storedL1_ = 0, storedL2_ = 0, storedL3_ = -1;
    int fontRebuilds_ = 0;

    QPen red_, black_, grey_, green_, blue_, lightGreen_, tapeOutline_, tooth_, currentTooth_;
    QBrush tapeBrush_;

    std::vector<int16_t> trace_;     // copy of the waveform trace taken under the analysis lock
    std::vector<Marker> markers_;    // the first 8 markers of the trace
    std::vector<uint8_t> columnMap_; // tape columns flagged in the current row
    std::vector<int> flagged_;       // the same columns as a list, to clear and draw them
};

} // namespace kv
