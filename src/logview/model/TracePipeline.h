// SPDX-License-Identifier: GPL-3.0-or-later
// The value pipeline of one trace during a load: scaling, slope or integral, folding into the
// wrapped range, the low-pass filter with its gap restarts and markers, the automatic scale, and
// the backward pass that leaves the next load's filter seeds.
#pragma once

#include <vector>

#include "logview/format/LogLineReader.h"
#include "logview/model/GraphSettings.h"
#include "logview/model/GraphTypes.h"

namespace kv {

// Folding of a phase-like trace into [min, max) of its held scale.
struct WrapRange {
    bool On = false;
    double Min = 0.0;
    double Q = 1.0; // scale units per radian

    static WrapRange For(const TraceSettings& s, const TraceResult& r);
    double Phase(double value) const; // radians, reduced once into (-3π, π)
    double Fold(double angle) const;  // an angle as a value in [min, max)
};

// The first-order low-pass filter y[n] = (1 − k)·y[n−1] + (k/2)·(x[n] + x[n−1]). With wrapping
// it filters the unit vector of the phase (A cosine, B sine), so both sides of the wrap point
// average correctly. A y_A without a value restarts it at the next input.
struct LowPassFilter {
    double XA = NoValue, XB = NoValue; // previous inputs
    double YA = NoValue, YB = NoValue; // previous outputs

    // Feeds one input and returns the output.
    double Step(double value, double k, const WrapRange& wrap);
};

class TracePipeline {
public:
    // Starts a load: the scale from the holds, integral and slope statistics cleared, the filter
    // from the seeds of the previous load.
    TracePipeline(const TraceSettings& settings, TraceResult& result);

    // A record at time t: `field` is its text (empty for no value). Writes the processed value
    // and the raw value (scaled and differentiated, before folding and filtering).
    void Process(double t, std::string_view field, double& value, double& raw);

    void ApplyMarker(FilterMarkerKind kind);

    // Runs the filter from the last record to the first over the raw values and keeps its
    // state as the next load's seeds; traces without an active filter get no seeds.
    void FinishLoad(const std::vector<GraphRecord>& records, int trace);

private:
    void ProcessEmpty(double t);
    double Differentiate(double t, double scaled);
    double Smooth(double t, double value);
    void Widen(double value);

    const TraceSettings& S;
    TraceResult& R;
    WrapRange Wrap;
    LowPassFilter Filter;
    double PrevTime = 0.0; // 0: none yet
    bool HasPrevScaled = false;
    double PrevScaled = 0.0;
    bool HasPrevSlope = false;
    double PrevSlope = 0.0;
    double LastFilteredTime = 0.0;
    double FilteredTimeBefore = 0.0;
};

} // namespace kv
