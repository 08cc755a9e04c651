// SPDX-License-Identifier: GPL-3.0-or-later
// The processed log as comma-separated text for reports and scripts: the eight traces per
// record, or the spectrum of one trace. Numbers are written in the "C" locale.
#pragma once

#include <ostream>

#include "logview/model/GraphModel.h"

namespace kv {

// A header line ("time_s" and the eight trace labels), then one row per record: the time in
// seconds since the file's first record (Window.FirstRecordTime, whatever the window shows) and
// the eight processed values, a field left empty where the trace is off or has no value.
void WriteTraceCsv(std::ostream& out, const GraphModel& model, const GraphSettings& settings);

// A header line, then one row per spectrum line 0 … N/2 of the model's spectrum: the frequency
// in Hz and the level in dB (empty for a line of zero magnitude). Only the header when the model
// holds no spectrum.
void WriteSpectrumCsv(std::ostream& out, const GraphModel& model);

} // namespace kv
