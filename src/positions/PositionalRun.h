// SPDX-License-Identifier: GPL-3.0-or-later
// A positional run: up to six positions measured one after the other, by hand (measuring stops
// and the user is asked to turn the watch) or with a motorised positioner driven by tone commands
// while measuring goes on; then the results table in the view's prompt text and, if wished,
// appended to the results text file. Each Advance closes the current position and opens the next
// one; the Advance after the last position produces the results.
//
// The per-position sums, rates and times live in the analysis core's MeasurementState, which the
// capture thread updates under the analysis lock; the run reads and changes them under that lock.
//
// Threads: constructed, operated and destroyed on the user-interface thread.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "analysis/AnalysisCore.h"
#include "positions/Positioner.h"
#include "settings/AppSettings.h"

namespace kv {

// The annotate dialog's three fields.
struct ResultsAnnotation {
    std::string File;
    std::string Title;
    std::string Comment;
};

// What the run asks of the user: the window answers, tests answer directly.
class PositionalRunUser {
public:
    virtual ~PositionalRunUser() = default;
    // Manual mode: measuring has stopped and the prompt text asks for the watch to be turned; the
    // user resumes with Run.
    virtual void AskToTurnWatch() = 0;
    // The results file, title and comment, starting from `proposed`; nothing when cancelled.
    virtual std::optional<ResultsAnnotation> AnnotateResults(const ResultsAnnotation& proposed) = 0;
};

// What the run asks of the measuring session.
class PositionalRunHost {
public:
    virtual ~PositionalRunHost() = default;
    virtual bool MeasurementRunning() const = 0;
    virtual void StartMeasurement() = 0;
    virtual void StopMeasurement() = 0;
    // Draws the view at once (the results are on screen before anything else happens).
    virtual void RepaintNow() = 0;
};

class PositionalRun {
public:
    PositionalRun(AnalysisCore& core, AppSettings& settings, PositionalRunHost& host,
                  ClipOutput& output, MillisecondClock& clock = SteadyMillisecondClock());

    void SetUser(PositionalRunUser* user) { User = user; }
    // The positioner file; PositionerFilePath() unless set.
    std::string PositionerFile;

    // The positional command: starts a run, or closes the current position and opens the next,
    // or after the last position produces the results. A motorised run reads every position's
    // point when it starts; a point the file cannot give, or no sound output to carry the
    // positioner's tones, leaves the run unstarted, with the reason in the prompt text.
    void Advance();
    // Stop during a run: forgets the run and sends the positioner home.
    void Cancel();
    bool Active() const;

    // The per-buffer hand-over: when the current position's window is full, the log annotation
    // for it ("%d %s  %+3.2f s/d", or "%d %s" before anything was measured in the position);
    // nothing otherwise.
    std::optional<std::string> HandOverAnnotation() const;

    // The results text of the last completed run, as appended to the results file.
    const std::string& Results() const { return ResultsText; }
    PositionerPoint PositionerAt() const { return Motor.Current(); }

private:
    struct Parameters {
        int Positions = 0;
        double AveragingTime = 0.0;
        double Stabilization = 0.0;
        std::string Sequence;
        double LiftAngle = 0.0;
        double BeatPeriod = 0.0;
    };
    Parameters ReadParameters() const;
    unsigned BeatPeriodMs() const;
    void ClearRunState();
    void ClosePosition(int n, const Parameters& p);
    void OpenPosition(int n, const Parameters& p);
    unsigned PrepareNextPosition(int n, const Parameters& p);
    bool MotorisedRunCanStart(const Parameters& p);
    bool ReadPositionerPoints(const Parameters& p);
    void RefuseToStart(const std::string& reason);
    void ProduceResults(const Parameters& p);
    void OfferResultsFile();
    void ReturnPositionerHome();

    AnalysisCore& Core;
    AppSettings& Settings;
    PositionalRunHost& Host;
    PositionalRunUser* User = nullptr;
    ClipOutput& Output;
    Positioner Motor;
    std::array<PositionerPoint, MaxPositions + 1> Points{}; // by position, read at the start
    std::array<bool, MaxPositions + 1> Measured{}; // by position: readings taken after it settled
    std::string ResultsText;
    std::string RunPrompt; // the run's own prompt as last shown: turn the watch, or why not started
};

} // namespace kv
