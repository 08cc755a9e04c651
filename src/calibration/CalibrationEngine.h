// SPDX-License-Identifier: GPL-3.0-or-later
// The sound-card clock calibration: the local standard (the analysis measures a reference that
// ticks at exactly its nominal rate) and the network or GPS run, whose worker reads the offset of
// the timestamp clock from a reference every update interval, keeps that clock disciplined to
// the reference and fits a line through (reference seconds, sample seconds) points collected
// over up to twelve hours. The slope of that line is the suggested calibration factor.
//
// Threads: every public operation runs on the user-interface thread except that the worker runs
// on its own thread, one at a time, started by OnCycleTimer. The engine owns the calibration lock,
// the mode word and the status text (CalibrationState, which says who takes the lock). The mode
// word, the bins (the settings' CalibrationSums), the run totals, the worker state, the fit
// statistics and both texts sit behind that lock; whoever needs it and the analysis core's
// AnalysisLock takes the calibration lock first. The worker holds the calibration lock from the
// end of its reading to its end.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "analysis/AnalysisCore.h"
#include "calibration/CalibrationFit.h"
#include "calibration/CalibrationFlags.h"
#include "calibration/CalibrationQuestions.h"
#include "calibration/CalibrationReferences.h"
#include "calibration/CalibrationState.h"
#include "platform/ClockSetter.h"
#include "settings/AppSettings.h"

namespace kv {

// What the calibration needs from the measuring session that owns it.
class CalibrationHost {
public:
    virtual ~CalibrationHost() = default;
    // Any thread: the one-shot timers 106 and 108 by id.
    virtual void StartTimer(int id, unsigned milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
    // Under the AnalysisLock: the capture object's new samples per buffer.
    virtual void SetCaptureSamplesPerBuffer(double samples) = 0;
    // User-interface thread, no lock held by the caller's own code path that it could invert.
    virtual void SaveSettings() = 0;
    virtual CalibrationQuestions& Questions() = 0;
};

// The calibration's sense of time: the timestamp clock it disciplines, a millisecond tick
// count (empty: the monotonic clock) and the system clock it may set.
struct CalibrationClocks {
    TimestampClock& Timestamps;
    SystemClockSetter& SystemClock;
    std::function<uint32_t()> TickCountMs;
};

// Worker state: survives between worker runs, reset at each start phase.
struct CalibrationWorkerState {
    static constexpr int WaitingForFirstReading = 16;
    static constexpr int CountdownReadings = 15;
    static constexpr int CollectingPoints = -1;
    int Countdown = WaitingForFirstReading;
    double Integrator = 0.0; // seconds
    int IntegratorCount = 0;
    uint32_t LastCorrectionTick = 0; // ms
    int64_t ReferenceStart = 0;      // 100 ns
    int64_t SampleStart = 0;         // samples
};

// What tests and the window may read about a run, copied under the lock.
struct CalibrationProgress {
    int Flags = 0;
    int Countdown = 0;
    int64_t TotalTime = 0; // 100 ns, pauses excluded
    int64_t TotalSamples = 0;
    std::string ReferenceStatusText;
    CalibrationSums Bins;
    double SlopeHigh = 0.0, SlopeLow = 0.0;
};

class CalibrationEngine {
public:
    static constexpr unsigned StartDelayMs = 1725;   // first reading after a start command
    static constexpr unsigned ResumeDelayMs = 1000;  // after Run, and during the start phase
    static constexpr unsigned MessageShownMs = 2000; // a start failure stays this long
    static constexpr unsigned EndWaitMs = 60000;     // finishing waits this long for the worker
    static constexpr double UntrustedOffsetSeconds = 1800.0;
    static constexpr double Units100nsPerSecond = 1e7; // the reference times count 100 ns

    CalibrationEngine(AnalysisCore& core, AppSettings& settings, CalibrationHost& host,
                      CalibrationReferences& references, CalibrationClocks clocks);
    ~CalibrationEngine(); // Shutdown
    CalibrationEngine(const CalibrationEngine&) = delete;
    CalibrationEngine& operator=(const CalibrationEngine&) = delete;

