// SPDX-License-Identifier: GPL-3.0-or-later
// Everything one repaint of the measuring view shows from the analysis, copied under a single
// short hold of the analysis lock, so that every element of one picture comes from the same
// analysis state. The view keeps one snapshot and refills it each repaint: its buffers keep their
// capacity, so a repaint allocates nothing once they have grown.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/AnalysisParameters.h"
#include "analysis/AnalysisState.h"
#include "ui/view/StatusText.h"
#include "ui/view/TapeScroll.h"

namespace kv {

class AnalysisCore;
class CalibrationState;

struct ViewSnapshot {
    // --- Waveform ---
    bool TraceShown = false;
    bool TraceFrozen = false;
    bool Fork = false;
    EscapementType Escapement = EscapementType::Lever;
    double BeatPeriod = 0.2;          // s
    double Decimation = 1.0;          // raw samples per trace point at display zoom 1
    double DisplayZoom = 1.0;         // trace points per decimated sample
    double EffectiveRate = 1.0;       // samples per second
    double SamplesPerBeat = 0.0;      // raw samples
    int MuteSamples = 0;              // raw samples
    int LiftSamplesMin = 0;           // raw samples
    int DatumSamples = 0;             // raw samples
    int UnlockThreshold = 0;          // 16-bit level
    std::vector<int16_t> Trace;       // the trace's points, the markers' own points replaced
    std::vector<TraceMarker> Markers; // in trace order; one per point, the newest event's

    // --- Rate, paper tape and cursor disk ---
    double Rate = 0.0; // fraction (s/s)
    bool RateWindowFull = false;
    bool Current = false; // the readouts are the running measurement's, from ticks heard
    int TickOffset = 0;
    double TapeMagnification = 1.0;
    int Feed = 1; // entries per row (>= 1) or rows per entry (<= -1)
    int BeatsPerBuffer = 1;
    bool TapeScrolled = false;
    long long TapeEnd = 0;   // the newest entry drawn at the top: write index less scroll
    long long TapeWrite = 0; // entries written
    long long TapeSize = 0;  // entries allocated
    long long TapeFirst = 0; // first entry copied below
    // The copied entries' dot columns in a tape `TapeWidth` pixels wide; -1 for no tick.
    int TapeWidth = 0;
    std::vector<int> TapeColumns;
    struct TapeNote {
        long long Entry;
        std::string Text;
    };
    std::vector<TapeNote> TapeNotes; // the copied entries' notes, in entry order
    size_t TapeNoteCount = 0;        // notes in use; the rest keep their buffers for reuse
    int CentringCountdown = 0;
    bool BracketEmpty = false;
    double BracketSeconds = 0.0; // the measuring window's length the tape bracket shows

    // --- Status block and diagnostics ---
    std::string Prompt;
    double SignalToNoise = 0.0;
    unsigned SampleRate = 0;
    double LiftAngle = 0.0;
    MeasuredTimeInputs MeasuredTime;
    double AccumulatedRate = 0.0;
    double MeasuredSeconds = 0.0;
    bool HighPass = false;
    double Deviation = 0.0;
    double TickElapsed = 0.0;
    int64_t BeatCount = 0;
    double AllanDeviation = 0.0;
    double AllanTau = 0.0;
    int AllanCount = 0;
    int OverrunCount = 0;
    int UnpaintedBuffers = 0;

    // --- Tooth chart ---
    int Teeth = 0;
    bool AutoTrainActive = false;
    int CurrentPosition = 0;
    std::array<double, MaxTeeth> ToothResidual{};

    // --- Readouts and texts ---
    double WindowSamples = 0.0;
    bool Averaging = false;
    double Amplitude = 0.0; // 0 while it cannot be trusted
    double BeatError = 0.0;
    bool BeatErrorStable = false;
    bool Stabilizing = false; // a position of a positional run is stabilizing
    std::string StabilizingPositionCode;
    bool CalibrationShown = false; // false while another thread held the calibration lock
    std::string CalibrationText;

    // The dot column of tape entry `i`, or -1 for no tick or an entry not copied.
    int TapeColumnOf(long long i) const {
        const long long k = i - TapeFirst;
        return k >= 0 && k < static_cast<long long>(TapeColumns.size())
                   ? TapeColumns[static_cast<size_t>(k)]
                   : -1;
    }
};

// Refills `snapshot` from `core` under one hold of the analysis lock, copying the tape entries a
// picture `width` x `height` pixels shows at the view's `scroll`, and the text of `calibration`.
// Never blocks on the calibration lock.
void CaptureViewSnapshot(const AnalysisCore& core, const CalibrationState& calibration,
                         const TapeScroll& scroll, int width, int height, ViewSnapshot& snapshot);

} // namespace kv
