// SPDX-License-Identifier: GPL-3.0-or-later
// Parameters, trains and the measuring-loop hooks of the analysis core.
#include <algorithm>
#include <cmath>

#include "analysis/AnalysisCore.h"
#include "text/NumberText.h"

namespace kv {

namespace {

// A full capture ring until the first train sets the count it needs.
constexpr int InitialCaptureBuffers = MaxCaptureBuffers;
// The tuning fork's sound is magnified: a quarter-size trace zoom and half the display zoom.
constexpr double ForkZoom = 0.25;
constexpr double ForkDisplayZoom = 0.5;
constexpr double LeverZoom = 1.0;
constexpr const char* ForkTrain = "300 Hz";
// One step of the unlock threshold is 1 % of full scale.
constexpr int UnlockThresholdStep = 327;
constexpr int LowestUnlockThreshold = 1;
// The gain control steps down by one for every 30 clipped samples in a buffer.
constexpr int ClipsPerGainStep = 30;
// A tuning fork's gain steps up while the buffer's peak stays below 85 % of full scale.
constexpr int GainUpPeakLevel = 27852;
// A fader step's gain is taken as the cube of the level's ratio, as sound servers map their volume;
// an ALSA dB scale of a hundred positions steps by less.
constexpr double FaderGainExponent = 3.0;
// One gain step on a playback is 1 %: up multiplies by 1.01, down by 1/1.01 (0.99009901).
constexpr double PlaybackGainStepUp = 1.01;
constexpr double PlaybackGainStepDown = 0.9900990099009901;
// The software input gain reaches as far as a sound card's capture volume does, -24 .. +48 dB:
// beyond that a silent input would only raise its noise without end.
constexpr double LowestInputGain = 1.0 / 16;
constexpr double HighestInputGain = 256.0;
constexpr int HighestInputLevel = 65535; // the input level control at its top
// The automatic stop waits 30 beats without a tick, and at least five seconds.
constexpr double AutoStopBeats = 30.0;
constexpr unsigned ShortestAutoStopMs = 5000;
constexpr double MillisecondsPerSecond = 1000.0;

// The gain of moving a fader from one level to another; a fader at zero counts as one step.
double FaderRatio(int from, int to, int step) {
    return std::pow(static_cast<double>(std::max(to, step)) / std::max(from, step),
                    FaderGainExponent);
}

} // namespace

AnalysisCore::AnalysisCore(AnalysisHost& host, TimestampClock& clock) : Host(host), Clock(clock) {
    Derived.CaptureBufferCount = InitialCaptureBuffers;
}

bool AnalysisCore::ParseTrain(const std::string& text) {
    const TrainText parsed = ParseTrainText(text);
    switch (parsed.Kind) {
    case TrainTextKind::TooShort:
        Params.TickInterval = FormatTrain(Derived.BeatPeriod);
        Host.RefreshTrainBox();
        return false;
    case TrainTextKind::StartAuto:
        StartTrainDetection();
        return false;
    case TrainTextKind::StepAuto:
        return TrainDetectionStep();
    case TrainTextKind::Rejected:
        return false;
    case TrainTextKind::Period:
        ApplyTrain(parsed.Period);
        return true;
    }
    return false;
}

void AnalysisCore::ApplyTrain(double period) {
    if (LocalStandardRun) return;
    const bool wasRunning = Measurement.Running;
    if (wasRunning) Host.StopMeasurement();
    SetBeatPeriod(period);
    Host.RefreshTrainBox();
    ResetMeasurement();
    if (wasRunning) Host.StartMeasurement();
}

void AnalysisCore::SetBeatPeriod(double period) {
    const auto lock = HoldAnalysis();
    const double oldPeriod = Derived.BeatPeriod;
    Derived.BeatPeriod = period;
    Derived.BeatsPerBuffer = BeatsPerBufferFor(period);
    Derived.BuffersPerBeat = BuffersPerBeatFor(period);
    Derived.MinMeasureInterval = MinMeasureIntervalFor(period);
    ResetDetector();
    Derived.CaptureBufferCount = CaptureBufferCountFor(period, Settings.MinBuffers);
    Host.SetCaptureRingSize(Derived.CaptureBufferCount);
    Host.SetOutputRingSize(2);
    RecomputeConstants();
    ReallocateWaveformTrace();
    Host.SetCaptureSamplesPerBuffer(Derived.SamplesPerBuffer);
    ResetReference();
    const double twoBeats = static_cast<double>(RoundHalfAway(2.0 * period));
    if (twoBeats > Params.MeasuringTime) {
        Params.MeasuringTime = twoBeats;
        Host.RefreshMeasuringTimeBox();
    }
    if (period < ForkModePeriod) {
        Settings.Zoom = ForkZoom;
        Trace.Zoom = ForkDisplayZoom;
        Host.TraceZoomReset(ForkDisplayZoom);
        Params.Coaxial = static_cast<int>(EscapementType::TuningFork);
        RecomputeConstants();
    } else if (oldPeriod < ForkModePeriod && period >= ForkModePeriod) {
        Settings.Zoom = LeverZoom;
        Params.Coaxial = static_cast<int>(EscapementType::Lever);
        RecomputeConstants();
    }
    ClockRegression.Reset();
}

void AnalysisCore::ReallocateWaveformTrace() {
    Trace.Length = Derived.WaveformTraceLength;
    Trace.Points.assign(static_cast<size_t>(3 * Trace.Length / 2), int16_t{0});
    Trace.Markers.Clear();
}

void AnalysisCore::RecomputeConstants() {
    const auto lock = HoldAnalysis();
    ComputeSampleConstants(Derived, Params, EffectiveRate(), TraceWidth);
    Detector.TickEnvelope.assign(static_cast<size_t>(Derived.LiftSamplesMax + 1), 0);
    Detector.EnvelopeCount = 0;
    if (Detector.State == DetectorPhase::CollectTick) Detector.State = DetectorPhase::Idle;
}

void AnalysisCore::SetTraceWidth(int pixels) {
    const auto lock = HoldAnalysis();
    TraceWidth = pixels;
}

bool AnalysisCore::SetMeasuringTime(const std::string& text) {
    std::optional<double> seconds;
    {
        const auto lock = HoldAnalysis();
        seconds = ParseMeasuringTime(text, Derived.BeatPeriod, Derived.MinMeasureInterval);
        if (seconds) Params.MeasuringTime = *seconds;
    }
    if (seconds) Host.RefreshMeasuringTimeBox();
    return seconds.has_value();
}

bool AnalysisCore::SetLiftAngle(const std::string& text) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return false;
    {
        const auto lock = HoldAnalysis();
        Params.LiftAngle = ClampLiftAngle(ParseLeadingDouble(text));
    }
    RecomputeConstants();
    Host.RefreshLiftAngleBox();
    return true;
}