    // --- Commands ---
    // The calibration part of "Start internet cal" / "Start GPS cal": a run against the
    // reference of kind `kind` in the references' registry (an unknown kind starts nothing);
    // the session has already started measuring.
    void StartReferenceCalibration(ReferenceId kind);
    void StartLocalCalibration();
    void FinishCalibration();
    // "Correct system clock ?": the next suitable reading copies the reference time into the
    // system clock once.
    void ToggleCorrectSystemClock();
    bool CorrectSystemClockRequested() const;
    int Flags() const { return Shared.Mode(); }
    // The lock, the mode word and the status text.
    CalibrationState& State() { return Shared; }
    const CalibrationState& State() const { return Shared; }
    const ReferenceRegistry& Registry() const { return References.Registry(); }

    // --- Measuring loop ---
    void ContinueCalibration(); // measuring started
    void MeasuringStopped();    // leaves a local-standard run, pauses any other
    void PauseCalibration();
    void LeaveLocalCalibration();
    void StopCalibration();
    void OnCycleTimer(); // timer 106

    // Sets the factor in use for the current sample rate; refuses (false) a factor outside the
    // range the settings accept, which no sound card has.
    bool ApplyCalFactor(double factor);

    // Ends a running worker (its reading is abandoned) and waits for it; no new one starts.
    void Shutdown();
    // True once no worker runs, waiting at most `timeout`.
    bool WaitForWorker(std::chrono::milliseconds timeout);
    CalibrationProgress Progress() const;

    // --- Settings ---
    // After the settings were loaded: the mode word takes the stored one
    // (AppSettings::StoredCalibrationMode).
    void AdoptStoredMode();
    // For a settings save: holds the calibration lock, which keeps the mode word, the bins and the
    // trim still, and copies the mode word into AppSettings::StoredCalibrationMode.
    [[nodiscard]] CalibrationState::Hold HoldForSaving();

private:
    using Hold = CalibrationState::Hold;
    // One worker run's reading and its values as the steps change them.
    // Seconds as whole 100 ns units of the reference times, truncated toward zero.
    static int64_t Trunc100ns(double seconds) {
        return static_cast<int64_t>(seconds * Units100nsPerSecond);
    }
    struct Reading {
        int Flags = 0;
        bool Debug = false;
        bool Ok = false;
        double Offset = 0.0; // d
        double Mean = 0.0;   // m
        std::string Status;
    };

    uint32_t TickCount() const;
    void StartCycleTimer(unsigned milliseconds);
    void FailStart(const std::string& what, const std::string& error);
    ReferenceId RunKind(int flags) const; // the registered kind of a reference run, or -1
    void StopCalibrationLocked();
    void RestoreSavedFactorLocked();
    void SetFactorLocked(double factor);
    void FinishLocalCalibration();
    void RequestEndCalibration();

    // The worker, steps 1 to 13, and its parts.
    void WorkerMain();
    bool StillWanted(int kind) const;
    void WorkerReading(Reading& r);
    void FirstReadingLocked(Reading& r);
    bool IntegrateLocked(Reading& r); // false: this run ends after the correction
    void CorrectSystemClockLocked(double meanOffset);
    void CalibrationPointLocked(double meanOffset, bool debug);
    void WorkerEnded();

    // CalibrationUpdate: the fit, the status text or, when finishing, the end dialog. Called
    // with `calibration` held; the dialog is shown with it released.
    void CalibrationUpdate(Hold& calibration);
    void NextReadingLocked(); // timer 106 for the next reading of a run that goes on
    void FinishShortRun(Hold& calibration);
    void EndOfRunDialog(Hold& calibration, double slope, const std::string& report);
    void ConcludeFinish(EndChoice choice, const char* refused);
    bool ApplyAndSave(Hold& calibration, double slope);
    double ElapsedReferenceSeconds() const;

    AnalysisCore& Core;
    AppSettings& App;
    CalibrationHost& Host;
    CalibrationReferences& References;
    CalibrationClocks Clocks;
    CalibrationState Shared;

    // Under the calibration lock.
    CalibrationSums& Bins; // the bins and the run totals, stored with the settings
    uint32_t LastUpdateTick = 0;
    CalibrationWorkerState Worker;
    calfit::SlopeEnvelope Envelope;
    std::string ReferenceStatusText;

    // Set by the command on the user-interface thread, cleared by the worker.
    std::atomic<int> CorrectSystemClock{0};

    // The worker thread: one at a time.
    std::thread WorkerThread;
    mutable std::mutex WorkerMutex; // leaf lock: guards WorkerBusy's changes for the wait
    std::condition_variable WorkerDone;
    bool WorkerBusy = false;
    std::atomic<bool> Quitting{false};
};

} // namespace kv
