// SPDX-License-Identifier: GPL-3.0-or-later
// State records of the beat analysis: detector, measurement, paper tape and waveform trace.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv {

enum class DetectorPhase : int { Idle = 0, AwaitSilence = 1, Armed = 2, CollectTick = 3 };

// 16-bit sample levels: the loudest positive sample, half of it, and the loudest negative one.
inline constexpr int FullScale = 32767;
inline constexpr int HalfScale = 16383; // a middling peak for a detector that has heard nothing
inline constexpr int NegativeFullScale = -32768;

inline constexpr int HistoryLength = 4;
using SampleHistory = std::array<int64_t, HistoryLength>; // newest first, 0 = missing

// Shifts a history one place older and inserts `newest`.
inline void ShiftHistory(SampleHistory& h, int64_t newest) {
    for (int k = HistoryLength - 1; k > 0; --k)
        h[k] = h[k - 1];
    h[0] = newest;
}

// Past inputs and outputs shared by the three input filters; never reset.
struct FilterState {
    std::array<double, 8> In{};
    std::array<double, 8> Out{};
};

// A tick timed by precision timing: its beat number and its time in samples.
struct TimedTick {
    int64_t Beat = 0;
    double Time = 0.0;
    bool Valid = false;
};

// Precision timing: a pallet's mean distance from the refined time of its ticks to their onset.
struct OnsetOffset {
    static constexpr int AveragedTicks = 64; // equal weights up to this many ticks, then 1/64
    double Mean = 0.0;                       // samples
    int Ticks = 0;
    int Strays = 0; // successive ticks far from the mean
};

struct DetectorState {
    DetectorPhase State = DetectorPhase::Idle;
    int SilenceCount = 0;
    int64_t SamplePosition = 0; // first sample of the current buffer since the last reset
    int64_t BufferCounter = 0;  // buffers analysed since start; never reset
    int64_t LastTickSample = 0; // 0 = none
    int64_t FirstTickSample = 0;
    int64_t BeatCount = 0;
    int64_t UnlockCount = 0; // unlocks detected since start; never reset
    // Successive unlocks a whole number of beats apart since the last reset (or the last one that
    // was not); the run counts as locked onto the watch once there are enough of them.
    int ConsistentTicks = 0;
    bool Locked = false;
    // Where a looping playback joined its end to its start (-1: none since the last tick). The
    // sound after it does not continue the sound before, so no interval is measured across it.
    int64_t SpliceSample = -1;
    // Precision timing: the unlock whose measurement waits for the samples after it, and the
    // sample at which they are all in (-1: none waiting).
    int64_t PendingUnlock = 0;
    int64_t PendingRefineAt = -1;
    SampleHistory UnlockHistory{};
    SampleHistory DropHistory{};
    std::array<TimedTick, 3> TimedTicks{};     // precision timing's latest ticks, newest first
    std::array<OnsetOffset, 2> OnsetOffsets{}; // per pallet (beat parity)

    std::vector<int> TickEnvelope; // LiftSamplesMax + 1 entries
    int EnvelopeCount = 0;
    int EnvelopeMax = 0;
    int EnvelopeMaxIndex = 0;
    int EnvelopeMin = FullScale;

    int PeakLevel = HalfScale;
    int NoiseLevel = 0;
    int ClipCount = 0;
    double SignalToNoise = 0.001;
    int OverrunCount = 0;
    int UnpaintedBuffers = 0;
    int TickOffset = 0;
    double TickOffsetFraction = 0.0; // precision timing's shift of that tick, in samples
    int UnlockMarkerPos = 0;
    int ThresholdInForce = 0; // the unlock threshold of the latest buffer; 0 = none analysed
    FilterState Filter;
};

struct DevMes {
    double Time = 0.0;      // MeasuredTime when the point was taken
    double Deviation = 0.0; // CumulativeDeviation at that time
};

inline constexpr int MaxTeeth = 100;
inline constexpr int MaxPositions = 6;

// Ticks the detector is given to lock onto the phase of the sound after a playback's wrap: the
// first unlock after the join may be a cut tick's drop.
inline constexpr int RelockTicksAfterSplice = 2;