void AnalysisCore::SelectEscapement(EscapementType type) {
    static const char* const LeaveForkTrain[] = {"28800 VPH", "25200 VPH", "28800 VPH",
                                                 "18000 VPH", "18000 VPH", "1 sec"};
    const bool forkNow = Params.Escapement() == EscapementType::TuningFork;
    if (type == EscapementType::TuningFork) {
        if (!forkNow) {
            Params.TickInterval = ForkTrain;
            ParseTrain(Params.TickInterval);
        }
        return;
    }
    if (forkNow) {
        Params.TickInterval = LeaveForkTrain[static_cast<int>(type)];
        ParseTrain(Params.TickInterval);
    }
    {
        const auto lock = HoldAnalysis();
        Params.Coaxial = static_cast<int>(type);
    }
    RecomputeConstants();
}

void AnalysisCore::RaiseUnlockThreshold() {
    {
        const auto lock = HoldAnalysis();
        Params.UnlockThreshold = std::min(Params.UnlockThreshold + UnlockThresholdStep, FullScale);
    }
    Host.RequestRepaint();
}

void AnalysisCore::LowerUnlockThreshold() {
    {
        const auto lock = HoldAnalysis();
        Params.UnlockThreshold =
            std::max(Params.UnlockThreshold - UnlockThresholdStep, LowestUnlockThreshold);
    }
    Host.RequestRepaint();
}

void AnalysisCore::ResetDetector() {
    const auto lock = HoldAnalysis();
    DetectorState& det = Detector;
    det.UnlockHistory.fill(0);
    det.DropHistory.fill(0);
    det.TimedTicks = {};
    det.LastTickSample = 0;
    det.EnvelopeCount = 0;
    det.FirstTickSample = 0;
    det.BeatCount = 0;
    det.ConsistentTicks = 0;
    det.Locked = false;
    det.SamplePosition = 0;
    det.SpliceSample = -1;
    det.PendingRefineAt = -1;
    Refiner.Reset();
    AutoLevels.Reset();
    Levels.Configure(Settings.SampleRate);
    Levels.Reset();
    Measurement.RelockTicks = 0;
    Measurement.ReanchorDeviation = false;
    Measurement.Deviation = 0.0;
    Measurement.TickElapsed = 0.0;
    det.State = DetectorPhase::Idle;
    det.SilenceCount = 0;
    det.PeakLevel = HalfScale;
    det.NoiseLevel = 0;
    det.ClipCount = 0;
    Measurement.BeatErrorStable = false;
    Measurement.BeatError = 0.0;
    Measurement.AmplitudeTrusted = false;
    Measurement.DropShare = 0.0;
    Measurement.TypicalLift = 0.0;
    Measurement.LiftScatter = 0.0;
    Measurement.DropTicks = 0;
    Measurement.LiftTicks = 0;
    Measurement.LogLiftSum = 0.0;
    Measurement.LogLiftCount = 0;
    Measurement.LogBeatErrorSum = 0.0;
    Measurement.LogBeatErrorCount = 0;
    ResetReference();
    BufferAdjust = 0.0;
    det.TickOffset = 0;
    det.TickOffsetFraction = 0.0;
    Measurement.Rate = 0.0;
    Measurement.RateMeasured = false;
    Derived.DatumSamples = static_cast<int>((EffectiveRate() * Derived.BeatPeriod + 1.0) * 0.5);
}

