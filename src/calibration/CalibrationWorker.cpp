// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration worker: one reading of the reference per run, the countdown and the calibration
// points (the discipline is in CalibrationDiscipline.cpp, the fit in CalibrationFit.cpp).
#include <algorithm>
#include <cmath>

#include "calibration/CalibrationEngine.h"
#include "calibration/CalibrationFit.h"
#include "platform/Priority.h"
#include "text/NumberText.h"
#include "timebase/NtpTime.h"

namespace kv {

bool CalibrationEngine::StillWanted(int kind) const {
    if (Quitting) return false;
    const auto calibration = Shared.HoldLock();
    return calflags::IsActiveReferenceRun(Shared.Mode()) && (Shared.Mode() & kind) != 0;
}

void CalibrationEngine::WorkerMain() {
    PinCurrentThreadToFirstCpu(); // every counter reading from one processor
    RaiseCurrentThreadPriority();
    Reading r;
    ReferenceSettings where;
    {
        const auto calibration = Shared.HoldLock();
        r.Debug = App.CalDebug != 0;
        r.Flags = Shared.Mode();
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
        Hold calibration = Shared.HoldLock();
        WorkerReading(r);
        if (calflags::IsActiveReferenceRun(Shared.Mode())) CalibrationUpdate(calibration);
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
