// SPDX-License-Identifier: GPL-3.0-or-later
// Values fixed for one buffer of ProcessBuffer, shared by the files that implement it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "analysis/AnalysisCore.h"

namespace kv {

// Values fixed for one buffer, copied out of the state so the sample loop reads locals only.
struct AnalysisCore::BufferContext {
    size_t N = 0;
    bool ForkMode = false;
    bool EnvelopeAnalysis = false;
    bool AutoTrain = false;
    bool Precise = false;              // unlock times refined to a fraction of a sample
    int OnsetLookAhead = 0;            // samples after a detected unlock its onset may lie
    double OnsetOffsetTolerance = 0.0; // samples an onset may stray from its pallet's usual place
    bool AutoThreshold = false;        // the threshold follows the noise floor
    bool TrackNoise = false;           // the noise floor is measured
    double SignalGain = 1.0;           // the playback gain, or the software input gain, or 1
    double AudioScale = 1.0;
    double ResonatorC = 0.0;
    int Threshold = 0;
    int SilenceLevel = 0;
    int FreeWheel = 0;
    int64_t Period = 0; // trunc(SamplesPerBeat)
    int64_t Mute = 0;
    int PreSilence = 0;
    int LiftSamplesMax = 0;
    // Free-running waveform trace mapping.
    bool DrawFreeRunning = false;
    bool DrawTriggered = false;
    int64_t SlotStart = 0;
    int64_t SlotWidth = 0;
    int64_t DrawFrom = 0; // first sample drawn: the last 1/K of the buffer
    int64_t BufferOffset = 0;
    // Results of the buffer.
    int64_t FirstTickPosition = -1;
    int64_t FirstTickSample = -1; // its absolute sample
    double FirstTickShift = 0.0;  // its refined time less the detected one, in samples
    int64_t EndCounter = 0;       // counter at the buffer's last sample
    int LogMode = LogNothing;
    bool HadUnlock = false;

    int64_t TracePoint(size_t i) const {
        return SlotStart + (static_cast<int64_t>(i) - DrawFrom) * SlotWidth * BeatsPerBuffer /
                               static_cast<int64_t>(N);
    }
    int64_t BeatsPerBuffer = 1;
};

} // namespace kv
