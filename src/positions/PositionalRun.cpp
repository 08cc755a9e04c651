// SPDX-License-Identifier: GPL-3.0-or-later
#include "positions/PositionalRun.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "positions/PositionCodes.h"
#include "positions/PositionResults.h"
#include "positions/ResultsFile.h"
#include "text/NumberText.h"

namespace kv {

namespace {

constexpr double SecondsPerDay = 86400.0;
constexpr double MillisecondsPerSecond = 1000.0;

// The mean lift time of a position as the balance's amplitude in degrees: the balance crosses
// the lift angle in t = (2T/pi) asin(lift / 2A).
double AmplitudeFromLift(double liftAngle, double meanLift, double beatPeriod) {
    return liftAngle / (2.0 * std::sin(0.5 * M_PI * meanLift / beatPeriod));
}

} // namespace

PositionalRun::PositionalRun(AnalysisCore& core, AppSettings& settings, PositionalRunHost& host,
                             ClipOutput& output, MillisecondClock& clock)
    : Core(core), Settings(settings), Host(host), Output(output), Motor(output, clock) {}

bool PositionalRun::Active() const {
    const auto lock = Core.HoldAnalysis();
    return Core.PositionalRunActive();
}

PositionalRun::Parameters PositionalRun::ReadParameters() const {
    const auto lock = Core.HoldAnalysis();
    Parameters p;
    p.Positions = std::min(Core.Params.Positions, MaxPositions);
    p.AveragingTime = Core.Params.PositionAveragingTime;
    p.Stabilization = Core.Params.Stabilization;
    p.Sequence = Core.Params.Sequence;
    p.LiftAngle = Core.Params.LiftAngle;
    p.BeatPeriod = Core.Derived.BeatPeriod;
    return p;
}

unsigned PositionalRun::BeatPeriodMs() const {
    const auto lock = Core.HoldAnalysis();
    return static_cast<unsigned>(Core.Derived.BeatPeriod * MillisecondsPerSecond);
}

void PositionalRun::Advance() {
    const Parameters p = ReadParameters();
    if (p.AveragingTime <= 0.0 || p.Positions < 1) {
        ClearRunState();
        return;
    }
    const int n = [this] {
        const auto lock = Core.HoldAnalysis();
        return Core.Measurement.CurrentPosition;
    }();
    if (n == 0 && Settings.Motorised && !MotorisedRunCanStart(p)) return;
    {
        const auto lock = Core.HoldAnalysis();
        Core.Params.Averaging = 0;
    }
    if (!Host.MeasurementRunning()) Host.StartMeasurement();
    if (n == 0) {
        ClearRunState();
        Core.ResetMeasurement();
    } else {
        ClosePosition(n, p);
    }
    if (n < p.Positions)
        OpenPosition(n + 1, p);
    else
        ProduceResults(p);
}

// The sums of the position become its results in their own slots: rate in s/d, amplitude in
// degrees, beat error in milliseconds.
void PositionalRun::ClosePosition(int n, const Parameters& p) {
    if (n > MaxPositions) return;
    const auto lock = Core.HoldAnalysis();
    MeasurementState& m = Core.Measurement;
    const auto slot = static_cast<size_t>(n);
    m.PositionRate[slot] *= SecondsPerDay;
    m.PositionLiftSum[slot] =
        m.PositionLiftCount > 0
            ? AmplitudeFromLift(p.LiftAngle, m.PositionLiftSum[slot] / m.PositionLiftCount,
                                p.BeatPeriod)
            : 0.0;
    // Closed while still settling, or before the first reading after it, the position has no
    // readings: its zeros are no result. Beat errors come with every tick once it has settled.
    Measured[slot] = m.StabilizationRemaining <= 0.0 && m.PositionBeatErrorCount > 0;
    m.PositionLiftCount = 0;
    m.PositionBeatErrorSum[slot] = m.PositionBeatErrorCount > 0
                                       ? p.BeatPeriod * m.PositionBeatErrorSum[slot] *
                                             MillisecondsPerSecond / m.PositionBeatErrorCount
                                       : 0.0;
    m.PositionBeatErrorCount = 0;
    m.PositionEndTime[slot] = m.MeasuredTime;
}

void PositionalRun::OpenPosition(int n, const Parameters& p) {
    const unsigned extraDelayMs = PrepareNextPosition(n, p);
    Core.ResetReference();
    const auto lock = Core.HoldAnalysis();
    MeasurementState& m = Core.Measurement;
    m.DeviationHistory.clear();
    m.RateWindowFull = false;
    m.PositionWindowFull = false;
    m.StabilizationRemaining = extraDelayMs / MillisecondsPerSecond + p.Stabilization;
}

// Makes position n current and brings the watch there: in manual mode measuring stops and the
// user is asked to turn it; in motorised mode the positioner is moved while measuring goes on.
// Returns the time the move adds to the settling, in milliseconds.
unsigned PositionalRun::PrepareNextPosition(int n, const Parameters& p) {
    const std::string code = PositionCode(p.Sequence, n);
    if (!Settings.Motorised) {
        {
            const auto lock = Core.HoldAnalysis();
            Core.Measurement.CurrentPosition = n;
            RunPrompt = FormatC("Please place watch in position %d of %d (%s)\r\n and click "
                                "'Run' to continue.\r\n",
                                n, p.Positions, code.c_str());
            Core.PromptText = RunPrompt;
        }
        Host.StopMeasurement();
        if (User) User->AskToTurnWatch();
        return 0;
    }
    {
        const auto lock = Core.HoldAnalysis();
        Core.Measurement.CurrentPosition = n;
    }
    const unsigned duration = Motor.MoveTo(Points[static_cast<size_t>(n)]);
    return duration + static_cast<unsigned>(p.BeatPeriod * MillisecondsPerSecond);
}

// Without a sound output the positioner hears no command and every position would be measured
// where the watch already lies, so such a run does not start.
bool PositionalRun::MotorisedRunCanStart(const Parameters& p) {
    if (Output.Available()) return ReadPositionerPoints(p);
    RefuseToStart("The positioner is turned by tones on the sound output, and duplex audio is "
                  "off.\r\nPlease switch on duplex audio");
    return false;
}

void PositionalRun::RefuseToStart(const std::string& reason) {
    {
        const auto lock = Core.HoldAnalysis();
        RunPrompt = reason + ".\r\nThe positional run has not started.\r\n";
        Core.PromptText = RunPrompt;
    }
    Host.RepaintNow();
}

// All points before anything moves, so a bad value stops the run before it starts rather than
// half-way. False, with the reason in the prompt text, when the file cannot give one.
bool PositionalRun::ReadPositionerPoints(const Parameters& p) {
    const std::string file = PositionerFile.empty() ? PositionerFilePath() : PositionerFile;
    try {
        for (int n = 1; n <= p.Positions; ++n)
            Points[static_cast<size_t>(n)] = ReadPositionerPoint(file, PositionCode(p.Sequence, n));
    } catch (const std::invalid_argument& e) {
        RefuseToStart(e.what());
        return false;
    }
    // The reason an earlier start failed is out of date now.
    const auto lock = Core.HoldAnalysis();
    if (!RunPrompt.empty() && Core.PromptText == RunPrompt) Core.PromptText.clear();
    RunPrompt.clear();
    return true;
}

void PositionalRun::ProduceResults(const Parameters& p) {
    {
        const auto lock = Core.HoldAnalysis();
        const MeasurementState& m = Core.Measurement;
        std::vector<PositionResult> results;
        for (int n = 1; n <= p.Positions; ++n) {
            const auto slot = static_cast<size_t>(n);
            PositionResult r;
            r.Code = PositionCode(p.Sequence, n);
            r.Span = m.PositionEndTime[slot] - (n > 1 ? m.PositionEndTime[slot - 1] : 0.0);
            r.RateSd = m.PositionRate[slot];
            r.AmplitudeDeg = m.PositionLiftSum[slot];
            r.BeatErrorMs = m.PositionBeatErrorSum[slot];
            r.Measured = Measured[slot];
            results.push_back(r);
        }
        // A prompt of the run still shown is out of date once the results are in.
        if (!RunPrompt.empty() && Core.PromptText == RunPrompt) Core.PromptText.clear();
        Core.PromptText += FormatPositionResults(results, p.Stabilization, m.MeasuredTime);
        ResultsText = Core.PromptText;
    }
    RunPrompt.clear();
    ReturnPositionerHome();
    if (Host.MeasurementRunning()) Host.StopMeasurement();
    if (Settings.PositionsToText) OfferResultsFile();
    ClearRunState();
    Host.RepaintNow();
}

// The annotate dialog; on OK the title, the results and the comment go to the results file in
// three appends, and the prompt shows file, title, results and comment. A file that cannot be
// opened is skipped without a word: the results stay on screen.
void PositionalRun::OfferResultsFile() {
    if (!User) return;
    const std::optional<ResultsAnnotation> answer =
        User->AnnotateResults({Settings.TextFile2, Settings.Title, std::string()});
    if (!answer) return;
    Settings.TextFile2 = answer->File;
    Settings.Title = answer->Title;
    AppendResultsText(Settings.TextFile2, Settings.Title + "\r\n");
    AppendResultsText(Settings.TextFile2, ResultsText);
    AppendResultsText(Settings.TextFile2, answer->Comment + "\r\n\r\n");
    const auto lock = Core.HoldAnalysis();
    Core.PromptText =
        Settings.TextFile2 + " " + Settings.Title + "\r\n" + ResultsText + answer->Comment;
}

void PositionalRun::Cancel() {
    if (!Active()) return;
    ClearRunState();
    ReturnPositionerHome();
    RunPrompt.clear();
}

void PositionalRun::ReturnPositionerHome() {
    if (Settings.Motorised) Motor.ReturnHome(BeatPeriodMs());
}

void PositionalRun::ClearRunState() {
    const auto lock = Core.HoldAnalysis();
    MeasurementState& m = Core.Measurement;
    m.CurrentPosition = 0;
    m.StabilizationRemaining = 0.0;
    m.PositionLiftCount = 0;
    m.PositionBeatErrorCount = 0;
    m.PositionRate.fill(0.0);
    m.PositionLiftSum.fill(0.0);
    m.PositionBeatErrorSum.fill(0.0);
    m.PositionEndTime.fill(0.0);
    Measured.fill(false);
}

std::optional<std::string> PositionalRun::HandOverAnnotation() const {
    const auto lock = Core.HoldAnalysis();
    const MeasurementState& m = Core.Measurement;
    const int n = m.CurrentPosition;
    if (n < 1 || n > MaxPositions || !m.PositionWindowFull) return std::nullopt;
    const std::string code = PositionCode(Core.Params.Sequence, n);
    const double elapsed =
        m.MeasuredTime - (n > 1 ? m.PositionEndTime[static_cast<size_t>(n - 1)] : 0.0);
    if (elapsed > 0.0) return FormatC("%d %s  %+3.2f s/d", n, code.c_str(), m.Rate * SecondsPerDay);
    return FormatC("%d %s", n, code.c_str());
}

} // namespace kv
