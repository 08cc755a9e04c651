// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/CalibrationEngine.h"

#include <algorithm>
#include <cmath>

#include "text/NumberText.h"

namespace kv {

namespace {

// Factors the settings accept on loading: a card half or twice its nominal rate is no card.
constexpr double LowestFactor = 0.5, HighestFactor = 2.0;

} // namespace

CalibrationEngine::CalibrationEngine(AnalysisCore& core, AppSettings& settings,
                                     CalibrationHost& host, CalibrationReferences& references,
                                     CalibrationClocks clocks)
    : Core(core), App(settings), Host(host), References(references), Clocks(std::move(clocks)),
      Shared(core.LocalStandardRun), Bins(settings.Cal) {}

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

void CalibrationEngine::StartReferenceCalibration(ReferenceId kind) {
    const ReferenceRegistry& registry = References.Registry();
    if (kind < 0 || kind >= registry.Count()) return;
    const std::string& name = registry.Kind(kind).Name;
    const auto calibration = Shared.HoldLock();
    StopCalibrationLocked();
    Shared.SetMode(calflags::StartPhase | calflags::ReferenceBit(kind));
    Shared.Text() += "\r\nStarting " + name + " cal";
    std::string error;
    if (!References.Open(kind, ReferenceSettingsFrom(App), error)) {
        StopCalibrationLocked();
        FailStart("\r\nUnable to start " + name + " calibration.\r\n", error);
        return;
    }
    StartCycleTimer(StartDelayMs);
}

// Under the calibration lock: the reason stays on screen for a while.
void CalibrationEngine::FailStart(const std::string& what, const std::string& error) {
    Shared.Text() += what;
    Shared.Text() += error;
    Host.StartTimer(TimerClearCalibrationText, MessageShownMs);
}

ReferenceId CalibrationEngine::RunKind(int flags) const {
    return calflags::ReferenceOf(flags, References.Registry().Count());
}

void CalibrationEngine::FinishCalibration() {
    const int flags = Shared.Mode();
    if (flags == LocalCalibrationMode) {
        FinishLocalCalibration();
    } else if (calflags::IsReferenceRun(flags)) {
        RequestEndCalibration();
    } else if ((flags & calflags::LowBits) == 0) {
        const auto calibration = Shared.HoldLock();
        Shared.SetMode(calflags::None);
    }
}

void CalibrationEngine::ToggleCorrectSystemClock() {
    int expected = 0;
    if (!CorrectSystemClock.compare_exchange_strong(expected, 1)) CorrectSystemClock = 0;
}

bool CalibrationEngine::CorrectSystemClockRequested() const {
    return CorrectSystemClock != 0;
}

// --- The factor in use ---

// Under both locks: the factor in use for the current rate, and the capture buffers follow it.
void CalibrationEngine::SetFactorLocked(double factor) {
    CalFactorSlotFor(Core.Settings.SampleRate, Core.Settings.Cal) = factor;
    Core.RecomputeConstants();
    Host.SetCaptureSamplesPerBuffer(Core.Derived.SamplesPerBuffer);
}

bool CalibrationEngine::ApplyCalFactor(double factor) {
    if (!std::isfinite(factor) || factor <= LowestFactor || factor >= HighestFactor) return false;
    const auto calibration = Shared.HoldLock();
    const auto analysis = Core.HoldAnalysis();
    SetFactorLocked(factor);
    return true;
}

// --- Network and GPS runs ---

void CalibrationEngine::StopCalibration() {
    const auto calibration = Shared.HoldLock();
    StopCalibrationLocked();
}

void CalibrationEngine::StopCalibrationLocked() {
    Shared.SetMode(calflags::None);
    Bins = CalibrationSums{};
    LastUpdateTick = 0;
    Host.KillTimer(TimerCalibrationCycle);
    if (References.AnyOpen()) References.Close();
}

void CalibrationEngine::PauseCalibration() {
    Host.KillTimer(TimerCalibrationCycle);
    const auto calibration = Shared.HoldLock();
    const int flags = Shared.Mode();
    if (!calflags::IsReferenceRun(flags)) {
        Shared.SetMode(calflags::None);
        return;
    }
    if (flags & calflags::Finishing) return;
    Shared.SetMode(flags | calflags::Paused);
    Bins.StartSample = Bins.TotalSamples;
    Bins.StartTime = Bins.TotalTime;
    if (References.AnyOpen()) References.Close();
}

void CalibrationEngine::MeasuringStopped() {
    if (Shared.Mode() == LocalCalibrationMode)
        LeaveLocalCalibration();
    else
        PauseCalibration();
}

void CalibrationEngine::ContinueCalibration() {
    const auto calibration = Shared.HoldLock();
    const int flags = Shared.Mode();
    if ((flags & calflags::Finishing) || (flags & calflags::LowBits) == 0 ||
        (calflags::IsReferenceRun(flags) && RunKind(flags) < 0))
        StopCalibrationLocked();
    if (!calflags::IsReferenceRun(Shared.Mode())) return;
    Shared.Text() += "\r\nContinuing calibration";
    Shared.SetMode((Shared.Mode() & ~calflags::Paused) | calflags::StartPhase);
    // The first point from here on follows on from the totals so far, also those of a run that
    // was stored while it ran.
    Bins.StartTime = Bins.TotalTime;
    Bins.StartSample = Bins.TotalSamples;
    std::string error;
    if (!References.Open(RunKind(Shared.Mode()), ReferenceSettingsFrom(App), error)) {
        StopCalibrationLocked();
        FailStart("\r\nUnable to continue calibration.\r\n", error);
        return;
    }
    StartCycleTimer(ResumeDelayMs);
}

// --- The worker ---

void CalibrationEngine::OnCycleTimer() {
    Hold calibration = Shared.HoldLock();
    if (!calflags::IsActiveReferenceRun(Shared.Mode()) || Quitting) {
        Shared.Text().clear();
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
    const auto calibration = Shared.HoldLock();
    return {Shared.Mode(), Worker.Countdown, Bins.TotalTime, Bins.TotalSamples, ReferenceStatusText,
            Bins,          Envelope.High(),  Envelope.Low()};
}

// --- Settings ---

void CalibrationEngine::AdoptStoredMode() {
    const auto calibration = Shared.HoldLock();
    Shared.SetMode(App.StoredCalibrationMode);
}

CalibrationState::Hold CalibrationEngine::HoldForSaving() {
    Hold calibration = Shared.HoldLock();
    App.StoredCalibrationMode = Shared.Mode();
    return calibration;
}

} // namespace kv
