// SPDX-License-Identifier: GPL-3.0-or-later
// CalibrationUpdate: the fit of the bins, the status text and, when the user asked to finish,
// the end of the run.
#include <algorithm>
#include <cmath>

#include "calibration/CalibrationEngine.h"
#include "text/NumberText.h"

namespace kv {

namespace {

constexpr double SecondsPerDay = 86400.0;
constexpr double LongestWindowSeconds = 43200.0; // twelve hours of bins
constexpr double StatisticsIntervals = 3.0;      // update intervals before a fit is shown

struct Elapsed {
    int Hours, Minutes, Seconds;
};
Elapsed SplitElapsed(double e) {
    return {static_cast<int>(e / 3600.0), static_cast<int>(std::fmod(e, 3600.0) / 60.0),
            static_cast<int>(std::fmod(e, 60.0))};
}

} // namespace

void CalibrationEngine::RequestEndCalibration() {
    Host.KillTimer(TimerCalibrationCycle);
    {
        const auto calibration = Shared.HoldLock();
        Shared.SetMode((Shared.Mode() & ~calflags::Paused) | calflags::Finishing);
    }
    WaitForWorker(std::chrono::milliseconds(EndWaitMs));
    Hold calibration = Shared.HoldLock();
    CalibrationUpdate(calibration);
}

double CalibrationEngine::ElapsedReferenceSeconds() const {
    return std::min(static_cast<double>(Bins.TotalTime) / Units100nsPerSecond,
                    LongestWindowSeconds);
}

void CalibrationEngine::CalibrationUpdate(Hold& calibration) {
    std::string& text = Shared.Text();
    if (!calflags::IsReferenceRun(Shared.Mode())) {
        text.clear();
        return;
    }
    text.clear();
    const double e = ElapsedReferenceSeconds();
    const Elapsed shown = SplitElapsed(e);
    const auto age = static_cast<int>((TickCount() - LastUpdateTick) / 1000);
    const double inUse =
        FactorToSecondsPerDay(CalFactorFor(Core.Settings.SampleRate, Core.Settings.Cal));
    const bool finishing = (Shared.Mode() & calflags::Finishing) != 0;
    if (e > App.CalUpdateInterval * StatisticsIntervals / 1000.0) {
        const calfit::Line fit = calfit::FitLine(Bins);
        const double a = fit.Slope, b = fit.Intercept;
        const double confidence = Envelope.Confidence(fit, e);
        if (finishing) {
            EndOfRunDialog(calibration, a,
                           FormatC("Time elapsed %02d:%02d:%02d\r\nCal factor in use %+1.4f s/d\r\n"
                                   "Cal factor suggested %+1.4f s/d\r\nLast time correction %d "
                                   "seconds ago.\r\nConfidence +/- %1.4f s/d \r\n",
                                   shown.Hours, shown.Minutes, shown.Seconds, inUse,
                                   FactorToSecondsPerDay(a), age, confidence * SecondsPerDay));
            return;
        }
        text = ReferenceStatusText +
               FormatC("\r\nTime elapsed %02d:%02d:%02d\r\nCal factor in use %+1.4f s/d\r\n"
                       "Cal factor suggested %+1.4f s/d\r\nConfidence +/- %1.4f s/d\r\n",
                       shown.Hours, shown.Minutes, shown.Seconds, inUse, FactorToSecondsPerDay(a),
                       confidence * SecondsPerDay);
        if (App.CalDebug) {
            const double gross = static_cast<double>(Bins.TotalSamples) / e;
            text += FormatC("Timestamp cal in use %+1.4f s/d\r\nLSF slope %1.9f\r\nLSF intercept "
                            "%+1.9f\r\nGross slope %1.9f\r\nGross cal factor %+1.4f\r\nMax slope "
                            "%1.9f\r\nMin slope %+1.9f\r\n",
                            FactorToSecondsPerDay(Clocks.Timestamps.GetTrim()), a, b, gross,
                            FactorToSecondsPerDay(gross / Core.Settings.SampleRate),
                            Envelope.High(), Envelope.Low());
        }
    } else if (finishing) {
        FinishShortRun(calibration);
        return;
    } else {
        Envelope.Reset();
        text = ReferenceStatusText +
               FormatC("\r\nSynchronising calibration\r\nTime elapsed %02d:%02d:%02d\r\nCal "
                       "factor in use %+1.4f s/d\r\n",
                       shown.Hours, shown.Minutes, shown.Seconds, inUse);
    }
    NextReadingLocked();
}

void CalibrationEngine::NextReadingLocked() {
    if (calflags::IsActiveReferenceRun(Shared.Mode()))
        StartCycleTimer((Shared.Mode() & calflags::StartPhase)
                            ? ResumeDelayMs
                            : static_cast<unsigned>(std::max(App.CalUpdateInterval, 1)));
}

// Finishing before a fit can be shown: a run without points just ends; one that holds points (a
// run continued after a restart, say) ends only when the user agrees to lose them.
void CalibrationEngine::FinishShortRun(Hold& calibration) {
    Shared.Text().clear();
    EndChoice choice = EndChoice::Abandon;
    if (Bins.N[0] > 0) {
        const int needed = static_cast<int>(App.CalUpdateInterval * StatisticsIntervals / 1000.0);
        calibration.unlock();
        const Answer abandon = Host.Questions().Ask(
            FormatC("Less than %d seconds has elapsed. Do you want to abandon this calibration?",
                    needed),
            QuestionButtons::YesNo, QuestionIcon::Question);
        calibration.lock();
        if (abandon != Answer::Yes) choice = EndChoice::Continue;
    }
    ConcludeFinish(choice, nullptr);
}

// The user's choice at the end of a run. The dialog is shown with the calibration lock released:
// no worker runs now (the run is finishing), and the display keeps drawing meanwhile.
void CalibrationEngine::EndOfRunDialog(Hold& calibration, double slope, const std::string& report) {
    calibration.unlock();
    EndChoice choice = Host.Questions().ChooseEndOfRun(report);
    if (choice == EndChoice::Abandon &&
        Host.Questions().Ask("Are you sure you wish to abandon this calibration?",
                             QuestionButtons::YesNo, QuestionIcon::Question) != Answer::Yes)
        choice = EndChoice::Continue;
    const char* refused = nullptr;
    if (choice == EndChoice::ApplyAndContinue || choice == EndChoice::ApplyAndEnd) {
        if (!ApplyAndSave(calibration, slope)) {
            refused =
                slope == 0.0 ? "too few points for a fit" : "the suggested factor is out of range";
            choice = EndChoice::Continue; // the run is kept: it has given nothing yet
        }
    } else {
        calibration.lock();
    }
    ConcludeFinish(choice, refused);
}

// Under the calibration lock: the run goes on or ends as chosen. `refused` says why a factor the
// user chose to apply was not.
void CalibrationEngine::ConcludeFinish(EndChoice choice, const char* refused) {
    std::string& text = Shared.Text();
    switch (choice) {
    case EndChoice::Continue:
        Shared.SetMode(Shared.Mode() & ~calflags::Finishing);
        if (refused) text += FormatC("\r\nCal factor not applied: %s.", refused);
        text += "\r\nContinuing calibration";
        break;
    case EndChoice::ApplyAndContinue:
        Shared.SetMode(Shared.Mode() & ~calflags::Finishing);
        text += "\r\nCal factor applied.\r\nContinuing calibration";
        break;
    case EndChoice::ApplyAndEnd:
    case EndChoice::Abandon:
        StopCalibrationLocked();
        break;
    }
    NextReadingLocked();
}

// Applies the fitted factor and saves the settings; false when the factor was refused. Returns
// with `calibration` held.
bool CalibrationEngine::ApplyAndSave(Hold& calibration, double slope) {
    const bool applied = ApplyCalFactor(slope);
    if (applied) {
        {
            const auto analysis = Core.HoldAnalysis();
            Core.ClockRegression.Restart();
        }
        Host.SaveSettings();
    }
    calibration.lock();
    return applied;
}

} // namespace kv
