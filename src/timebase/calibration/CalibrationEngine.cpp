#include "timebase/calibration/CalibrationEngine.h"

#include <algorithm>
#include <cmath>

#include "platform/Priority.h"
#include "text/NumberText.h"
#include "timebase/NtpTime.h"
#include "timebase/references/SystemClock.h"

namespace kv {

namespace {

constexpr double SecondsPerDay = 86400.0;
constexpr double Units100nsPerSecond = 1e7;
constexpr double SecondsPerTick = 1e-3;     // the tick count counts milliseconds
constexpr int64_t QuarterHourSeconds = 900; // the window grows and slides by quarter-hours
constexpr double IntegratorTrigger = 0.01;  // seconds of summed offset that call for a correction
constexpr double IntegratorLimit = 0.1;     // seconds; a larger sum is corrected this far at once
constexpr double IntegratorCountPower = 1.5;
constexpr int SteadyCorrections = 5; // fewer readings between corrections restart the countdown
constexpr double LongestWindowSeconds = 43200.0; // twelve hours of bins
constexpr double StatisticsIntervals = 3.0;      // update intervals before a fit is shown
constexpr double EnvelopeShrink = 0.02;          // of the envelope's width, per update
constexpr double InitialSlopeHigh = 1.05, InitialSlopeLow = 0.95;
constexpr double ConfidenceFloor = 0.002; // slope units times seconds
constexpr double SingularDenominator = 1e-200;
// Factors the settings accept on loading: a card half or twice its nominal rate is no card.
constexpr double LowestFactor = 0.5, HighestFactor = 2.0;
constexpr double RestorableFactorDistance = 0.1; // |saved - 1| below this is a real factor
constexpr double ShortestLocalRunSeconds = 60.0;

int64_t Trunc100ns(double seconds) {
    return static_cast<int64_t>(seconds * Units100nsPerSecond);
}

struct Elapsed {
    int Hours, Minutes, Seconds;
};
Elapsed SplitElapsed(double e) {
    return {static_cast<int>(e / 3600.0), static_cast<int>(std::fmod(e, 3600.0) / 60.0),
            static_cast<int>(std::fmod(e, 60.0))};
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

CalibrationEngine::CalibrationEngine(AnalysisCore& core, AppSettings& settings,
                                     CalibrationHost& host, CalibrationReferences& references,
                                     CalibrationClocks clocks)
    : Core(core), App(settings), Host(host), References(references), Clocks(std::move(clocks)),
      Bins(settings.Cal) {}

CalibrationEngine::~CalibrationEngine() {
    Shutdown();
}

uint32_t CalibrationEngine::TickCount() const {
    if (Clocks.TickCountMs) return Clocks.TickCountMs();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void CalibrationEngine::StartCycleTimer(unsigned milliseconds) {
    if (!Quitting) Host.StartTimer(TimerCalibrationCycle, milliseconds);
}

// --- Commands ---

void CalibrationEngine::StartReferenceCalibration(bool gps) {
    const auto calibration = Core.HoldCalibration();
    StopCalibrationLocked();
    Core.Calibrating = calflags::StartPhase | (gps ? calflags::Gps : calflags::Sntp);
    Core.Measurement.CalibrationStatusText +=
        gps ? "\r\nStarting GPS cal" : "\r\nStarting SNTP cal";
    std::string error;
    if (gps && !References.OpenGpsPort(App.GPSPort, App.GPSBaud, error)) {
        StopCalibrationLocked();
        FailStart("\r\nUnable to start GPS calibration.\r\n", error);
        return;
    }
    StartCycleTimer(StartDelayMs);
}

// Under the calibration lock: the reason stays on screen for a while.
void CalibrationEngine::FailStart(const char* what, const std::string& error) {
    Core.Measurement.CalibrationStatusText += what;
    Core.Measurement.CalibrationStatusText += error;
    Host.StartTimer(TimerClearCalibrationText, MessageShownMs);
}

void CalibrationEngine::StartLocalCalibration() {
    {
        const auto calibration = Core.HoldCalibration();
        SavedCalFactor = 0.0;
    }
    LeaveLocalCalibration();
    const auto calibration = Core.HoldCalibration();
    const auto analysis = Core.HoldAnalysis();
    SavedCalFactor = CalFactorFor(Core.Settings.SampleRate, Core.Settings.Cal);
    SetFactorLocked(1.0);
    Core.Calibrating = calflags::LocalStandard;
}

void CalibrationEngine::FinishCalibration() {
    const int flags = Core.Calibrating;
    if (flags == calflags::LocalStandard) {
        FinishLocalCalibration();
    } else if (calflags::IsReferenceRun(flags)) {
        RequestEndCalibration();
    } else if ((flags & calflags::LowBits) == 0) {
        const auto calibration = Core.HoldCalibration();
        Core.Calibrating = calflags::None;
    }
}

void CalibrationEngine::ToggleCorrectSystemClock() {
    int expected = 0;
    if (!CorrectSystemClock.compare_exchange_strong(expected, 1)) CorrectSystemClock = 0;
}

bool CalibrationEngine::CorrectSystemClockRequested() const {
    return CorrectSystemClock != 0;
}

// --- Local standard ---

// Under both locks: the factor in use for the current rate, and the capture buffers follow it.
void CalibrationEngine::SetFactorLocked(double factor) {
    CalFactorSlotFor(Core.Settings.SampleRate, Core.Settings.Cal) = factor;
    Core.RecomputeConstants();
    Host.SetCaptureSamplesPerBuffer(Core.Derived.SamplesPerBuffer);
}

bool CalibrationEngine::ApplyCalFactor(double factor) {
    if (!std::isfinite(factor) || factor <= LowestFactor || factor >= HighestFactor) return false;
    const auto calibration = Core.HoldCalibration();
    const auto analysis = Core.HoldAnalysis();
    SetFactorLocked(factor);
    return true;
}

void CalibrationEngine::RestoreSavedFactorLocked() {
    if (std::fabs(SavedCalFactor - 1.0) >= RestorableFactorDistance) return;
    SetFactorLocked(SavedCalFactor);
    SavedCalFactor = 0.0;
}

void CalibrationEngine::LeaveLocalCalibration() {
    const auto calibration = Core.HoldCalibration();
    const auto analysis = Core.HoldAnalysis();
    Core.Calibrating = calflags::None;
    Core.ResetMeasurement();
    Core.Measurement.CalibrationStatusText.clear();
    RestoreSavedFactorLocked();
    Core.ClockRegression.Restart();
}

void CalibrationEngine::FinishLocalCalibration() {
    double measured, suggested, suggestedTrim, trim, saved;
    {
        const auto calibration = Core.HoldCalibration();
        const auto analysis = Core.HoldAnalysis();
        measured = Core.Measurement.MeasuredTime;
        suggested = CalFactorFor(Core.Settings.SampleRate, Core.Settings.Cal) -
                    Core.Measurement.AccumulatedRate;
        trim = Clocks.Timestamps.GetTrim();
        suggestedTrim = trim / suggested / Core.ClockRegression.TimestampSlope;
        saved = SavedCalFactor;
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
        const auto calibration = Core.HoldCalibration();
        SavedCalFactor = 0.0;
    }
    LeaveLocalCalibration();
    if (ask.Ask(FormatC("Timestamp tuning in use %+1.4f s/d\nTimestamp tuning suggested %+1.4f "
                        "s/d\nClick 'Yes' to apply, 'No' to leave unchanged.",
                        FactorToSecondsPerDay(trim), FactorToSecondsPerDay(suggestedTrim)),
                QuestionButtons::YesNo, QuestionIcon::Information) == Answer::Yes) {
        const auto calibration = Core.HoldCalibration();
        const auto analysis = Core.HoldAnalysis();
        if (Clocks.Timestamps.SetTrim(suggestedTrim)) Core.ClockRegression.Restart();
    }
    Host.SaveSettings();
}

// --- Network and GPS runs ---

void CalibrationEngine::StopCalibration() {
    const auto calibration = Core.HoldCalibration();
    StopCalibrationLocked();
}

void CalibrationEngine::StopCalibrationLocked() {
    Core.Calibrating = calflags::None;
    Bins = CalibrationSums{};
    TotalTime = 0;
    TotalSamples = 0;
    LastUpdateTick = 0;
    Host.KillTimer(TimerCalibrationCycle);
    if (References.GpsPortOpen()) References.CloseGpsPort();
}

void CalibrationEngine::PauseCalibration() {
    Host.KillTimer(TimerCalibrationCycle);
    const auto calibration = Core.HoldCalibration();
    const int flags = Core.Calibrating;
    if (!calflags::IsReferenceRun(flags)) {
        Core.Calibrating = calflags::None;
        return;
    }
    if (flags & calflags::Finishing) return;
    Core.Calibrating = flags | calflags::Paused;
    Bins.StartSample = TotalSamples;
    Bins.StartTime = TotalTime;
    if (References.GpsPortOpen()) References.CloseGpsPort();
}

void CalibrationEngine::MeasuringStopped() {
    if (Core.Calibrating == calflags::LocalStandard)
        LeaveLocalCalibration();
    else
        PauseCalibration();
}

void CalibrationEngine::ContinueCalibration() {
    const auto calibration = Core.HoldCalibration();
    const int flags = Core.Calibrating;
    if ((flags & calflags::Finishing) || (flags & calflags::LowBits) == 0 ||
        (flags & calflags::ReferenceKinds) == calflags::ReferenceKinds)
        StopCalibrationLocked();
    if (!calflags::IsReferenceRun(Core.Calibrating)) return;
    Core.Measurement.CalibrationStatusText += "\r\nContinuing calibration";
    Core.Calibrating = (Core.Calibrating & ~calflags::Paused) | calflags::StartPhase;
    std::string error;
    if ((Core.Calibrating & calflags::Gps) &&
        !References.OpenGpsPort(App.GPSPort, App.GPSBaud, error)) {
        StopCalibrationLocked();
        FailStart("\r\nUnable to continue calibration.\r\n", error);
        return;
    }
    StartCycleTimer(ResumeDelayMs);
}

void CalibrationEngine::RequestEndCalibration() {
    Host.KillTimer(TimerCalibrationCycle);
    {
        const auto calibration = Core.HoldCalibration();
        Core.Calibrating = (Core.Calibrating & ~calflags::Paused) | calflags::Finishing;
    }
    WaitForWorker(std::chrono::milliseconds(EndWaitMs));
    Hold calibration = Core.HoldCalibration();
    CalibrationUpdate(calibration);
}

// --- The worker ---

void CalibrationEngine::OnCycleTimer() {
    Hold calibration = Core.HoldCalibration();
    if (!calflags::IsActiveReferenceRun(Core.Calibrating) || Quitting) {
        Core.Measurement.CalibrationStatusText.clear();
        return;
    }
    calibration.unlock();
    std::lock_guard worker(WorkerMutex);
    if (WorkerBusy) { // the last reading has not ended yet: look again shortly
        StartCycleTimer(ResumeDelayMs);
        return;
    }
    if (WorkerThread.joinable()) WorkerThread.join(); // it has ended; only its exit remains
    WorkerBusy = true;
    WorkerThread = std::thread(&CalibrationEngine::WorkerMain, this);
}

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
        where = {App.SNTPServer, App.SNTPPort};
        if (r.Flags & calflags::StartPhase) Worker = CalibrationWorkerState{};
    }
    if (r.Flags & (calflags::Paused | calflags::Finishing)) {
        WorkerEnded();
        return;
    }
    const bool gps = (r.Flags & calflags::Gps) != 0;
    const int kind = gps ? calflags::Gps : calflags::Sntp;
    const ReadingPhase phase =
        (r.Flags & calflags::StartPhase) ? ReadingPhase::Start : ReadingPhase::Running;
    r.Ok = References.Read(
        gps, phase, where, [this, kind] { return StillWanted(kind); }, r.Offset, r.Status);
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
    TotalTime = Bins.StartTime - Worker.ReferenceStart + t;
    TotalSamples = Bins.StartSample - Worker.SampleStart + s;
    const double x = static_cast<double>(TotalTime) / Units100nsPerSecond;
    const double y = static_cast<double>(TotalSamples) / Core.Settings.SampleRate;
    Bins.N[0] += 1;
    Bins.SumX[0] += x;
    Bins.SumY[0] += y;
    Bins.SumXY[0] += x * y;
    Bins.SumXX[0] += x * x;
    if (debug)
        ReferenceStatusText +=
            FormatC("X %+10g\r\nY %+10g\r\nN %lld\r\nTot Samples %lld\r\n"
                    "Tot Time %lld\r\n",
                    x, y, static_cast<long long>(Bins.N[0]), static_cast<long long>(TotalSamples),
                    static_cast<long long>(TotalTime));
    const CalendarTime when = CalendarFromUtc100ns(static_cast<uint64_t>(t));
    ReferenceStatusText += FormatC("%02d:%02d:%02d UTC\r\n", when.Hour, when.Minute, when.Second);
    const int64_t interval = std::max(App.CalUpdateInterval, 1);
    SlideWindowLocked(Bins.N[0] * interval / 1000 / QuarterHourSeconds);
    LastUpdateTick = TickCount();
}

// Bin k keeps the window as it was at k quarter-hours; past twelve hours the oldest quarter-hour
// leaves the window.
void CalibrationEngine::SlideWindowLocked(int64_t quarterHours) {
    if (quarterHours >= CalibrationSlots) {
        for (int i = 0; i < CalibrationSlots; ++i) {
            if (i == 1) continue;
            Bins.SumX[i] -= Bins.SumX[1];
            Bins.SumY[i] -= Bins.SumY[1];
            Bins.SumXY[i] -= Bins.SumXY[1];
            Bins.SumXX[i] -= Bins.SumXX[1];
            Bins.N[i] -= Bins.N[1];
        }
        for (int i = 1; i + 1 < CalibrationSlots; ++i) {
            Bins.SumX[i] = Bins.SumX[i + 1];
            Bins.SumY[i] = Bins.SumY[i + 1];
            Bins.SumXY[i] = Bins.SumXY[i + 1];
            Bins.SumXX[i] = Bins.SumXX[i + 1];
            Bins.N[i] = Bins.N[i + 1];
        }
    } else if (quarterHours > 0) {
        const auto k = static_cast<size_t>(quarterHours);
        Bins.SumX[k] = Bins.SumX[0];
        Bins.SumY[k] = Bins.SumY[0];
        Bins.SumXY[k] = Bins.SumXY[0];
        Bins.SumXX[k] = Bins.SumXX[0];
        Bins.N[k] = Bins.N[0];
    }
}

// --- CalibrationUpdate ---

double CalibrationEngine::ElapsedReferenceSeconds() const {
    return std::min(static_cast<double>(TotalTime) / Units100nsPerSecond, LongestWindowSeconds);
}

void CalibrationEngine::CalibrationUpdate(Hold& calibration) {
    std::string& text = Core.Measurement.CalibrationStatusText;
    if (!calflags::IsReferenceRun(Core.Calibrating)) {
        text.clear();
        return;
    }
    text.clear();
    const double e = ElapsedReferenceSeconds();
    const Elapsed shown = SplitElapsed(e);
    const auto age = static_cast<int>((TickCount() - LastUpdateTick) / 1000);
    const double inUse =
        FactorToSecondsPerDay(CalFactorFor(Core.Settings.SampleRate, Core.Settings.Cal));
    const bool finishing = (Core.Calibrating & calflags::Finishing) != 0;
    if (e > App.CalUpdateInterval * StatisticsIntervals / 1000.0) {
        const double n = static_cast<double>(Bins.N[0]);
        const double d = n * Bins.SumXX[0] - Bins.SumX[0] * Bins.SumX[0];
        double a = 0.0, b = 0.0;
        if (Bins.N[0] > 1 && std::fabs(d) > SingularDenominator) {
            a = (n * Bins.SumXY[0] - Bins.SumY[0] * Bins.SumX[0]) / d;
            b = (Bins.SumY[0] * Bins.SumXX[0] - Bins.SumXY[0] * Bins.SumX[0]) / d;
            SlopeHigh -= EnvelopeShrink * (SlopeHigh - SlopeLow);
            SlopeLow += EnvelopeShrink * (SlopeHigh - SlopeLow);
            if (a >= SlopeHigh) SlopeHigh = a;
            if (a <= SlopeLow) SlopeLow = a;
        }
        const double confidence =
            std::fabs(a - PreviousSlope) + (0.5 * (SlopeHigh - SlopeLow) + ConfidenceFloor) / e;
        PreviousSlope = a;
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
            const double gross = static_cast<double>(TotalSamples) / e;
            text += FormatC("Timestamp cal in use %+1.4f s/d\r\nLSF slope %1.9f\r\nLSF intercept "
                            "%+1.9f\r\nGross slope %1.9f\r\nGross cal factor %+1.4f\r\nMax slope "
                            "%1.9f\r\nMin slope %+1.9f\r\n",
                            FactorToSecondsPerDay(Clocks.Timestamps.GetTrim()), a, b, gross,
                            FactorToSecondsPerDay(gross / Core.Settings.SampleRate), SlopeHigh,
                            SlopeLow);
        }
    } else if (finishing) {
        StopCalibrationLocked();
        text.clear();
        return;
    } else {
        SlopeHigh = InitialSlopeHigh;
        SlopeLow = InitialSlopeLow;
        PreviousSlope = 0.0;
        text = ReferenceStatusText +
               FormatC("\r\nSynchronising calibration\r\nTime elapsed %02d:%02d:%02d\r\nCal "
                       "factor in use %+1.4f s/d\r\n",
                       shown.Hours, shown.Minutes, shown.Seconds, inUse);
    }
    if (calflags::IsReferenceRun(Core.Calibrating) && !(Core.Calibrating & calflags::Finishing))
        StartCycleTimer((Core.Calibrating & calflags::StartPhase)
                            ? ResumeDelayMs
                            : static_cast<unsigned>(std::max(App.CalUpdateInterval, 1)));
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
    if (choice == EndChoice::ApplyAndContinue || choice == EndChoice::ApplyAndEnd)
        ApplyAndSave(calibration, slope);
    else
        calibration.lock();
    std::string& text = Core.Measurement.CalibrationStatusText;
    switch (choice) {
    case EndChoice::Continue:
        Core.Calibrating = Core.Calibrating & ~calflags::Finishing;
        text += "\r\nContinuing calibration";
        break;
    case EndChoice::ApplyAndContinue:
        Core.Calibrating = Core.Calibrating & ~calflags::Finishing;
        text += "\r\nCal factor applied.\r\nContinuing calibration";
        break;
    case EndChoice::ApplyAndEnd:
    case EndChoice::Abandon:
        StopCalibrationLocked();
        break;
    }
    if (calflags::IsActiveReferenceRun(Core.Calibrating))
        StartCycleTimer((Core.Calibrating & calflags::StartPhase)
                            ? ResumeDelayMs
                            : static_cast<unsigned>(std::max(App.CalUpdateInterval, 1)));
}

// Applies the fitted factor and saves the settings; returns with `calibration` held.
void CalibrationEngine::ApplyAndSave(Hold& calibration, double slope) {
    if (ApplyCalFactor(slope)) {
        {
            const auto analysis = Core.HoldAnalysis();
            Core.ClockRegression.Restart();
        }
        Host.SaveSettings();
    }
    calibration.lock();
}

// --- Shutdown and inspection ---

void CalibrationEngine::Shutdown() {
    Quitting = true;
    Host.KillTimer(TimerCalibrationCycle);
    std::unique_lock worker(WorkerMutex);
    WorkerDone.wait(worker, [this] { return !WorkerBusy; });
    if (WorkerThread.joinable()) WorkerThread.join();
}

bool CalibrationEngine::WaitForWorker(std::chrono::milliseconds timeout) {
    std::unique_lock worker(WorkerMutex);
    if (!WorkerDone.wait_for(worker, timeout, [this] { return !WorkerBusy; })) return false;
    if (WorkerThread.joinable()) WorkerThread.join();
    return true;
}

CalibrationProgress CalibrationEngine::Progress() const {
    const auto calibration = Core.HoldCalibration();
    return {Core.Calibrating, Worker.Countdown, TotalTime, TotalSamples, ReferenceStatusText, Bins,
            SlopeHigh,        SlopeLow};
}

} // namespace kv
