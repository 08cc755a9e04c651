// SPDX-License-Identifier: GPL-3.0-or-later
// The beat analysis: parameters, the tick detector and ProcessBuffer, the measurement of rate,
// beat error and amplitude, the paper tape and automatic train detection. The measuring view owns
// one instance; the command-line analyser drives another. Everything here is guarded by
// AnalysisLock; ProcessBuffer holds it for a whole buffer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "analysis/AnalysisHost.h"
#include "analysis/AnalysisParameters.h"
#include "analysis/AnalysisState.h"
#include "analysis/AutoThreshold.h"
#include "analysis/LevelControl.h"
#include "analysis/PalletIdentity.h"
#include "analysis/TickRefiner.h"
#include "timebase/SampleClock.h"

namespace kv {

// The automatic gain's step size where no input fader is bound (a software gain, the playback
// gain, the command-line analyser): a 100-position fader's step on the 0..65535 level scale.
inline constexpr int SoftwareGainStep = 655;

class AnalysisCore {
public:
    explicit AnalysisCore(AnalysisHost& host, TimestampClock& clock = ProcessTimestampClock());
    // The clock that stamps buffers and ticks.
    const TimestampClock& Timestamps() const { return Clock; }

    // --- Locks ---
    // AnalysisLock keeps the capture thread out while the caller reads or changes the state
    // below: ProcessBuffer holds it for a whole buffer on the capture thread; the measuring
    // session, the settings and log code it calls, and the command-line analyser take it on
    // their own thread. The calibration engine's lock, where it is needed as well, is taken
    // first. AnalysisLock is recursive: a holder may call operations that take it again.
    using Hold = std::unique_lock<std::recursive_mutex>;
    [[nodiscard]] Hold HoldAnalysis() const { return Hold(AnalysisLock); }
    [[nodiscard]] Hold TryHoldAnalysis() const { return Hold(AnalysisLock, std::try_to_lock); }

    // --- State (read and written under HoldAnalysis) ---
    AnalysisParameters Params;
    AnalysisSettings Settings;
    DerivedConstants Derived;
    DetectorState Detector;
    MeasurementState Measurement;
    TapeState Tape;
    WaveformTrace Trace;
    SampleCounterRegression ClockRegression;
    TickRefiner Refiner;      // precision timing of the unlocks
    AutoThreshold AutoLevels; // noise floor and unlock peaks for the automatic threshold
    LevelControl Levels;      // tick peaks and noise the automatic gain step aims with
    PalletIdentity Pallets;   // which parity of the beat count holds which pallet
    // The threshold the detector uses: the automatic one while it is on, else the set one.
    int UnlockThresholdInForce() const {
        return Detector.ThresholdInForce > 0 ? Detector.ThresholdInForce : Params.UnlockThreshold;
    }

    // A local-standard calibration runs: the capture thread keeps Measurement's
    // LocalCalibrationText, and trains may not change. Set by the calibration engine with its mode
    // word; atomic because the capture thread reads it without the engine's lock.
    std::atomic<bool> LocalStandardRun{false};
    bool NoSignal = false;
    bool CentringPending = false;
    int CentringCountdown = 0;
    double BufferAdjust = 0.0;
    double PlaybackGain = 1.0;
    bool PlayingBack = false;
    // Live input with no input fader to move: the automatic gain step moves this software gain
    // applied to the filtered signal instead (a playback keeps its own playback gain).
    bool SoftwareInputGain = false;
    double InputGain = 1.0;
    // The factor that was in use when a local-standard run started (the run measures with 1.0
    // and shows this one as in use); 0 when none. Set by the calibration under both locks.
    double SavedCalFactor = 0.0;
    bool AutoTrainActive = false;
    double SavedBeatPeriod = 0.0;
    std::string PromptText;
    bool PositionalRunActive() const { return Measurement.CurrentPosition != 0; }
    // Precision timing is on when set, and always under automatic level control.
    bool PrecisionTimingInForce() const {
        return Settings.PrecisionTiming != 0 || Settings.AGC != 0;
    }

    // --- Trains and parameters ---
    bool ParseTrain(const std::string& text);
    void ApplyTrain(double period);
    void SetBeatPeriod(double period);
    void RecomputeConstants();
    // The trace's points per beat at display zoom 1: the width of the screen the view draws on.
    // Takes effect at the next RecomputeConstants.
    void SetTraceWidth(int pixels);
    bool SetMeasuringTime(const std::string& text);
    // A blank text is ignored (false); any other is read as degrees and limited.
    bool SetLiftAngle(const std::string& text);
    void SelectEscapement(EscapementType type);
    void RaiseUnlockThreshold();
    void LowerUnlockThreshold();
    double EffectiveRate() const { return EffectiveSampleRate(Settings.SampleRate, Settings.Cal); }

