// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the log viewer's picture: up to four strips of traces against time with their scales,
// grids, tags, the span of the shown data, the start and current time and the title, or the
// amplitude spectrum of one trace. Every render re-reads the log file through the model. The
// viewer window and `kestrovane-graph` draw through it. User-interface thread only.
#pragma once

#include <QImage>
#include <string>

#include "logview/model/GraphModel.h"
#include "logview/model/GraphSettings.h"
#include "ui/logview/GraphLayout.h"

namespace kv {

class GraphRenderer {
public:
    // Fills `image` white and, unless it is empty, draws the graph of the log at `logPath` into
    // it. A file that cannot be read leaves only the frame, the clock and the title. Returns how
    // the file was read.
    GraphLoadStatus Render(QImage& image, GraphModel& model, const GraphSettings& settings,
                           const std::string& logPath);

    // The strips of the latest render, for mapping the mouse onto them.
    const StripLayout& Strips() const { return strips_; }

private:
    StripLayout strips_;
};

// Whether the window shows a record: an empty one keeps the "end of time" sentinel as its start,
// which is no time to show.
inline bool ShowsRecords(const GraphWindow& window) {
    return window.DisplayStart < EndOfTime && window.DisplayEnd > 0;
}

// The logical x of time t in the shown window (linear, or logarithmic with `logX`).
double TimeToLogicalX(double t, const GraphWindow& window, bool logX);

} // namespace kv