struct MeasurementState {
    bool Running = false;
    double Rate = 0.0;
    bool RateMeasured = false; // Rate holds a regression result
    bool RateWindowFull = false;
    bool PositionWindowFull = false;
    double AccumulatedRate = 0.0;
    double MeasuredTime = 0.0;
    double CumulativeDeviation = 0.0;
    double LastInterval = 0.0;
    double Deviation = 0.0;
    double TickElapsed = 0.0;
    // After a playback's wrap: ticks left before the detector counts as locked again, and whether
    // the deviation still has to be re-anchored to the new phase.
    int RelockTicks = 0;
    bool ReanchorDeviation = false;
    double Amplitude = 0.0;
    double LastAmplitude = 0.0;
    // Whether the amplitude can be trusted: most recent ticks had a drop, at a steady lift time.
    // Without, the amplitude is a guess from stray sounds and is not shown.
    bool AmplitudeTrusted = false;
    double DropShare = 0.0;   // smoothed share of ticks with a drop found
    double TypicalLift = 0.0; // smoothed lift in samples; 0 = none yet
    double LiftScatter = 0.0; // smoothed relative departure of each lift from it
    int DropTicks = 0;        // ticks in those averages, up to their length
    int LiftTicks = 0;
    double BeatError = 0.0;
    bool BeatErrorStable = false;
    double AllanDeviation = 0.0;
    int AllanCount = 0;
    double AllanSumSquares = 0.0;
    std::optional<double> AllanLastRate; // the previous tau's rate; none after a restart
    double AllanLastTime = 0.0;
    std::vector<DevMes> DeviationHistory;
    std::array<double, MaxTeeth> ToothResidual{};
    double ToothMean = 0.0;
    double ToothDrift = 0.0;
    double StabilizationRemaining = 0.0;
    int CurrentPosition = 0;
    std::array<double, MaxPositions + 1> PositionRate{};
    std::array<double, MaxPositions + 1> PositionLiftSum{};
    int PositionLiftCount = 0;
    std::array<double, MaxPositions + 1> PositionBeatErrorSum{};
    int PositionBeatErrorCount = 0;
    std::array<double, MaxPositions + 1> PositionEndTime{};
    double LogLiftSum = 0.0;
    int LogLiftCount = 0;
    double LogBeatErrorSum = 0.0;
    int LogBeatErrorCount = 0;
    // The readout of a local-standard calibration; the calibration engine keeps the other texts.
    std::string LocalCalibrationText;

    // The reference tick of the interval being measured.
    bool HasReference = false;
    int64_t ReferenceTick = 0;
    double ReferenceFraction = 0.0; // samples added to ReferenceTick by precision timing
};

struct TapeEntry {
    uint64_t Time = 0; // 100 ns since 1601-01-01 UTC; 0 = no tick
    double Phase = 0.0;
    std::string Text;
};

inline constexpr size_t TapeGrowStep = 10240;

// The column of a tape dot in a strip `width` pixels wide at magnification `magnification`:
// phase 0 in the middle, a full width spanning a quarter of a beat at magnification 1, and a
// phase beyond either edge wrapped round into 0 ... width-1. The screen and the printed tape
// both place their dots with it.
long long TapeColumn(double phase, double magnification, long long width);

struct TapeState {
    std::vector<TapeEntry> Entries = std::vector<TapeEntry>(TapeGrowStep);
    int TapeWriteIndex = 0;
    int64_t TapeBufferMark = 0;
    // Counts the clears of the tape and the starts of a run: a view that holds its rows still
    // while new ones are written lets go of them when it changes.
    uint32_t Restarts = 0;
};

enum class TraceMarkerKind : uint8_t { None, Unlock, Drop };

// A tick event on the waveform trace: the trace point where an unlock or a drop was heard.
struct TraceMarker {
    int Point = 0;
    TraceMarkerKind Kind = TraceMarkerKind::None;
};

// The newest tick events of the trace, oldest overwritten first. A marker leaves when the part of
// the trace it stands on is cleared for new sound.
struct TraceMarkerRing {
    // Room for every tick the trace can show: it spans at most two beats (display zoom 0.5), each
    // with an unlock and a drop, and free-wheeling noise adds a few more unlocks.
    static constexpr int Capacity = 32;
    std::array<TraceMarker, Capacity> Slots{};
    int Next = 0; // slot the next marker goes into

    void Add(int point, TraceMarkerKind kind) {
        Slots[static_cast<size_t>(Next)] = {point, kind};
        Next = (Next + 1) % Capacity;
    }
    // Removes the markers on trace points first ... end-1.
    void ClearPoints(int64_t first, int64_t end) {
        for (TraceMarker& m : Slots)
            if (m.Point >= first && m.Point < end) m.Kind = TraceMarkerKind::None;
    }
    void Clear() { Slots.fill({}); }
};

struct WaveformTrace {
    std::vector<int16_t> Points; // capacity 3/2 of the length; sound only, no markers
    TraceMarkerRing Markers;     // the unlocks and drops drawn over the points
    int Length = 0;
    // Trace points per decimated sample: up to 1 the free-running trace, from 2 the triggered
    // envelope. The view sets it from its display zoom; a fork train resets it.
    double Zoom = 0.5;
    bool Shown = true;
    bool Frozen = false;
};

} // namespace kv
