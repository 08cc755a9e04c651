// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic train detection: try the fastest standard train, compare the measured beat interval
// with the standard intervals 2/i s, and step down one standard train at a time.
#include <cmath>

#include "analysis/AnalysisCore.h"

namespace kv {

namespace {

// A measured interval matches a standard one within about 1 %.
constexpr double MatchTolerance = 0.0104;
// The standard beat intervals are 2/i seconds for i = 1..20; the shortest, 0.1 s, less the
// tolerance is the shortest interval worth matching.
constexpr int StandardDivisors = 20;
constexpr double StandardIntervalsSeconds = 2.0;
constexpr double ShortestMatchedInterval = 0.09896;
// A train is given six beats to show its interval before the next step.
constexpr double StepDelayBeatsMs = 6000.0;
constexpr const char* DetectionPrompt =
    "Attempting train detection.\r\n Press 'Train' button again to abandon";

} // namespace

unsigned AnalysisCore::TrainStepDelayMs(double period) const {
    return static_cast<unsigned>(period * StepDelayBeatsMs + 0.5);
}

void AnalysisCore::StartTrainDetection() {
    if (!Measurement.Running) return;
    SavedBeatPeriod = Derived.BeatPeriod;
    Params.TickInterval = FormatTrain(0.1);
    ApplyTrain(0.1);
    Host.StartTimer(TimerTrainDetect, TrainStepDelayMs(Derived.BeatPeriod));
    PromptText = DetectionPrompt;
    const auto lock = HoldAnalysis();
    AutoTrainActive = true;
}

void AnalysisCore::AbandonTrainDetection() {
    Host.KillTimer(TimerTrainDetect);
    const auto lock = HoldAnalysis();
    AutoTrainActive = false;
}

bool AnalysisCore::TrainDetectionStep() {
    double meanInterval = 0.0, newestInterval = 0.0;
    {
        const auto lock = HoldAnalysis();
        const SampleHistory& h = Detector.UnlockHistory;
        if (h[3] == 0) {
            if (AutoTrainActive)
                Host.StartTimer(TimerTrainDetect, TrainStepDelayMs(Derived.BeatPeriod));
            return false;
        }
        const double fs = EffectiveRate();
        meanInterval = static_cast<double>((h[0] - h[3]) + (h[1] - h[2])) / (4.0 * fs);
        newestInterval = static_cast<double>(h[0] - h[2]) / (2.0 * fs);
    }

    const double L = meanInterval;
    if (L > ShortestMatchedInterval && std::fabs(L - newestInterval) / L < MatchTolerance) {
        for (int i = 1; i <= StandardDivisors; ++i) {
            const double standard = StandardIntervalsSeconds / i;
            if (std::fabs(L - standard) / standard < MatchTolerance) {
                Params.TickInterval = FormatTrain(standard);
                {
                    const auto lock = HoldAnalysis();
                    AutoTrainActive = false;
                }
                ApplyTrain(standard);
                return true;
            }
        }
    }

    if (Derived.BeatPeriod < 1.0) {
        const double slower =
            2.0 / static_cast<double>(RoundHalfAway(2.0 / Derived.BeatPeriod) - 1);
        Params.TickInterval = FormatTrain(slower);
        ApplyTrain(slower);
        const auto lock = HoldAnalysis();
        if (AutoTrainActive) Host.StartTimer(TimerTrainDetect, TrainStepDelayMs(slower));
        return false;
    }

    if (SavedBeatPeriod > 0.0) {
        Params.TickInterval = FormatTrain(SavedBeatPeriod);
        ApplyTrain(SavedBeatPeriod);
        SavedBeatPeriod = 0.0;
    }
    const auto lock = HoldAnalysis();
    AutoTrainActive = false;
    return false;
}

} // namespace kv
