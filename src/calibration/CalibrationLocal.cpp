// SPDX-License-Identifier: GPL-3.0-or-later
// The local-standard run: the analysis measures a reference that ticks at exactly its nominal rate
// with the factor 1.0 in use, and finishing offers the factor and timestamp trim it found.
#include <cmath>

#include "calibration/CalibrationEngine.h"
#include "text/NumberText.h"

namespace kv {

namespace {

constexpr double RestorableFactorDistance = 0.1; // |saved - 1| below this is a real factor
constexpr double ShortestLocalRunSeconds = 60.0; // a shorter run measures too little to use

} // namespace

void CalibrationEngine::StartLocalCalibration() {
    {
        const auto calibration = Shared.HoldLock();
        const auto analysis = Core.HoldAnalysis();
        Core.SavedCalFactor = 0.0;
    }
    LeaveLocalCalibration();
    const auto calibration = Shared.HoldLock();
    const auto analysis = Core.HoldAnalysis();
    Core.SavedCalFactor = CalFactorFor(Core.Settings.SampleRate, Core.Settings.Cal);
    SetFactorLocked(1.0);
    Shared.SetMode(LocalCalibrationMode);
}

void CalibrationEngine::RestoreSavedFactorLocked() {
    if (std::fabs(Core.SavedCalFactor - 1.0) >= RestorableFactorDistance) return;
    SetFactorLocked(Core.SavedCalFactor);
    Core.SavedCalFactor = 0.0;
}

void CalibrationEngine::LeaveLocalCalibration() {
    const auto calibration = Shared.HoldLock();
    const auto analysis = Core.HoldAnalysis();
    Shared.SetMode(calflags::None);
    Core.ResetMeasurement();
    Core.Measurement.LocalCalibrationText.clear();
    Shared.Text().clear();
    RestoreSavedFactorLocked();
    Core.ClockRegression.Restart();
}

void CalibrationEngine::FinishLocalCalibration() {
    double measured, suggested, suggestedTrim, trim, saved;
    {
        const auto calibration = Shared.HoldLock();
        const auto analysis = Core.HoldAnalysis();
        measured = Core.Measurement.MeasuredTime;
        suggested = CalFactorFor(Core.Settings.SampleRate, Core.Settings.Cal) -
                    Core.Measurement.AccumulatedRate;
        trim = Clocks.Timestamps.GetTrim();
        suggestedTrim = trim / suggested / Core.ClockRegression.TimestampSlope;
        saved = Core.SavedCalFactor;
    }
    CalibrationQuestions& ask = Host.Questions();
    if (measured < ShortestLocalRunSeconds) {
        if (ask.Ask("Less than 60 seconds has elapsed. Do you want to abandon this measurement?",
                    QuestionButtons::YesNo, QuestionIcon::Information) == Answer::Yes)
            LeaveLocalCalibration();
        return;
    }
    const Answer apply = ask.Ask(
        FormatC("Time elapsed %1.1f secs \nCal factor in use %+1.3f s/d\nCal factor suggested "
                "%+1.3f s/d \nClick 'Yes' to apply, 'No' to continue measurement or 'Cancel' to "
                "abandon.",
                measured, FactorToSecondsPerDay(saved), FactorToSecondsPerDay(suggested)),
        QuestionButtons::YesNoCancel, QuestionIcon::Information);
    if (apply == Answer::No) return;
    if (apply == Answer::Cancel) {
        LeaveLocalCalibration();
        return;
    }
    if (ApplyCalFactor(suggested)) {
        const auto calibration = Shared.HoldLock();
        const auto analysis = Core.HoldAnalysis();
        Core.SavedCalFactor = 0.0;
    }
    LeaveLocalCalibration();
    if (ask.Ask(FormatC("Timestamp tuning in use %+1.4f s/d\nTimestamp tuning suggested %+1.4f "
                        "s/d\nClick 'Yes' to apply, 'No' to leave unchanged.",
                        FactorToSecondsPerDay(trim), FactorToSecondsPerDay(suggestedTrim)),
                QuestionButtons::YesNo, QuestionIcon::Information) == Answer::Yes) {
        const auto calibration = Shared.HoldLock();
        const auto analysis = Core.HoldAnalysis();
        if (Clocks.Timestamps.SetTrim(suggestedTrim)) Core.ClockRegression.Restart();
    }
    Host.SaveSettings();
}

} // namespace kv
