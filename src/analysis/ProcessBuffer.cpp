// ProcessBuffer: filtering, tick detection, the tick envelope and the waveform trace.
#include <algorithm>
#include <cmath>

#include "analysis/AnalysisCore.h"
#include "analysis/DropSearch.h"

namespace kv {

namespace {

enum FilterKind : int { DcBlocker = 0, Butterworth = 1, Resonator = 2 };

// A rectified sample above 95 % of full scale counts as clipped.
constexpr int ClipLevel = 31128;
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
constexpr int HighestEnvelopePoint = 32766;
// Free-running traces at display zooms up to 1, triggered envelopes from 2 on; the margins absorb
// the rounding of the stored zoom.
constexpr double FreeRunningZoomLimit = 1.001;
constexpr double TriggeredZoomFrom = 1.999;
// A triggered envelope starts 10 points in, where its unlock marker stands.
constexpr int TriggeredTraceStart = 10;
// The signal-to-noise reading follows each buffer with a quarter weight and never reaches zero.
constexpr double SignalToNoiseKeep = 0.75;
constexpr double SignalToNoiseTake = 0.25;
constexpr double LowestSignalToNoise = 0.01;
// Unlock and drop markers on the trace: full-scale spikes up and down.
constexpr int16_t UnlockMarker = FullScale;
constexpr int16_t DropMarker = NegativeFullScale;
// The unlock click's peak is looked for in the first millisecond of the tick, before any drop.
constexpr double UnlockPeakSeconds = 1e-3;

} // namespace

// Values fixed for one buffer, copied out of the state so the sample loop reads locals only.
struct AnalysisCore::BufferContext {
    size_t N = 0;
    bool ForkMode = false;
    bool EnvelopeAnalysis = false;
    bool AutoTrain = false;
    bool Precise = false;       // unlock times refined to a fraction of a sample
    bool AutoThreshold = false; // the threshold follows the noise floor
    double SignalGain = 1.0;    // the playback gain, or the software input gain, or 1
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

void AnalysisCore::FreeRunningSlotStart(BufferContext& ctx) {
    const bool tracing = Trace.Shown && !Trace.Frozen && Trace.Length > 0 && !Trace.Points.empty();
    ctx.DrawTriggered = tracing && Settings.DisplayZoom >= TriggeredZoomFrom;
    if (!tracing || Settings.DisplayZoom > FreeRunningZoomLimit) return;
    const double zoom = std::min(Settings.DisplayZoom, 1.0);
    const int64_t slots = std::max<int64_t>(1, static_cast<int64_t>(Derived.BuffersPerBeat / zoom));
    ctx.SlotWidth = static_cast<int64_t>(Trace.Length * zoom / Derived.BuffersPerBeat);
    ctx.SlotStart = (Detector.BufferCounter % slots) * ctx.SlotWidth;
    const int64_t capacity = static_cast<int64_t>(Trace.Points.size());
    const int64_t end = std::min(ctx.SlotStart + ctx.SlotWidth, capacity);
    for (int64_t p = ctx.SlotStart; p < end; ++p)
        Trace.Points[p] = 0;
    const int64_t k = ctx.BeatsPerBuffer;
    ctx.DrawFrom = (k - 1) * static_cast<int64_t>(ctx.N) / k;
    ctx.DrawFreeRunning = true;
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
        if (ctx.AutoThreshold) AutoLevels.Add(v);
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
        det.BeatCount += RoundHalfAway(static_cast<double>(sample - det.LastTickSample) /
                                       Derived.SamplesPerBeat);
        if (det.SpliceSample > det.LastTickSample && sample >= det.SpliceSample)
            RejoinAfterSplice();
    }
    if (det.FirstTickSample == 0) {
        det.FirstTickSample = sample;
        det.BeatCount = 0;
        ResetReference();
        Measurement.ToothResidual.fill(0.0);
        Refiner.Reset(); // the pallets' parity starts afresh
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
        det.PendingRefineAt = sample + Refiner.SamplesAfterUnlock();
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

// The first tick after a playback's wrap: the interval across the join is not the watch's, so it is
// measured as a gap (not at all), the detector is given a few ticks to lock onto the new phase,
// the deviation is re-anchored at the first interval measured afterwards, and the tape leaves an
// empty row to show the break.
void AnalysisCore::RejoinAfterSplice() {
    DetectorState& det = Detector;
    det.SpliceSample = -1;
    det.UnlockHistory.fill(0);
    det.DropHistory.fill(0);
    Refiner.ForgetNeighbours();
    Measurement.RelockTicks = RelockTicksAfterSplice;
    Measurement.ReanchorDeviation = true;
    ResetReference();
    if (Tape.TapeScrollOffset != 0 || Tape.MarkingDragActive) ++Tape.TapeScrollOffset;
    ++Tape.TapeWriteIndex;
}

// Precision timing measures an unlock once the samples after it are in: the refiner's correlation
// needs the start of the click. The tick envelope lasts longer, so no new unlock comes between.
void AnalysisCore::CompletePendingUnlock(BufferContext& ctx) {
    DetectorState& det = Detector;
    det.PendingRefineAt = -1;
    const TickRefiner::Result r = Refiner.Refine(det.PendingUnlock, det.BeatCount);
    if (det.PendingUnlock == ctx.FirstTickSample) ctx.FirstTickShift = r.Shift; // for the tape
    // Ticks that teach the templates are not measured: a measurement anchored on a detected time
    // would carry its rounding into the accumulated rate for the rest of the run.
    if (r.Learning) return;
    MeasurementStep(det.PendingUnlock, r.Shift, ctx.LogMode);
}

// The automatic threshold runs outside fork mode and train detection (which scales the signal by
// the threshold), where the set threshold holds; until the noise floor is known it takes no tick.
void AnalysisCore::ChooseThreshold(BufferContext& ctx) {
    ctx.AutoThreshold = Settings.AutoThreshold != 0 && !ctx.ForkMode && !ctx.AutoTrain;
    int threshold = Params.UnlockThreshold;
    if (ctx.AutoThreshold) {
        AutoLevels.Configure(Settings.SampleRate);
        threshold = AutoLevels.Threshold();
    }
    ctx.Threshold = threshold;
    // In 64 bits: the automatic threshold is the largest int while it takes no tick.
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

// Precision timing runs outside fork mode, when the tick envelope outlasts the refiner's window.
void AnalysisCore::ConfigurePrecision(BufferContext& ctx) {
    if (Settings.PrecisionTiming != 0 && !ctx.ForkMode) {
        Refiner.Configure(Settings.SampleRate);
        ctx.Precise = Refiner.SamplesAfterUnlock() < Derived.LiftSamplesMax;
    }
    if (!ctx.Precise) Detector.PendingRefineAt = -1;
}

void AnalysisCore::OnEnvelopeFull(BufferContext& ctx) {
    DetectorState& det = Detector;
    if (det.UnlockHistory[0] == 0) {
        det.EnvelopeCount = 0;
        det.State = DetectorPhase::Idle;
        return;
    }
    if (Settings.AutoThreshold != 0) NoteUnlockPeak();
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
    }
    if (ctx.DrawFreeRunning) DrawDropMarker(ctx);
    if (ctx.DrawTriggered) DrawTriggeredEnvelope(drop > 0 && drop < count ? drop : -1);
    det.EnvelopeCount = 0;
    det.State = DetectorPhase::Idle;
}

void AnalysisCore::DrawUnlockMarker(const BufferContext& ctx, size_t index) {
    if (!ctx.DrawFreeRunning || ctx.ForkMode) return;
    const int64_t p = ctx.TracePoint(index);
    const int64_t capacity = static_cast<int64_t>(Trace.Points.size());
    if (p < 0 || p >= capacity) return;
    Detector.UnlockMarkerPos = static_cast<int>(p);
    if (p < Trace.Length - 1) Trace.Points[p + 1] = Trace.Points[p];
    if (p < Trace.Length) Trace.Points[p] = UnlockMarker;
}

void AnalysisCore::DrawDropMarker(const BufferContext& ctx) {
    const DetectorState& det = Detector;
    if (det.DropHistory[0] == 0 || det.UnlockMarkerPos == 0) return;
    const double span = static_cast<double>(det.DropHistory[0] - det.UnlockHistory[0]);
    const int64_t p = det.UnlockMarkerPos +
                      RoundHalfAway(span * static_cast<double>(ctx.SlotWidth * ctx.BeatsPerBuffer) /
                                    static_cast<double>(ctx.N));
    if (p < 0) return;
    if (p < Trace.Length - 1) Trace.Points[p + 1] = Trace.Points[p];
    if (p < Trace.Length) Trace.Points[p] = DropMarker;
}

void AnalysisCore::DrawTriggeredEnvelope(int dropIndex) {
    const DetectorState& det = Detector;
    const int length = Trace.Length;
    std::fill(Trace.Points.begin(), Trace.Points.end(), int16_t{0});
    const double scale = Settings.DisplayZoom / Derived.WaveformDecimation;
    int previous = -1;
    for (int k = 0; k < det.EnvelopeCount; ++k) {
        const int index = TriggeredTraceStart + static_cast<int>(k * scale);
        if (index >= length) break;
        const int16_t value =
            static_cast<int16_t>(std::min(det.TickEnvelope[k], HighestEnvelopePoint));
        Trace.Points[index] = std::max(Trace.Points[index], value);
        for (int gap = index - 1; previous >= 0 && gap > previous; --gap)
            Trace.Points[gap] = value;
        previous = index;
    }
    if (TriggeredTraceStart < length) Trace.Points[TriggeredTraceStart] = UnlockMarker;
    if (dropIndex > 0) {
        const int index = TriggeredTraceStart + static_cast<int>(dropIndex * scale);
        if (index < length) Trace.Points[index] = DropMarker;
    }
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
    if (ctx.AutoThreshold) AutoLevels.EndBuffer();
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
    ClampTapeScroll();
    if (ctx.HadUnlock && det.BeatCount % 2 == 0) {
        BeatErrorStep(ctx.ForkMode);
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
