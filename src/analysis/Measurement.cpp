// SPDX-License-Identifier: GPL-3.0-or-later
// Rate, accumulated rate, Allan deviation, beat error, tooth residuals and amplitude.
#include <algorithm>
#include <cmath>
#include <optional>

#include "analysis/AnalysisCore.h"
#include "text/NumberText.h"

namespace kv {

namespace {

// The drop statistics average the first ticks equally, then follow each tick by 1/16: a few beats
// of a changing sound.
constexpr int DropTrustTicks = 16;
// An amplitude is trusted when at least half the ticks have a drop ...
constexpr double LeastDropShare = 0.5;
// ... whose lift times stray on average less than this from their mean: the two pallets' lifts
// differ by a few per cent, drops picked from noise land anywhere.
constexpr double MostLiftScatter = 0.15;

} // namespace

void AnalysisCore::MeasurementStep(int64_t sample, double fraction, int& logMode) {
    MeasurementState& m = Measurement;
    const DetectorState& det = Detector;
    const double fs = EffectiveRate();
    const double T = Derived.BeatPeriod;
    const double M = Derived.MinMeasureInterval;

    if (m.RelockTicks > 0) {
        --m.RelockTicks;
        return;
    }
    if (!m.HasReference) {
        if (det.BeatCount % 2 == 0) {
            m.HasReference = true;
            m.ReferenceTick = sample;
            m.ReferenceFraction = fraction;
        }
        return;
    }
    // Whole samples and the fractions apart: a standard run's fractions are zero and add exactly.
    const double span =
        static_cast<double>(sample - m.ReferenceTick) + (fraction - m.ReferenceFraction);
    m.LastInterval = span / fs;
    if (m.LastInterval < M) return;
    const int64_t beats = static_cast<int64_t>(m.LastInterval / T + 0.5);
    if (m.LastInterval > 3.5 * M || beats % 2 != 0) {
        ResetReference();
        return;
    }
    if (m.ReanchorDeviation) ReanchorDeviation(sample);
    m.TickElapsed = (static_cast<double>(sample - det.FirstTickSample) + fraction) / fs;
    m.Deviation = static_cast<double>(det.BeatCount) * T - m.TickElapsed;
    const double x = (static_cast<double>(beats) * Derived.SamplesPerBeat - span) / fs;
    m.StabilizationRemaining =
        m.StabilizationRemaining > 0.0 ? m.StabilizationRemaining - m.LastInterval : 0.0;

    const double historyWindow = std::max({Params.PositionAveragingTime + Params.Stabilization,
                                           Params.MeasuringTime, 2.0 * T, Params.Tau});
    const double rateWindow = std::max(Params.MeasuringTime - T / 2.0, 1.5 * T);
    const double positionWindow = std::max(Params.PositionAveragingTime - T / 2.0, 1.5 * T);

    m.MeasuredTime += m.LastInterval;
    m.CumulativeDeviation += x;
    m.RateWindowFull = false;
    m.PositionWindowFull = false;
    auto& history = m.DeviationHistory;
    size_t oldest = 0;
    while (history.size() - oldest >= 2) {
        const double age = m.MeasuredTime - history[oldest + 1].Time;
        if (age > rateWindow) m.RateWindowFull = true;
        if (age > positionWindow + Params.Stabilization) m.PositionWindowFull = true;
        if (age <= historyWindow) break;
        ++oldest;
    }
    history.erase(history.begin(), history.begin() + static_cast<std::ptrdiff_t>(oldest));
    history.push_back({m.MeasuredTime, m.CumulativeDeviation});

    const double weight = std::min(M / Params.MeasuringTime, 0.1);
    if (history.size() >= 3) {
        const std::optional<double> rate = RegressRate(rateWindow);
        if (rate) {
            m.Rate = *rate;
            m.RateMeasured = true;
        }
        if (PositionalRunActive()) {
            // Too few points in the position's window: the rate over the whole window stands in.
            std::optional<double> positionRate = RegressRate(positionWindow);
            if (!positionRate) positionRate = rate;
            if (positionRate && m.CurrentPosition <= MaxPositions)
                m.PositionRate[m.CurrentPosition] = *positionRate;
        }
        UpdateAllan();
    }

    if (m.MeasuredTime > 1e-9) {
        const double mean = m.CumulativeDeviation / m.MeasuredTime;
        m.AccumulatedRate =
            Params.Averaging ? weight * mean + (1.0 - weight) * m.AccumulatedRate : mean;
        if (LocalStandardRun) UpdateLocalCalibrationText();
    } else {
        m.AccumulatedRate = 0.0;
        if (LocalStandardRun) m.LocalCalibrationText.clear();
    }

    m.HasReference = det.BeatCount % 2 == 0;
    m.ReferenceTick = m.HasReference ? sample : 0;
    m.ReferenceFraction = m.HasReference ? fraction : 0.0;
    logMode = PositionalRunActive() ? LogForced : LogPeriodic;
}

// Moves the first tick so that the deviation at `sample` carries on from its last value: the
// phase of the sound after a splice says nothing about the watch.
void AnalysisCore::ReanchorDeviation(int64_t sample) {
    MeasurementState& m = Measurement;
    const double sinceFirst =
        static_cast<double>(Detector.BeatCount) * Derived.BeatPeriod - m.Deviation;
    // The anchor may lie before the first sample (a slow watch); 0 would mean "no tick yet".
    const int64_t first = sample - RoundHalfAway(sinceFirst * EffectiveRate());
    Detector.FirstTickSample = first != 0 ? first : -1;
    m.ReanchorDeviation = false;
}

// Least-squares slope of deviation against time over the newest points spanning `window`.
std::optional<double> AnalysisCore::RegressRate(double window) const {
    const auto& history = Measurement.DeviationHistory;
    const DevMes& newest = history.back();
    double count = 0, sx = 0, sy = 0, sxy = 0, sxx = 0;
    for (auto point = history.rbegin(); point != history.rend(); ++point) {
        const double x = point->Time - newest.Time;
        const double y = (point->Deviation - newest.Deviation) * 1e6;
        count += 1;
        sx += x;
        sy += y;
        sxy += x * y;
        sxx += x * x;
        if (-x > window) break;
    }
    const double denominator = count * sxx - sx * sx;
    if (count > 3 && std::fabs(denominator) > 1e-30)
        return (count * sxy - sx * sy) / (denominator * 1e6);
    return std::nullopt;
}

void AnalysisCore::UpdateAllan() {
    MeasurementState& m = Measurement;
    if (m.MeasuredTime - m.AllanLastTime < Params.Tau) return;
    double y = 0.0;
    for (auto point = m.DeviationHistory.rbegin(); point != m.DeviationHistory.rend(); ++point) {
        const double age = m.MeasuredTime - point->Time;
        if (age >= Params.Tau) {
            y = (m.CumulativeDeviation - point->Deviation) / age;
            break;
        }
    }
    if (m.AllanLastRate) {
        const double change = y - *m.AllanLastRate;
        m.AllanCount += 1;
        m.AllanSumSquares += change * change;
        m.AllanDeviation = std::sqrt(0.5 * m.AllanSumSquares / m.AllanCount);
    }
    m.AllanLastRate = y;
    m.AllanLastTime = m.MeasuredTime;
}

void AnalysisCore::UpdateLocalCalibrationText() {
    MeasurementState& m = Measurement;
    const double t = m.MeasuredTime;
    std::string text = FormatC("Local cal for %d:%d:%d\r\n", static_cast<int>(t / 3600.0),
                               static_cast<int>(std::fmod(t, 3600.0) / 60.0),
                               static_cast<int>(std::fmod(t, 60.0)));
    text += FormatC("Dropped frames %u\r\n", static_cast<unsigned>(Detector.OverrunCount));
    if (t > 1.0) {
        const double measuringWith = CalFactorFor(Settings.SampleRate, Settings.Cal);
        const double suggested = measuringWith - m.AccumulatedRate;
        const double inUse = SavedCalFactor > 0.0 ? SavedCalFactor : measuringWith;
        const double trim = Clock.GetTrim();
        text += FormatC("Accumulated rate %+1.4f s/d\r\nCal factor in use %+1.4f s/d\r\n"
                        "Cal factor suggested %+1.4f s/d\r\nTimestamp tuning in use %+1.4f s/d\r\n"
                        "Timestamp tuning suggested %+1.4f s/d\r\n",
                        m.AccumulatedRate * 86400.0, (inUse - 1.0) * 86400.0,
                        (suggested - 1.0) * 86400.0, (trim - 1.0) * 86400.0,
                        (trim / suggested / ClockRegression.TimestampSlope - 1.0) * 86400.0);
    }
    m.LocalCalibrationText = text;
}

void AnalysisCore::BeatErrorStep(bool forkMode) {
    const SampleHistory& h = Detector.UnlockHistory;
    if (forkMode || h[2] == 0 || !(h[0] > h[1] && h[1] > h[2])) {
        Measurement.BeatErrorStable = false;
        return;
    }
    UpdateBeatError(static_cast<double>(h[0] - h[1]), static_cast<double>(h[0] - h[2]));
}

void AnalysisCore::UpdateBeatError(double lastBeat, double lastTwoBeats) {
    MeasurementState& m = Measurement;
    const double r = lastBeat / lastTwoBeats;
    const double raw = (0.5 - r) * 2.0 * Pallets.Sign(); // same sign for the same pallet
    m.BeatErrorStable = std::fabs(raw - m.BeatError) < 0.25;
    const double w = Params.Averaging ? 0.025 : 0.25;
    m.BeatError = (1.0 - w) * m.BeatError + w * raw;
    if (Settings.Logging) {
        m.LogBeatErrorSum += m.BeatError;
        m.LogBeatErrorCount += 1;
    }
    if (PositionalRunActive() && m.StabilizationRemaining <= 0.0 &&
        m.CurrentPosition <= MaxPositions) {
        m.PositionBeatErrorSum[m.CurrentPosition] += std::fabs(m.BeatError);
        m.PositionBeatErrorCount += 1;
    }
}

void AnalysisCore::ToothStep() {
    const int teeth = std::min(Params.EscapeWheelTeeth, MaxTeeth);
    if (Derived.ForkMode() || AutoTrainActive || teeth <= 1) return;
    MeasurementState& m = Measurement;
    const DetectorState& det = Detector;
    const double N = teeth;
    const int k = static_cast<int>((det.BeatCount / 2) % teeth);
    if (k < 0) return;
    if (k == 0) {
        const double c = (N - 1.0) / N * m.ToothDrift;
        double sum = 0.0;
        for (int i = 0; i < teeth; ++i)
            sum += m.ToothMean + m.ToothResidual[i] + m.ToothDrift + (i / (N - 1.0) - 0.5) * c;
        const double mean = sum / N;
        m.ToothDrift = mean - m.ToothMean;
        m.ToothMean = mean;
    }
    const double deviation =
        static_cast<double>(det.BeatCount) * Derived.BeatPeriod -
        static_cast<double>(det.LastTickSample - det.FirstTickSample) / EffectiveRate();
    m.ToothResidual[k] = deviation - m.ToothMean - m.ToothDrift -
                         (k / (N - 1.0) - 0.5) * (N - 1.0) / N * m.ToothDrift;
}

void AnalysisCore::NoteDrop(int drop) {
    MeasurementState& m = Measurement;
    const bool found = drop > 0;
    m.DropTicks = std::min(m.DropTicks + 1, DropTrustTicks);
    m.DropShare += ((found ? 1.0 : 0.0) - m.DropShare) / m.DropTicks;
    if (found) {
        m.LiftTicks = std::min(m.LiftTicks + 1, DropTrustTicks);
        if (m.TypicalLift <= 0.0) m.TypicalLift = drop;
        const double scatter = std::fabs(drop - m.TypicalLift) / m.TypicalLift;
        m.LiftScatter += (scatter - m.LiftScatter) / m.LiftTicks;
        m.TypicalLift += (drop - m.TypicalLift) / m.LiftTicks;
    }
    m.AmplitudeTrusted = m.DropShare >= LeastDropShare && m.LiftScatter <= MostLiftScatter;
}

void AnalysisCore::AmplitudeStep() {
    MeasurementState& m = Measurement;
    const DetectorState& det = Detector;
    double sum = 0.0;
    int pairs = 0;
    for (int j = 0; j < HistoryLength; ++j) {
        if (det.DropHistory[j] != 0 && det.UnlockHistory[j] != 0) {
            sum += static_cast<double>(det.DropHistory[j] - det.UnlockHistory[j]);
            ++pairs;
        }
    }
    if (pairs == 0) return;
    const double T = Derived.BeatPeriod;
    const double lift = sum / pairs / EffectiveRate();
    const double raw = Params.LiftAngle / (2.0 * std::sin(M_PI * lift / (2.0 * T)));

    double span = 0.0;
    if (m.RateWindowFull)
        span = PositionalRunActive() ? Params.PositionAveragingTime : Params.MeasuringTime;
    else if (m.DeviationHistory.size() > 1)
        span = m.DeviationHistory.back().Time - m.DeviationHistory.front().Time;
    double w = span > 1.0 ? 0.5 / span : 0.5;
    if (Params.Averaging) w *= 0.2;
    m.Amplitude = (1.0 - w) * m.Amplitude + (w / 2.0) * (m.LastAmplitude + raw);
    m.LastAmplitude = raw;

    if (PositionalRunActive() && m.StabilizationRemaining <= 0.0 &&
        m.CurrentPosition <= MaxPositions) {
        m.PositionLiftSum[m.CurrentPosition] += lift;
        m.PositionLiftCount += 1;
    }
    if (Settings.Logging) {
        m.LogLiftSum += lift;
        m.LogLiftCount += 1;
    }
}

void AnalysisCore::ResetReference() {
    const auto lock = HoldAnalysis();
    Measurement.HasReference = false;
    Measurement.ReferenceTick = 0;
    Measurement.ReferenceFraction = 0.0;
    Measurement.LastInterval = 0.0;
}

void AnalysisCore::ResetMeasurement() {
    const auto lock = HoldAnalysis();
    MeasurementState& m = Measurement;
    m.AccumulatedRate = 0.0;
    m.MeasuredTime = 0.0;
    m.CumulativeDeviation = 0.0;
    m.DeviationHistory.clear();
    m.RateWindowFull = false;
    m.Rate = 0.0;
    m.RateMeasured = false;
    m.Deviation = 0.0;
    m.TickElapsed = 0.0;
    RestartAllan();
    m.ToothResidual.fill(0.0);
    m.ToothMean = 0.0;
    m.ToothDrift = 0.0;
}

void AnalysisCore::RestartAllan() {
    const auto lock = HoldAnalysis();
    MeasurementState& m = Measurement;
    m.AllanCount = 0;
    m.AllanDeviation = 0.0;
    m.AllanSumSquares = 0.0;
    m.AllanLastRate.reset();
    m.AllanLastTime = 0.0;
}

void AnalysisCore::Clear(const std::string& measuringTimeText) {
    SetMeasuringTime(measuringTimeText);
    ResetMeasurement();
    const auto lock = HoldAnalysis();
    Detector.FirstTickSample = 0;
    Detector.LastTickSample = 0;
    Detector.UnlockHistory.fill(0);
    Detector.DropHistory.fill(0);
    Detector.TimedTicks = {};
    Detector.EnvelopeCount = 0;
    Detector.PendingRefineAt = -1;
    Refiner.Reset();
}

} // namespace kv
