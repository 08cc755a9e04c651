// SPDX-License-Identifier: GPL-3.0-or-later
// ProcessBuffer: filtering, tick detection, the tick envelope and the waveform trace.
#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/AnalysisCore.h"
#include "analysis/BufferContext.h"
#include "analysis/DropSearch.h"

namespace kv {

namespace {

enum FilterKind : int { DcBlocker = 0, Butterworth = 1, Resonator = 2 };

// A rectified sample above 95 % of full scale counts as clipped.
constexpr int ClipLevel = 31128;
// The threshold while the automatic one takes no tick yet: above every filtered level, so that
// the per-sample comparison needs no second test.
constexpr int AboveEverySample = std::numeric_limits<int>::max();
// The fork resonator's pole radius: a narrow band around the fork's frequency.
constexpr double ResonatorRadius = 0.9995;
// The first-order DC blocker's pole: a corner of about 200 Hz at 96 kHz.
constexpr double DcBlockerPole = 0.9869949627;
// The seventh-order high-pass: binomial numerator taps (1 7 21 35) on the halved input, and the
// denominator's feedback coefficients on the last seven outputs, newest first.
constexpr double ButterworthInputScale = 2.0;
constexpr double ButterworthTap1 = 7.0, ButterworthTap2 = 21.0, ButterworthTap3 = 35.0;
constexpr double ButterworthFeedback[7] = {4.065402744, 7.4820821243, 7.9560271282, 5.2379012396,
                                           2.123750334, 0.4891895072, 0.0492409629};
// Peak and noise levels decay by 31129/32768 (about 5 %) per buffer, so a louder past fades.
constexpr int64_t LevelDecayNumerator = 31129;
constexpr int64_t LevelDecayDenominator = 32768;
// Train detection scales the signal so that its peak sits at 1.5 times the unlock threshold.
constexpr double AutoTrainPeakToThreshold = 1.5;
// Filter outputs are bounded before conversion to int, well inside its range.
constexpr double ConversionBound = 2.0e9;
// Stored samples stay inside the 16-bit range the trace draws without wrapping.
constexpr double LowestStoredSample = -32767.0;
constexpr double HighestStoredSample = 32766.0;
// The signal-to-noise reading follows each buffer with a quarter weight and never reaches zero.
constexpr double SignalToNoiseKeep = 0.75;
constexpr double SignalToNoiseTake = 0.25;
constexpr double LowestSignalToNoise = 0.01;
// The unlock click's peak is looked for in the first millisecond of the tick, before any drop.
constexpr double UnlockPeakSeconds = 1e-3;
// Until this many successive unlocks have come a whole number of beats apart, the detector is
// still locking onto the watch (handling knocks, a microphone being placed): an unlock off the
// beat grid then restarts the measurement at itself instead of entering the accumulated rate.
constexpr int TicksToLock = 6;
// An unlock counts as on the beat grid within this fraction of a beat: a beat error of 10 ms at
// 0.2 s moves single beats by a tenth, a knock lands anywhere.
constexpr double LockTolerance = 0.15;
// Two beats after the first tick, the same pallet's unlock lies within this share of the shortest
// lift time of two whole beats when the first tick was an unlock: the detection's jitter is a
// fraction of a millisecond, a tick's drop comes at least the shortest lift after its unlock.
constexpr double SameEventShare = 0.5;

} // namespace

void AnalysisCore::ProcessBuffer(size_t n, int16_t* samples, int remaining,
                                 std::optional<int64_t> endCounter) {
    const auto lock = HoldAnalysis();
    BufferContext ctx;
    ctx.N = n;
    ctx.EndCounter = endCounter ? *endCounter : Clock.ReadCounter();
    BufferPrologue(ctx, samples, remaining);
    if (n > 0 && Measurement.Running) {
        if (ctx.ForkMode && Settings.HPF)
            AnalyseSamples<Resonator>(ctx, samples);
        else if (Settings.HPF)
            AnalyseSamples<Butterworth>(ctx, samples);
        else
            AnalyseSamples<DcBlocker>(ctx, samples);
    }
    BufferEpilogue(ctx, remaining);
}

void AnalysisCore::BufferPrologue(BufferContext& ctx, int16_t* samples, int remaining) {
    const size_t n = ctx.N;
    ClockRegression.AddBuffer(n, ctx.EndCounter, static_cast<uint64_t>(Detector.SamplePosition),
                              Settings.SampleRate, Clock);
    if (const int64_t splice = Host.RecordOrPlayBuffer(samples, n); splice >= 0)
        Detector.SpliceSample = Detector.SamplePosition + splice;
    Host.MonitorCopy(samples, n);
    if (remaining < 1) ++Detector.OverrunCount;

    const DerivedConstants& d = Derived;
    ctx.ForkMode = d.ForkMode();
    ctx.EnvelopeAnalysis = !ctx.ForkMode && Params.Escapement() != EscapementType::Pendulum;
    ctx.AutoTrain = AutoTrainActive;
    ctx.SignalGain = PlayingBack ? PlaybackGain : SoftwareInputGain ? InputGain : 1.0;
    ctx.AudioScale = Settings.AudioScale;
    if (ctx.ForkMode)
        ctx.ResonatorC =
            -2.0 * ResonatorRadius * std::cos(2.0 * M_PI / (d.BeatPeriod * EffectiveRate()));
    ChooseThreshold(ctx);
    ctx.FreeWheel = (AutoTrainActive || PositionalRunActive()) ? 0 : Params.FreeWheel;
    ctx.Period = static_cast<int64_t>(d.SamplesPerBeat);
    ctx.Mute = d.MuteSamples;
    ctx.PreSilence = d.PreSilenceSamples;
    ctx.LiftSamplesMax = d.LiftSamplesMax;
    ctx.BeatsPerBuffer = d.BeatsPerBuffer;
    if (static_cast<int>(Detector.TickEnvelope.size()) < d.LiftSamplesMax + 1)
        Detector.TickEnvelope.assign(d.LiftSamplesMax + 1, 0);
    ConfigurePrecision(ctx);
    // Precision timing finds where a tick's sound starts above the noise floor.
    ctx.TrackNoise = ctx.AutoThreshold || ctx.Precise;
    if (ctx.TrackNoise) AutoLevels.Configure(Settings.SampleRate);

    // 64-bit products: a loud, scaled signal can hold levels far above 16 bits.
    Detector.PeakLevel = static_cast<int>(
        std::max<int64_t>(1, (Detector.PeakLevel * LevelDecayNumerator) / LevelDecayDenominator));
    Detector.NoiseLevel =
        static_cast<int>((Detector.NoiseLevel * LevelDecayNumerator) / LevelDecayDenominator);
    Detector.ClipCount = 0;

    ctx.BufferOffset = RoundHalfAway(
        static_cast<double>(Detector.BufferCounter % d.BuffersPerBeat) * d.SamplesPerBuffer);
    FreeRunningSlotStart(ctx);
}

template <int Kind> void AnalysisCore::AnalyseSamples(BufferContext& ctx, int16_t* samples) {
    DetectorState& det = Detector;
    FilterState f = det.Filter;
    const int64_t base = det.SamplePosition;
    const int64_t traceLength = Trace.Length;
    int16_t* trace = Trace.Points.data();
    // Incremental trace point of the current sample: SlotStart + quotient, with its remainder.
    const int64_t traceStep = ctx.SlotWidth * ctx.BeatsPerBuffer;
    int64_t traceQuotient = 0, traceRemainder = 0;
    const int64_t n = static_cast<int64_t>(ctx.N);

    for (int64_t i = 0; i < n; ++i) {
        if (!Measurement.Running) break;
        const int64_t S = base + i;
        const double x = samples[i];
        double y;
        if constexpr (Kind == DcBlocker) {
            y = (x - f.In[0]) + DcBlockerPole * f.Out[0];
            f.In[0] = x;
            f.Out[0] = y;
        } else if constexpr (Kind == Butterworth) {
            const double u = x / ButterworthInputScale;
            const auto& U = f.In;
            const auto& Y = f.Out;
            const auto& A = ButterworthFeedback;
            y = (u - U[6]) + ButterworthTap1 * (U[5] - U[0]) + ButterworthTap2 * (U[1] - U[4]) +
                ButterworthTap3 * (U[3] - U[2]) + A[0] * Y[0] - A[1] * Y[1] + A[2] * Y[2] -
                A[3] * Y[3] + A[4] * Y[4] - A[5] * Y[5] + A[6] * Y[6];
            for (int k = 6; k > 0; --k) {
                f.In[k] = f.In[k - 1];
                f.Out[k] = f.Out[k - 1];
            }
            f.In[0] = u;
            f.Out[0] = y;
        } else {
            y = (1.0 - ResonatorRadius) * (x - f.In[1]) - ctx.ResonatorC * f.Out[0] -
                ResonatorRadius * ResonatorRadius * f.Out[1];
            f.In[1] = f.In[0];
            f.In[0] = x;
            f.Out[1] = f.Out[0];
            f.Out[0] = y;
        }

        y *= ctx.AudioScale;
        if (ctx.AutoTrain) y = y * ctx.Threshold * AutoTrainPeakToThreshold / det.PeakLevel;
        y *= ctx.SignalGain;

        const double bounded = std::clamp(y, -ConversionBound, ConversionBound);
        const int v = ctx.ForkMode ? static_cast<int>(bounded)
                                   : static_cast<int>(RoundHalfAway(std::fabs(bounded)));
        const int16_t stored =
            static_cast<int16_t>(std::clamp(y, LowestStoredSample, HighestStoredSample));
        samples[i] = stored;
        if (ctx.TrackNoise) AutoLevels.Add(v);
        if (!ctx.ForkMode) Levels.AddSample(v, det.State == DetectorPhase::CollectTick);
        if (ctx.Precise) {
            Refiner.Push(S, y);
            if (S == det.PendingRefineAt) CompletePendingUnlock(ctx);
        }
        if (v > det.PeakLevel) det.PeakLevel = v;
        if (v > ClipLevel) ++det.ClipCount;

        bool ready = false;
        if (det.State != DetectorPhase::CollectTick) {
            if (det.LastTickSample == 0) {
                ready = true;
            } else {
                const int64_t d = S - det.LastTickSample;
                for (int k = 0; k <= ctx.FreeWheel && !ready; ++k) {
                    if (d > k * ctx.Period + ctx.Mute)
                        ready = ctx.FreeWheel == 0 || d < (k + 2) * ctx.Period - ctx.Mute;
                }
                if (!ready && d > (ctx.FreeWheel + 2) * ctx.Period + ctx.Mute) {
                    ready = true;
                    det.NoiseLevel = det.PeakLevel;
                }
            }
        }

        if (ctx.DrawFreeRunning && i >= ctx.DrawFrom) {
            const int64_t point = ctx.SlotStart + traceQuotient;
            if (point >= 0 && point < traceLength && std::abs(stored) > std::abs(trace[point]))
                trace[point] = stored;
            traceRemainder += traceStep;
            while (traceRemainder >= n) {
                traceRemainder -= n;
                ++traceQuotient;
            }
        }

        switch (det.State) {
        case DetectorPhase::Idle:
            if (ready) {
                det.State = DetectorPhase::AwaitSilence;
                det.SilenceCount = 0;
            }
            break;
        case DetectorPhase::AwaitSilence:
            if (!ready) {
                RecordMissedBeat(ctx);
            } else if (v > ctx.SilenceLevel) {
                det.SilenceCount = 0;
            } else {
                ++det.SilenceCount;
                det.NoiseLevel = std::max(det.NoiseLevel, v);
                if (det.SilenceCount >= ctx.PreSilence) {
                    det.State = DetectorPhase::Armed;
                    det.SilenceCount = 0;
                }
            }
            break;
        case DetectorPhase::Armed:
            if (!ready)
                RecordMissedBeat(ctx);
            else if (v > ctx.Threshold)
                OnUnlock(ctx, S, static_cast<size_t>(i), v);
            break;
        case DetectorPhase::CollectTick:
            if (det.EnvelopeCount < ctx.LiftSamplesMax) {
                det.TickEnvelope[det.EnvelopeCount] = v;
                if (ctx.EnvelopeAnalysis) {
                    if (v > det.EnvelopeMax) {
                        det.EnvelopeMax = v;
                        det.EnvelopeMaxIndex = det.EnvelopeCount;
                    }
                    if (v < det.EnvelopeMin) det.EnvelopeMin = v;
                }
                ++det.EnvelopeCount;
            } else {
                OnEnvelopeFull(ctx);
            }
            break;
        }
    }
    det.Filter = f;
}

void AnalysisCore::RecordMissedBeat(const BufferContext& ctx) {
    ShiftHistory(Detector.UnlockHistory, 0);
    if (ctx.EnvelopeAnalysis) ShiftHistory(Detector.DropHistory, 0);
    Detector.State = DetectorPhase::Idle;
}

void AnalysisCore::OnUnlock(BufferContext& ctx, int64_t sample, size_t index, int level) {
    DetectorState& det = Detector;
    if (det.LastTickSample != 0) {
        const double beats =
            static_cast<double>(sample - det.LastTickSample) / Derived.SamplesPerBeat;
        det.BeatCount += RoundHalfAway(beats);
        if (det.SpliceSample > det.LastTickSample && sample >= det.SpliceSample)
            RejoinAfterSplice();
        else if (!det.Locked && !AutoTrainActive) // train detection tries beats that do not fit
            FollowLock(sample, beats);
    }
    if (det.FirstTickSample == 0) {
        det.FirstTickSample = sample;
        det.BeatCount = 0;
        ResetReference();
        Measurement.ToothResidual.fill(0.0);
        Refiner.Reset(); // the pallets' parity starts afresh
        det.OnsetOffsets = {};
        Pallets.RestartCount();
    }
    ++det.UnlockCount;
    ShiftHistory(det.UnlockHistory, sample);
    DrawUnlockMarker(ctx, index);
    det.LastTickSample = sample;
    if (!ctx.HadUnlock) {
        ctx.HadUnlock = true;
        ctx.FirstTickPosition = static_cast<int64_t>(index) + ctx.BufferOffset;
        ctx.FirstTickSample = sample;
    }
    if (ctx.Precise) {
        det.PendingUnlock = sample;
        det.PendingRefineAt = sample + Refiner.SamplesAfterOnsetSearch(ctx.OnsetLookAhead);
    } else {
        MeasurementStep(sample, 0.0, ctx.LogMode);
    }

    if (ctx.ForkMode) {
        det.State = DetectorPhase::Idle;
        return;
    }
    if (ctx.EnvelopeAnalysis) ShiftHistory(det.DropHistory, 0);
    det.EnvelopeMax = 0;
    det.EnvelopeMaxIndex = 0;
    det.EnvelopeMin = FullScale;
    det.TickEnvelope[0] = level;
    det.EnvelopeCount = 1;
    det.State = DetectorPhase::CollectTick;
}

// Before the detector has locked onto the watch, an unlock off the beat grid of the previous one
// means one of them was not a tick: the measurement starts again at this unlock, so nothing heard
// while locking in stays in the accumulated rate or the deviation.
void AnalysisCore::FollowLock(int64_t sample, double beatsSinceLast) {
    DetectorState& det = Detector;
    const double whole = std::round(beatsSinceLast);
    const bool onGrid = whole >= 1.0 && std::fabs(beatsSinceLast - whole) <= LockTolerance;
    if (onGrid && SameEventAsFirstTick(sample)) {
        det.Locked = ++det.ConsistentTicks >= TicksToLock;
        return;
    }
    det.ConsistentTicks = 0;
    det.FirstTickSample = 0; // the unlock being handled becomes the first tick
    det.UnlockHistory.fill(0);
    det.DropHistory.fill(0);
    det.TimedTicks = {};
    ResetMeasurement();
    Measurement.BeatError = 0.0;
    Measurement.BeatErrorStable = false;
}

// A capture that starts inside a tick hears that tick's later events first: taken for the first
// tick, its drop anchors the deviation and the first interval a lift time late, an offset that
// passes the beat grid's tolerance. Two beats on, the same pallet's unlock shows it: two beats are
// whole, beat error and all, to well within half the shortest lift.
bool AnalysisCore::SameEventAsFirstTick(int64_t sample) const {
    const DetectorState& det = Detector;
    if (det.FirstTickSample == 0 || det.UnlockHistory[1] != det.FirstTickSample) return true;
    const double beats = static_cast<double>(sample - det.FirstTickSample) / Derived.SamplesPerBeat;
    if (std::round(beats) != 2.0) return true; // a beat was missed: nothing to compare
    const double off = std::fabs(beats - 2.0) * Derived.SamplesPerBeat;
    return off <= SameEventShare * Derived.LiftSamplesMin;
}

// The first tick after a playback's wrap: the interval across the join is not the watch's, so it is
// measured as a gap (not at all), the detector is given a few ticks to lock onto the new phase,
// the deviation is re-anchored at the first interval measured afterwards, and the tape leaves an
// empty row to show the break.
void AnalysisCore::RejoinAfterSplice() {
    DetectorState& det = Detector;
    det.SpliceSample = -1;
    det.UnlockHistory.fill(0);
    det.DropHistory.fill(0);
    det.TimedTicks = {};
    Refiner.ForgetNeighbours();
    Pallets.RestartCount(); // the loop need not hold a whole number of double beats
    Measurement.RelockTicks = RelockTicksAfterSplice;
    Measurement.ReanchorDeviation = true;
    ResetReference();
    ++Tape.TapeWriteIndex;
}

// The automatic threshold runs outside fork mode and train detection (which scales the signal by
// the threshold), where the set threshold holds; until the noise floor is known it takes no tick.
void AnalysisCore::ChooseThreshold(BufferContext& ctx) {
    // Automatic level control changes the level under the threshold: it works with a threshold
    // that follows the ticks and the noise.
    const bool wanted = Settings.AutoThreshold != 0 || Settings.AGC != 0;
    ctx.AutoThreshold = wanted && !ctx.ForkMode && !ctx.AutoTrain;
    int threshold = Params.UnlockThreshold;
    if (ctx.AutoThreshold) {
        AutoLevels.Configure(Settings.SampleRate);
        threshold = AutoLevels.Threshold().value_or(AboveEverySample);
    }
    ctx.Threshold = threshold;
    // In 64 bits: the threshold may be AboveEverySample.
    ctx.SilenceLevel = static_cast<int>(2 * static_cast<int64_t>(threshold) / 3);
    Detector.ThresholdInForce = std::min(threshold, FullScale); // drawn on a 16-bit scale
}

// The unlock click's peak: the loudest of the envelope's first millisecond, before the drop.
void AnalysisCore::NoteUnlockPeak() {
    const DetectorState& det = Detector;
    const int span =
        std::min(det.EnvelopeCount, static_cast<int>(UnlockPeakSeconds * EffectiveRate()));
    if (span <= 0) return;
    AutoLevels.AddUnlockPeak(
        *std::max_element(det.TickEnvelope.begin(), det.TickEnvelope.begin() + span));
}

void AnalysisCore::OnEnvelopeFull(BufferContext& ctx) {
    DetectorState& det = Detector;
    if (det.UnlockHistory[0] == 0) {
        det.EnvelopeCount = 0;
        det.State = DetectorPhase::Idle;
        return;
    }
    if (ctx.AutoThreshold) NoteUnlockPeak();
    if (Pallets.AddTick(det.BeatCount, det.TickEnvelope.data(), det.EnvelopeCount)) {
        Measurement.BeatError = -Measurement.BeatError; // measured so far on the other pallet
        Measurement.LogBeatErrorSum = -Measurement.LogBeatErrorSum;
    }
    // The envelope's maximum is tracked only for envelope analysis; else it is looked up.
    const auto envelope = det.TickEnvelope.begin();
    Levels.AddTickPeak(ctx.EnvelopeAnalysis
                           ? std::max(det.EnvelopeMax, det.TickEnvelope[0])
                           : *std::max_element(envelope, envelope + det.EnvelopeCount));
    int drop = -1;
    int count = det.EnvelopeCount;
    if (ctx.EnvelopeAnalysis) {
        count = Derived.LiftSamplesMax - 1; // the last point is discarded
        det.EnvelopeCount = count;
        EnvelopeView view{det.TickEnvelope.data(), count,           det.EnvelopeMax,
                          det.EnvelopeMaxIndex,    det.EnvelopeMin, Derived.LiftSamplesMin};
        const EscapementType type = Params.Escapement();
        if (type == EscapementType::Lever)
            drop = FindLeverDrop(view);
        else if (type == EscapementType::Coaxial1)
            drop = FindCoaxialDrop(view);
        if (drop >= 0) det.DropHistory[0] = det.UnlockHistory[0] + drop;
        NoteDrop(drop);
    }
    if (ctx.DrawFreeRunning) DrawDropMarker(ctx);
    if (ctx.DrawTriggered) DrawTriggeredEnvelope(drop > 0 && drop < count ? drop : -1);
    det.EnvelopeCount = 0;
    det.State = DetectorPhase::Idle;
}

void AnalysisCore::BufferEpilogue(BufferContext& ctx, int remaining) {
    DetectorState& det = Detector;
    if (ctx.HadUnlock) {
        if (!ctx.ForkMode && det.NoiseLevel > 0 && det.PeakLevel >= det.NoiseLevel) {
            const double ratio = static_cast<double>(det.PeakLevel) / det.NoiseLevel - 1.0;
            det.SignalToNoise =
                std::max(LowestSignalToNoise,
                         SignalToNoiseKeep * det.SignalToNoise + SignalToNoiseTake * ratio);
        }
        det.TickOffset = static_cast<int>(ctx.FirstTickPosition - Derived.DatumSamples);
        det.TickOffsetFraction = ctx.FirstTickShift;
    }
    if (ctx.TrackNoise) AutoLevels.EndBuffer();
    Levels.EndBuffer(static_cast<int64_t>(ctx.N));
    if (CentringCountdown != 0 && --CentringCountdown == 0) CentringPending = false;
    Host.SetCaptureBufferAdjust(BufferAdjust);
    BufferAdjust = 0.0;
    // Sample positions are unsigned: before two beats have passed no tick counts as recent.
    const int64_t recent = 2 * RoundHalfAway(Derived.SamplesPerBeat);
    if (det.SamplePosition >= recent && det.LastTickSample > det.SamplePosition - recent)
        NoSignal = false;
    if (ctx.HadUnlock)
        Host.NotifyTick(static_cast<uint32_t>(static_cast<uint64_t>(ctx.FirstTickPosition) * 1000u /
                                              Settings.SampleRate),
                        static_cast<uint32_t>(det.BeatCount));
    AdvanceTape();
    if (ctx.HadUnlock) {
        EnterTape();
        if (Settings.Autostop) Host.StartTimer(TimerAutoStop, AutoStopDelayMs());
    }
    if (ctx.HadUnlock && det.BeatCount % 2 == 0) {
        if (!ctx.Precise) BeatErrorStep(ctx.ForkMode); // precision timing's comes with its times
        ToothStep();
    }
    if (!ctx.ForkMode && Params.Escapement() != EscapementType::Pendulum) AmplitudeStep();
    Host.WriteLogRecord(ctx.LogMode);
    if (remaining >= Derived.CaptureBufferCount - 1) {
        if (!NoSignal) Host.RequestRepaint();
    } else {
        ++det.UnpaintedBuffers;
    }
    det.SamplePosition += static_cast<int64_t>(ctx.N);
    ++det.BufferCounter;
    if (NoSignal) Tape.TapeBufferMark = det.BufferCounter;
    Host.StartTimer(TimerPerBuffer, 0);
}

} // namespace kv