void AnalysisCore::BeginRun() {
    const auto lock = HoldAnalysis();
    if (!AutoTrainActive) PromptText.clear();
    SetBeatPeriod(Derived.BeatPeriod);
    Measurement.ToothResidual.fill(0.0);
    Measurement.ToothMean = 0.0;
    Measurement.ToothDrift = 0.0;
    ++Tape.Restarts;
    CentringPending = Settings.Centre != 0;
    Detector.OverrunCount = 0;
    Detector.UnpaintedBuffers = 0;
    Measurement.Running = true;
    Trace.Frozen = false;
}

void AnalysisCore::EndRun() {
    const auto lock = HoldAnalysis();
    CentringPending = false;
    CentringCountdown = 0; // a stopped capture is not being centred, nor shown as such
    Measurement.Running = false;
    Detector.TickEnvelope.clear();
    Detector.TickEnvelope.shrink_to_fit();
    Detector.EnvelopeCount = 0;
    if (Detector.State == DetectorPhase::CollectTick) Detector.State = DetectorPhase::Idle;
}

void AnalysisCore::CentreNow() {
    const auto lock = HoldAnalysis();
    CentringCountdown = 2 * Derived.CaptureBufferCount;
    BufferAdjust = Detector.TickOffset;
}

std::optional<int> AnalysisCore::AutomaticGainStep(int step, int level) {
    if (step == 0) return std::nullopt;
    const auto lock = HoldAnalysis();
    // A gain change inside a tick would bend its envelope and its timing: it waits for the gap.
    if (Detector.State == DetectorPhase::CollectTick || Detector.PendingRefineAt >= 0)
        return std::nullopt;
    double* gain = PlayingBack ? &PlaybackGain : SoftwareInputGain ? &InputGain : nullptr;
    const int raised = std::min(level + step, HighestInputLevel);
    int down = (Detector.ClipCount * step) / ClipsPerGainStep;
    if (down == 0) {
        LevelControl::Step advice = LevelControl::Step::Hold;
        if (Derived.ForkMode()) // a fork's steady tone has no gaps of noise: its peak is aimed at
            advice = Detector.PeakLevel < GainUpPeakLevel ? LevelControl::Step::Up : advice;
        else if (!AutoTrainActive) // train detection scales the signal to its own peak
            advice = Levels.Advise(Params.UnlockThreshold,
                                   gain ? PlaybackGainStepUp : FaderRatio(level, raised, step));
        if (advice == LevelControl::Step::Hold) return std::nullopt;
        if (advice == LevelControl::Step::Down) down = step;
    }
    const int next = down > 0 ? std::max(level - down, step) : raised;
    double ratio = FaderRatio(level, next, step);
    if (gain) {
        const double before = *gain;
        *gain *= down > 0 ? PlaybackGainStepDown : PlaybackGainStepUp;
        if (gain == &InputGain)
            InputGain = std::clamp(InputGain, LowestInputGain, HighestInputGain);
        ratio = *gain / before;
    }
    Levels.Scale(ratio);
    return next;
}

unsigned AnalysisCore::AutoStopDelayMs() const {
    return std::max(ShortestAutoStopMs, static_cast<unsigned>(Derived.BeatPeriod * AutoStopBeats *
                                                              MillisecondsPerSecond));
}

void AnalysisCore::OnAutoStopTimer(bool referenceCalibrationRunning) {
    if (!Settings.Autostop || referenceCalibrationRunning) return;
    const auto lock = HoldAnalysis();
    NoSignal = true;
    Measurement.Rate = 0.0;
    Measurement.RateMeasured = false;
    Measurement.Amplitude = 0.0;
    Measurement.LastAmplitude = 0.0;
    Measurement.BeatErrorStable = false; // no longer a current reading
}

} // namespace kv