    // --- Measuring loop hooks ---
    // Resets for a new run: derived values, detector, tooth residuals, centring flag; counts a
    // tape restart.
    void BeginRun();
    // Ends a run: clears the centring flag and Running, frees the tick envelope.
    void EndRun();
    void CentreNow();
    void OnAutoStopTimer(bool referenceCalibrationRunning = false);
    unsigned AutoStopDelayMs() const;
    // The automatic gain step after a buffer: with input level control `level` and step size
    // `step`, returns the new level, or nothing when the level stays. Clipping steps down in
    // proportion; otherwise the typical tick is aimed at three times the set threshold while the
    // noise between ticks stays under half of it (see LevelControl). Nothing changes while a tick
    // is being collected or awaits precision timing. During playback the playback gain follows by
    // 1 %, on live input with SoftwareInputGain the input gain.
    std::optional<int> AutomaticGainStep(int step, int level);

    // --- Buffer processing (capture thread) ---
    // `endCounter`: the counter value at which the buffer's last sample arrived; without it the
    // counter is read when the buffer is processed.
    void ProcessBuffer(size_t n, int16_t* samples, int remaining,
                       std::optional<int64_t> endCounter = std::nullopt);
    void ResetDetector();

    // --- Measurement ---
    void ResetMeasurement();
    void ResetReference();
    void Clear(const std::string& measuringTimeText);
    void RestartAllan();

    // --- Tape ---
    void ClearTape();
    void SetFeedNormal();
    void ToggleFeed(int code);

    // --- Automatic train detection ---
    void StartTrainDetection();
    bool TrainDetectionStep();
    // Second press of the Train button: stops detection; the caller re-applies the tool-bar boxes.
    void AbandonTrainDetection();
    unsigned TrainStepDelayMs(double period) const;

private:
    mutable std::recursive_mutex AnalysisLock;
    AnalysisHost& Host;
    TimestampClock& Clock;
    // Points per beat of the trace at display zoom 1 until the view says its screen's width.
    static constexpr int DefaultTraceWidth = 1920;
    int TraceWidth = DefaultTraceWidth;

    struct BufferContext; // per-buffer values fixed for the whole buffer
    template <int FilterKind> void AnalyseSamples(BufferContext& ctx, int16_t* samples);
    void BufferPrologue(BufferContext& ctx, int16_t* samples, int remaining);
    void BufferEpilogue(BufferContext& ctx, int remaining);
    void OnUnlock(BufferContext& ctx, int64_t sample, size_t index, int level);
    void CompletePendingUnlock(BufferContext& ctx);
    void ConfigurePrecision(BufferContext& ctx);
    void ChooseThreshold(BufferContext& ctx);
    void NoteUnlockPeak();
    void RejoinAfterSplice();
    void FollowLock(int64_t sample, double beatsSinceLast);
    bool SameEventAsFirstTick(int64_t sample) const;
    void ReanchorDeviation(int64_t sample);
    void OnEnvelopeFull(BufferContext& ctx);
    void RecordMissedBeat(const BufferContext& ctx);
    void FreeRunningSlotStart(BufferContext& ctx);
    void DrawUnlockMarker(const BufferContext& ctx, size_t index);
    void DrawDropMarker(const BufferContext& ctx);
    void DrawTriggeredEnvelope(int dropIndex);

    // `fraction`: samples precision timing adds to the detected unlock `sample`.
    void MeasurementStep(int64_t sample, double fraction, int& logMode);
    // Nothing while the window holds too few points for a slope.
    std::optional<double> RegressRate(double window) const;
    void UpdateAllan();
    void UpdateLocalCalibrationText();
    void BeatErrorStep(bool forkMode);
    // `lastBeat`: the newest beat's length; `lastTwoBeats`: it and the one before, in samples.
    void UpdateBeatError(double lastBeat, double lastTwoBeats);
    void NoteTimedTick(int64_t beat, double time);
    void BeatErrorFromTimedTicks();
    void ToothStep();
    void AmplitudeStep();
    // Follows whether ticks have a drop (its envelope index, or -1) at a steady lift time.
    void NoteDrop(int drop);

    void AdvanceTape();
    void EnterTape();

    void ReallocateWaveformTrace();
};

} // namespace kv
