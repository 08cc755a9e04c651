// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration worker: one reading of the reference per run, the clock discipline, the
// countdown and the calibration points with their least-squares bins.
#include <algorithm>
#include <cmath>

#include "calibration/CalibrationEngine.h"
#include "calibration/CalibrationFit.h"
#include "platform/Priority.h"
#include "references/SystemClock.h"
#include "text/NumberText.h"
#include "timebase/NtpTime.h"

namespace kv {

namespace {

constexpr double SecondsPerTick = 1e-3;    // the tick count counts milliseconds
constexpr double IntegratorTrigger = 0.01; // seconds of summed offset that call for a correction
constexpr double IntegratorLimit = 0.1;    // seconds; a larger sum is corrected this far at once
constexpr double IntegratorCountPower = 1.5;
constexpr int SteadyCorrections = 5; // fewer readings between corrections restart the countdown

int64_t Trunc100ns(double seconds) {
    return static_cast<int64_t>(seconds * CalibrationEngine::Units100nsPerSecond);
}

} // namespace

// One worker run's reading and its values as the steps change them.
struct CalibrationEngine::Reading {
    int Flags = 0;
    bool Debug = false;
    bool Ok = false;
    double Offset = 0.0; // d
    double Mean = 0.0;   // m
    std::string Status;
};

bool CalibrationEngine::StillWanted(int kind) const {
    if (Quitting) return false;
    const auto calibration = Core.HoldCalibration();
    return calflags::IsActiveReferenceRun(Core.Calibrating) && (Core.Calibrating & kind) != 0;
}

void CalibrationEngine::WorkerMain() {
    PinCurrentThreadToFirstCpu(); // every counter reading from one processor
    RaiseCurrentThreadPriority();
    Reading r;
    ReferenceSettings where;
    {
        const auto calibration = Core.HoldCalibration();
        r.Debug = App.CalDebug != 0;
        r.Flags = Core.Calibrating;
        where = ReferenceSettingsFrom(App);
        if (r.Flags & calflags::StartPhase) Worker = CalibrationWorkerState{};
    }
    if (r.Flags & (calflags::Paused | calflags::Finishing)) {
        WorkerEnded();
        return;
    }
    const ReferenceId id = RunKind(r.Flags);
    if (id < 0) {
        WorkerEnded();
        return;
    }
    const int kind = calflags::ReferenceBit(id);
    const ReadingPhase phase =
        (r.Flags & calflags::StartPhase) ? ReadingPhase::Start : ReadingPhase::Running;
    r.Ok = References.Read(
        id, phase, where, [this, kind] { return StillWanted(kind); }, r.Offset, r.Status);
    {
        Hold calibration = Core.HoldCalibration();
        WorkerReading(r);
        if (calflags::IsActiveReferenceRun(Core.Calibrating)) CalibrationUpdate(calibration);
    }
    WorkerEnded();
}

void CalibrationEngine::WorkerEnded() {
    {
        std::lock_guard worker(WorkerMutex);
        WorkerBusy = false;
    }
    WorkerDone.notify_all();
}

// Steps 5 to 12, under the calibration lock.
void CalibrationEngine::WorkerReading(Reading& r) {
    ReferenceStatusText = r.Status + "\r\n";
    if (!r.Ok) {
        r.Offset = 0.0; // nothing was read
    } else if (std::fabs(r.Offset) > UntrustedOffsetSeconds) {
        ReferenceStatusText += "Untrusted time from server.\r\nMore than 30 mins error.\r\n"
                               "Please check system time.\r\n";
    } else if (Worker.Countdown == CalibrationWorkerState::WaitingForFirstReading) {
        FirstReadingLocked(r);
    } else if (IntegrateLocked(r)) {
        if (Worker.Countdown > 0) {
            --Worker.Countdown;
            ReferenceStatusText += FormatC("Countdown %d\r\n", Worker.Countdown);
        } else {
            CorrectSystemClockLocked(r.Mean);
            CalibrationPointLocked(r.Mean, r.Debug);
        }
    }
    if (r.Debug)
        ReferenceStatusText += FormatC("ROfs %+02.9f\r\nMeanOfs %+02.9f\r\nIntegrator %+02.6f\r\n"
                                       "Int counter %d\r\n",
                                       r.Offset, r.Mean, Worker.Integrator, Worker.IntegratorCount);
}

// The first good reading of a start phase steps the timestamp clock onto the reference.
void CalibrationEngine::FirstReadingLocked(Reading& r) {
    Core.Calibrating = Core.Calibrating & ~calflags::StartPhase;
    Worker.Countdown = CalibrationWorkerState::CountdownReadings;
    {
        const auto analysis = Core.HoldAnalysis();
        Clocks.Timestamps.StepClock(r.Offset);
        Core.ClockRegression.Restart();
    }
    r.Offset = 0.0;
    r.Mean = 0.0;
    Worker.Integrator = 0.0;
    Worker.IntegratorCount = 0;
    Worker.LastCorrectionTick = TickCount();
}

// The clock discipline: offsets are summed; a sum beyond IntegratorTrigger trims the clock's
// rate by the sum spread over the time since the last correction and steps it by the mean.
// False when the correction holds the countdown and this run ends here.
bool CalibrationEngine::IntegrateLocked(Reading& r) {
    Worker.IntegratorCount += 1;
    Worker.Integrator += r.Offset;
    r.Mean = Worker.Integrator / Worker.IntegratorCount;
    if (std::fabs(Worker.Integrator) <= IntegratorTrigger) return true;
    Worker.Integrator = std::clamp(Worker.Integrator, -IntegratorLimit, IntegratorLimit);
    const uint32_t now = TickCount();
    const double span = static_cast<double>(now - Worker.LastCorrectionTick) * SecondsPerTick *
                        std::pow(Worker.IntegratorCount, IntegratorCountPower);
    Worker.LastCorrectionTick = now;
    {
        const auto analysis = Core.HoldAnalysis();
        Clocks.Timestamps.SetTrim(Clocks.Timestamps.GetTrim() * (1.0 - Worker.Integrator / span));
        Clocks.Timestamps.StepClock(r.Mean);
        Core.ClockRegression.Restart();
    }
    r.Offset = 0.0;
    r.Mean = 0.0;
    Worker.Integrator = 0.0;
    const bool held = Worker.Countdown > 0;
    if (held && Worker.IntegratorCount < SteadyCorrections)
        Worker.Countdown = CalibrationWorkerState::CountdownReadings;
    Worker.IntegratorCount = 0;
    if (held) ReferenceStatusText += FormatC("Countdown held %d\r\n", Worker.Countdown);
    return !held;
}

void CalibrationEngine::CorrectSystemClockLocked(double meanOffset) {
    if (CorrectSystemClock == 0) return;
    const uint64_t reference = Clocks.Timestamps.NowUtc() + Trunc100ns(meanOffset);
    SetSystemClock(ReferenceTimeAsNtp(reference), Clocks.SystemClock);
    CorrectSystemClock = 0;
}

void CalibrationEngine::CalibrationPointLocked(double meanOffset, bool debug) {
    uint64_t samples;
    int64_t counter;
    {
        const auto analysis = Core.HoldAnalysis();
        samples = Core.ClockRegression.TotalSamples;
        counter = Core.ClockRegression.CounterNow;
    }
    if (samples == 0) return;
    const auto t =
        static_cast<int64_t>(Clocks.Timestamps.CounterToUtc(counter)) + Trunc100ns(meanOffset);
    const auto s = static_cast<int64_t>(samples);
    if (Worker.Countdown == 0) {
        Worker.ReferenceStart = t;
        Worker.SampleStart = s;
        Worker.Countdown = CalibrationWorkerState::CollectingPoints;
    }
    Bins.TotalTime = Bins.StartTime - Worker.ReferenceStart + t;
    Bins.TotalSamples = Bins.StartSample - Worker.SampleStart + s;
    const double x = static_cast<double>(Bins.TotalTime) / Units100nsPerSecond;
    const double y = static_cast<double>(Bins.TotalSamples) / Core.Settings.SampleRate;
    calfit::AddPoint(Bins, x, y, App.CalUpdateInterval);
    if (debug)
        ReferenceStatusText += FormatC("X %+10g\r\nY %+10g\r\nN %lld\r\nTot Samples %lld\r\n"
                                       "Tot Time %lld\r\n",
                                       x, y, static_cast<long long>(Bins.N[0]),
                                       static_cast<long long>(Bins.TotalSamples),
                                       static_cast<long long>(Bins.TotalTime));
    const CalendarTime when = CalendarFromUtc100ns(static_cast<uint64_t>(t));
    ReferenceStatusText += FormatC("%02d:%02d:%02d UTC\r\n", when.Hour, when.Minute, when.Second);
    LastUpdateTick = TickCount();
}

} // namespace kv
