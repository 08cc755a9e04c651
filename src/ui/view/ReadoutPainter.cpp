// SPDX-License-Identifier: GPL-3.0-or-later
// The readouts at the top left (rate, amplitude, beat error, stabilizing position), the texts at
// the top right (file or title, recording state), the prompt or frozen notice in the middle and the
// calibration's lines below the top right block.
#include <QFontMetrics>
#include <algorithm>

#include "ui/view/StatusText.h"
#include "ui/view/ViewPaint.h"
#include "ui/view/ViewSnapshot.h"

namespace kv {

namespace {

// The top right texts end this far from the window's right edge.
constexpr int TopRightMargin = 20;

// The label with the path shortened to `width` pixels: folders nearest the root give way first,
// then the middle of the file name.
QString ElidedPathLabel(const TopRightTexts& texts, const QFontMetrics& metrics, int width) {
    const QString whole = QString::fromStdString(texts.Line0);
    if (texts.PathStart == std::string::npos || metrics.horizontalAdvance(whole) <= width)
        return whole;
    const QString label = whole.left(static_cast<int>(texts.PathStart));
    const QString path = whole.mid(static_cast<int>(texts.PathStart));
    const int slash = static_cast<int>(path.lastIndexOf(QLatin1Char('/')));
    const QString name = path.mid(slash + 1);
    const int forFolders = width - metrics.horizontalAdvance(label + QLatin1Char('/') + name);
    const QString folders =
        metrics.elidedText(path.left(std::max(slash, 0)), Qt::ElideLeft, std::max(forFolders, 0));
    if (slash >= 0 && !folders.isEmpty()) return label + folders + QLatin1Char('/') + name;
    return metrics.elidedText(label + name, Qt::ElideMiddle, width);
}

} // namespace

void PaintReadouts(PaintContext& c, const ViewSnapshot& s) {
    QPainter& p = c.P;
    RateReadoutInputs in;
    in.WindowSamples = s.WindowSamples;
    in.Averaging = s.Averaging;
    in.ManualCursor = c.State.ManualCursorDisk;
    in.CursorRate = CursorRate(c.State.Disk.Theta, c.CursorGain);
    in.Rate = s.Rate;
    in.WindowFull = s.RateWindowFull;
    const RateReadout rate = RateReadoutText(in);
    p.setFont(c.Fonts.Large);
    const QColor valid =
        s.Current || in.ManualCursor ? colours::ReadoutBlue : colours::ReadoutStale;
    DrawText(p, ReadoutLeft, 0, rate.Text, Align::Left,
             rate.Orange && valid == colours::ReadoutBlue ? colours::ReadoutOrange : valid);
    const QColor readings = s.Current ? colours::ReadoutBlue : colours::ReadoutStale;
    DrawText(p, ReadoutLeft, c.LargeLine,
             AmplitudeText(s.Amplitude, s.LiftAngle, in.Averaging, s.Escapement, s.Fork),
             Align::Left, readings);
    DrawText(p, ReadoutLeft, 2 * c.LargeLine,
             BeatErrorText(s.BeatError, s.BeatPeriod, in.Averaging, s.BeatErrorStable, s.Fork),
             Align::Left, readings);
}

void PaintTopRight(PaintContext& c, const ViewSnapshot& s) {
    const ViewDisplayState& state = c.State;
    const TopRightTexts texts =
        TopRightText(state.PlayingBack, state.Recording, c.Settings.WaveFile2, state.LoopCount,
                     c.Settings.Title);
    // Right of the tape-width label when the tape is shown, else the right half of the window.
    const int gap = c.SmallLine;
    const int left = c.TapeShown ? c.Width * 21 / 32 +
                                       QFontMetrics(c.Fonts.Small)
                                           .horizontalAdvance(QString::fromStdString(
                                               TapeWidthLabel(s.BeatPeriod, s.TapeMagnification))) +
                                       gap
                                 : c.Width / 2;
    const QFontMetrics metrics(c.P.font());
    const int right = c.Width - TopRightMargin;
    const QString line0 = ElidedPathLabel(texts, metrics, right - left);
    // A line never closer than the font's own spacing, which may exceed L2 on a small window.
    const int line = std::max(c.LargeLine, metrics.lineSpacing());
    DrawText(c.P, right, 0, line0.toStdString(), Align::Right, colours::ReadoutBlue);
    DrawText(c.P, right, line, texts.Line1, Align::Right, colours::ReadoutBlue);
    c.TopRightBottom = (texts.Line1.empty() ? 1 : 2) * line;
    c.TopRightLeft = left;
}

void PaintStabilizing(PaintContext& c, const ViewSnapshot& s) {
    if (!s.Stabilizing) return;
    DrawText(c.P, ReadoutLeft, 3 * c.LargeLine,
             StabilizingText(s.CurrentPosition, s.StabilizingPositionCode), Align::Left,
             colours::ReadoutBlue);
}

void PaintMiddle(PaintContext& c, const ViewSnapshot& s) {
    if (!s.Prompt.empty()) {
        const std::vector<std::string> lines = SplitLines(s.Prompt);
        for (size_t j = 0; j < lines.size(); ++j)
            DrawText(c.P, ReadoutLeft, c.Height / 2 + static_cast<int>(j) * c.LargeLine, lines[j],
                     Align::Left, colours::PromptBrown);
        return;
    }
    if (!s.TraceFrozen) return;
    c.P.setFont(c.Fonts.Small);
    DrawText(c.P, ReadoutLeft, c.Height / 2 + c.LargeLine, FrozenNotice, Align::Left,
             colours::FrozenRed);
    c.P.setFont(c.Fonts.Large);
}

void PaintCalibrationText(PaintContext& c, const ViewSnapshot& s) {
    if (!s.CalibrationShown) return;
    const std::vector<std::string> lines = SplitLines(s.CalibrationText);
    c.P.setFont(c.Fonts.Large);
    const QFontMetrics metrics(c.Fonts.Large);
    const int line = std::max(c.LargeLine, metrics.lineSpacing());
    const int width = std::max(0, c.Width - c.LargeLine - c.TopRightLeft);
    for (size_t j = 0; j < lines.size(); ++j) {
        const QString text =
            metrics.elidedText(QString::fromStdString(lines[j]), Qt::ElideRight, width);
        DrawText(c.P, c.Width - c.LargeLine, c.TopRightBottom + static_cast<int>(j) * line,
                 text.toStdString(), Align::Right, colours::PromptBrown);
    }
}

} // namespace kv
