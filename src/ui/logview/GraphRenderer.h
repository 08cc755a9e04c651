// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the log viewer's picture: up to four strips of traces against time with their scales,
// grids, tags, the span of the shown data, the start and current time and the title, or the
// amplitude spectrum of one trace. Every render re-reads the log file through the model. The
// viewer window and `kestrovane-graph` draw through it. Dates follow the user's locale; texts
// that would overlap are thinned out. User-interface thread only.
#pragma once

#include <QImage>
#include <QLocale>
#include <QRect>
#include <string>
#include <vector>

#include "logview/model/GraphModel.h"
#include "logview/model/GraphSettings.h"
#include "ui/logview/GraphLayout.h"

namespace kv {

// A text of the picture as drawn: its ink's rectangle in device pixels and the text.
struct GraphLabel {
    QRect Rect;
    std::string Text;
};

class GraphRenderer {
public:
    // Fills `image` white and, unless it is empty, draws the graph of the log at `logPath` into
    // it. A file that cannot be read leaves only the frame, the clock and the title. Returns how
    // the file was read.
    GraphLoadStatus Render(QImage& image, GraphModel& model, const GraphSettings& settings,
                           const std::string& logPath);

    // The strips of the latest render, for mapping the mouse onto them.
    const StripLayout& Strips() const { return strips_; }
    // The texts of the latest render that label the picture (title, clock, scales, trace
    // labels, start, span, time grid; not the tags, which belong to the data), as drawn: none
    // overlaps another, those that would have are left out.
    const std::vector<GraphLabel>& Labels() const { return labels_; }

    // The locale of the dates; the user's own (QLocale::system()) unless set.
    void SetLocale(const QLocale& locale) { locale_ = locale; }
    // How much larger than at scale 1 the texts are drawn (TextScaleOf the window; 1 for the
    // exported pictures); the margins grow with them.
    void SetTextScale(double scale) { textScale_ = scale; }

private:
    StripLayout strips_;
    std::vector<GraphLabel> labels_;
    QLocale locale_ = QLocale::system();
    double textScale_ = 1.0;
};

// Whether the window shows a record: an empty one keeps the "end of time" sentinel as its start,
// which is no time to show.
inline bool ShowsRecords(const GraphWindow& window) {
    return window.DisplayStart < EndOfTime && window.DisplayEnd > 0;
}

// The logical x of time t in the shown window (linear, or logarithmic with `logX`).
double TimeToLogicalX(double t, const GraphWindow& window, bool logX);

} // namespace kv
