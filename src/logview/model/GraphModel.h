// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's data model: reads the log file into processed trace records, annotation tags,
// the time window, per-trace scales and filter seeds, and the spectrum of one trace.
//
// Used on the user-interface thread only (the viewer renders there); a load re-reads the whole
// file a chunk at a time, so the model never caches the file between loads, and a load's memory
// is that of the records it keeps, whatever else the file holds.
#pragma once

#include <complex>
#include <string>
#include <string_view>
#include <vector>

#include "logview/model/GraphSettings.h"
#include "logview/model/GraphTypes.h"

namespace kv {

enum class GraphLoadStatus {
    Loaded,     // the file was read (it may have been empty)
    NoFileName, // no log file chosen
    CannotOpen, // missing, no rights
    NotAFile,   // a folder, device or pipe
    TooLarge,   // beyond MaxLogFileBytes, or more records than memory holds
    ReadFailed, // an error while reading
    NotALog,    // whole lines, but no record with a number for its time: another kind of file
};

// One line for the user, saying why a log could not be shown ("" for Loaded).
std::string GraphLoadMessage(GraphLoadStatus status, const std::string& path);

class GraphModel {
public:
    // Reads the file as it is when the read starts and processes it. A file that cannot be
    // read, is not a log or needs more memory than there is leaves every part of the model as it
    // was. An empty file, or one whose only line is unfinished, loads as no records.
    GraphLoadStatus LoadGraphData(const std::string& path, const GraphSettings& settings);

    // Processes the bytes of a log file as LoadGraphData does: Loaded, NotALog or TooLarge.
    GraphLoadStatus LoadGraphText(std::string_view fileBytes, const GraphSettings& settings);

    // The automatic window: with nothing marked and span > 0 minutes, the newest span minutes.
    void ApplySpan(int spanMinutes);

    // --- Results of the latest load ---
    std::vector<GraphRecord> Records; // the lines inside the window, in file order
    std::vector<GraphTag> Tags;
    GraphWindow Window;   // the marks are the window's to set; the rest comes from the load
    TraceResults Results; // scales, seeds and slope statistics, kept between loads

    // The spectrum of trace SpectrumTrace (-1 for none): SpectrumSize N lines, a power of two
    // (1 when there is no spectrum), in Spectrum (empty when there is none).
    int SpectrumTrace = -1;
    unsigned SpectrumSize = 1;
    std::vector<std::complex<double>> Spectrum;
    bool HasSpectrum() const { return Spectrum.size() == SpectrumSize && SpectrumSize > 1; }
};

} // namespace kv
