// SPDX-License-Identifier: GPL-3.0-or-later
// The clock discipline: the first good reading steps the timestamp clock onto the reference, later
// ones trim its rate and step it when their summed offsets grow, and a requested correction of
// the system clock copies the reference time into it once.
#include <algorithm>
#include <cmath>

#include "calibration/CalibrationEngine.h"
#include "references/SystemClock.h"
#include "text/NumberText.h"
#include "timebase/NtpTime.h"

namespace kv {

namespace {

constexpr double SecondsPerTick = 1e-3;      // the tick count counts milliseconds
constexpr double IntegratorTrigger = 0.01;   // seconds of summed offset that call for a correction
constexpr double IntegratorLimit = 0.1;      // seconds; a larger sum is corrected this far at once
constexpr double IntegratorCountPower = 1.5; // weighs the span by the readings since the last one
constexpr int SteadyCorrections = 5; // fewer readings between corrections restart the countdown

} // namespace

// The first good reading of a start phase steps the timestamp clock onto the reference.
void CalibrationEngine::FirstReadingLocked(Reading& r) {
    Shared.SetMode(Shared.Mode() & ~calflags::StartPhase);
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

} // namespace kv
