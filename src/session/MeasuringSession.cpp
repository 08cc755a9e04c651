// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/MeasuringSession.h"

#include <cstdio>

#include "settings/SettingsIO.h"
#include "settings/SettingsPaths.h"

namespace kv {

namespace {

constexpr const char* SettingsNotSavedNotice = "The settings cannot be saved: ";
constexpr const char* UnreadableSettingsNotice =
    "Kestrovane starts with its default settings and leaves that file as it is; move it away to "
    "keep the changes you make.";
constexpr int PositionAnnotationTrace = 2; // the log viewer's trace that shows position results

} // namespace

MeasuringSession::MeasuringSession(SessionHost& host, CaptureSource* capture, PlaybackSink* output,
                                   const CalibrationSeams& seams)
    : Host(host), Core(*this), Audio(Core, host, capture, output),
      Waveform(Core, App, host, Audio, *this), Mixers(Core, App, host, Audio) {
    // Once per run of failures; the user would otherwise believe the log is being written.
    Log.ReportStorageFailure = [this](const std::string& message) {
        if (!message.empty()) Host.Notice(message);
    };
    CalibrationReferences* references = seams.References;
    if (!references) {
        OwnReferences = std::make_unique<SystemCalibrationReferences>(BuiltInReferences());
        references = OwnReferences.get();
    }
    SystemClockSetter& setter = seams.ClockSetter ? *seams.ClockSetter : PosixSystemClockSetter();
    Calibrator = std::make_unique<CalibrationEngine>(
        Core, App, static_cast<CalibrationHost&>(*this), *references,
        CalibrationClocks{ProcessTimestampClock(), setter, seams.TickCountMs});
    PositionRun =
        std::make_unique<PositionalRun>(Core, App, static_cast<PositionalRunHost&>(*this), Audio);
}

MeasuringSession::~MeasuringSession() {
    Shutdown();
    Audio.In().Close();
}

// --- Settings ---

void MeasuringSession::Load(SettingsStore* store, int displayWidthPixels) {
    Store = store;
    if (displayWidthPixels > 0) Core.SetTraceWidth(displayWidthPixels);
    if (!Store) return;
    ToolBarRefresh refresh{[this] { Host.ShowLiftAngle(); }, [this] { Host.ShowMeasuringTime(); }};
    // An unreadable file is never replaced, so every save would fail: one notice says both.
    SaveFailureShown = !Store->LastError().empty();
    if (SaveFailureShown) Host.Notice(Store->LastError() + ". " + UnreadableSettingsNotice);
    LoadSettings(*Store, Core, App, ProcessTimestampClock(), refresh);
    Calibrator->AdoptStoredMode();
    LoadSimulation();
    MakeDefaultFileNames(App);
    Host.ShowTrain();
}

bool MeasuringSession::Save() {
    if (!Store) return false;
    const auto calibration = Calibrator->HoldForSaving(); // before the analysis lock, as everywhere
    const auto lock = Core.HoldAnalysis();
    const unsigned inUse = Core.Settings.SampleRate;
    Core.Settings.SampleRate = Waveform.Files().UserSampleRate(inUse);
    kv::SaveSettings(*Store, Core, App, ProcessTimestampClock());
    // A file opened from the command line is played, never stored as the waveform file.
    if (const auto& stored = Waveform.StoredWaveFile())
        Store->WriteText(SettingsSection, "WaveFile2", *stored);
    Core.Settings.SampleRate = inUse;
    const bool saved = Store->Save();
    // Settings are saved after many commands: one notice per run of failures, not one per save.
    if (!saved && !SaveFailureShown && !ShutDown)
        Host.Notice(SettingsNotSavedNotice + Store->LastError());
    if (!saved && ShutDown) // the window is gone: the terminal is the only place left to say it
        std::fprintf(stderr, "%s%s\n", SettingsNotSavedNotice, Store->LastError().c_str());
    SaveFailureShown = !saved;
    return saved;
}

// [Simulation] SampleClockPpm: how far the clock of a playback without a sound card runs fast
// (positive) or slow. Read only, never written: it exists for demonstrations and tests.
void MeasuringSession::LoadSimulation() {
    Audio.Clock().SetRateOffsetPpm(
        Store->GetDouble("Simulation", "SampleClockPpm", DoubleFormat::General, 0.0));
}

void MeasuringSession::Shutdown() {
    if (ShutDown) return;
    ShutDown = true;
    Host.KillTimer(TimerCalibrationCycle);
    if (IsRunning()) CancelPositionalRun();
    if (IsRunning()) StopMeasurement();
    Calibrator->Shutdown();
    {
        const auto lock = Core.HoldAnalysis();
        Waveform.CloseWaveformFiles();
    }
    Save();
}

void MeasuringSession::SessionEnd() {
    if (IsRunning()) CancelPositionalRun();
    if (IsRunning()) StopMeasurement();
    Save();
}

// --- Measuring ---

bool MeasuringSession::IsRunning() const {
    const auto lock = Core.HoldAnalysis();
    return Core.Measurement.Running;
}

void MeasuringSession::Run() {
    if (IsRunning()) CancelPositionalRun();
    if (IsRunning())
        StopMeasurement();
    else
        StartMeasurement();
}

void MeasuringSession::StartMeasurement() {
    TimeLapse.Find();
    Core.BeginRun();
    {
        const auto lock = Core.HoldAnalysis();
        BuffersAtRun = Core.Detector.BufferCounter;
    }
    SilentCaptureReported = false;
    // Before the first buffer: a move once buffers flow would join two moments of the recording
    // inside the measurement.
    Waveform.RandomPlaybackStart();
    if (!Audio.StartInput(Core.Settings.SampleRate, App.SoundDeviceStr)) {
        Host.Notice("Please check wave-in device. Unable to continue.");
        Core.EndRun();
        return;
    }
    Mixers.BindInputFader();
    Audio.Monitor().DropClip();
    Audio.StartOutput(App.SoundDeviceOutStr);
    Mixers.BindSpeakerFader();
    Waveform.SimulateCaptureClock();
    Host.StartTimer(TimerAutoStop, Core.AutoStopDelayMs());
    if (Core.Settings.Centre)
        Host.StartTimer(TimerCentre, static_cast<unsigned>(Core.Derived.BeatPeriod * 4000.0));
    Host.ShowRunning(true);
    Calibrator->ContinueCalibration();
}

void MeasuringSession::StopMeasurement() {
    Calibrator->MeasuringStopped();
    WriteLogRecord(LogTimeOnly);
    Host.KillTimer(TimerAutoStop);
    Host.KillTimer(TimerTrainDetect);
    Host.KillTimer(TimerCentre);
    Audio.Monitor().DropClip();
    Core.EndRun();
    Audio.Stop();
    Host.RequestRepaint();
    Host.ShowRunning(false);
}

bool MeasuringSession::StartReferenceCalibration(std::string_view key) {
    const std::optional<ReferenceId> kind = Calibrator->Registry().Find(key);
    if (!kind) return false;
    Host.RequestRepaint();
    if (!IsRunning()) StartMeasurement();
    {
        const auto lock = Core.HoldAnalysis();
        Core.NoSignal = false;
    }
    Calibrator->StartReferenceCalibration(*kind);
    return true;
}

void MeasuringSession::CentreNow() {
    Core.CentreNow();
}

void MeasuringSession::ToggleAutostop() {
    {
        const auto lock = Core.HoldAnalysis();
        Core.Settings.Autostop = !Core.Settings.Autostop;
        Core.NoSignal = false;
    }
    Host.StartTimer(TimerAutoStop, Core.AutoStopDelayMs());
}

void MeasuringSession::OnTimer(int id) {
    switch (id) {
    case TimerAutoStop:
        ReportSilentCapture();
        Core.OnAutoStopTimer(calflags::IsReferenceRun(Calibrator->Flags()));
        Host.RequestRepaint();
        break;
    case TimerTrainDetect:
        Core.ParseTrain("TAUTO");
        break;
    case TimerCentre:
        if (IsRunning()) Core.CentreNow();
        break;
    case TimerPerBuffer:
        if (IsRunning()) Mixers.PerBufferStep();
        if (IsRunning()) PositionHandOver();
        break;
    case TimerCalibrationCycle:
        Calibrator->OnCycleTimer();
        break;
    case TimerClearCalibrationText: {
        const auto lock = Calibrator->State().HoldLock();
        Calibrator->State().Text().clear();
        break;
    }
    default:
        break;
    }
}

// The auto-stop delay after Run without a single buffer: the device was opened and started but
// delivers nothing (held by another program, a stalled driver). A playback goes on without the
// sound card; live measuring cannot work, and that is said once per Run.
void MeasuringSession::ReportSilentCapture() {
    if (!IsRunning() || SilentCaptureReported) return;
    bool playing;
    {
        const auto lock = Core.HoldAnalysis();
        if (Core.Detector.BufferCounter != BuffersAtRun) return;
        playing = Waveform.Files().Playing();
    }
    if (playing && !Audio.In().UsingFallback()) {
        Audio.In().PreferFallback();
        StopMeasurement();
        StartMeasurement();
        return;
    }
    SilentCaptureReported = true;
    Host.Notice("No sound arrives from the input device: it was started but delivers nothing. "
                "Check that no other program holds it, or choose another input in the settings.");
}

// A new recording, or live input after a playback, is a new measurement: every accumulated reading
// starts again with it (the log's already do), and a positional run is given up as Stop does.
// True when measuring was running.
bool MeasuringSession::StopForNewSource() {
    if (!IsRunning()) return false;
    CancelPositionalRun();
    if (IsRunning()) StopMeasurement();
    return true;
}

bool MeasuringSession::StopForNewInput() {
    const bool wasRunning = StopForNewSource();
    const auto lock = Core.HoldAnalysis();
    if (!Waveform.Files().Playing()) Core.ResetMeasurement();
    return wasRunning;
}

// --- Positional runs ---

void MeasuringSession::AdvancePositionalRun() {
    PositionRun->Advance();
}

// When the current position has been measured long enough: its result goes into the log as an
// annotation and the positional command is posted. One hand-over at a time: the buffers that
// arrive before the posted command runs find it pending. A hand-over that finds the run
// cancelled or already moved on does nothing.
void MeasuringSession::PositionHandOver() {
    if (HandOverPending) return;
    const std::optional<std::string> annotation = PositionRun->HandOverAnnotation();
    if (!annotation) return;
    Log.AnnotateLog(PositionAnnotationTrace, *annotation);
    int position;
    {
        const auto lock = Core.HoldAnalysis();
        position = Core.Measurement.CurrentPosition;
    }
    HandOverPending = true;
    Host.Post([this, position] {
        HandOverPending = false;
        bool samePosition;
        {
            const auto lock = Core.HoldAnalysis();
            samePosition = Core.Measurement.CurrentPosition == position;
        }
        if (samePosition) AdvancePositionalRun();
    });
}

// Stop during a run: the run is forgotten and the positioner sent home while the sound output
// still plays.
void MeasuringSession::CancelPositionalRun() {
    PositionRun->Cancel();
}

// --- AnalysisHost ---

void MeasuringSession::RefreshTrainBox() {
    Host.ShowTrain();
}
void MeasuringSession::TraceZoomReset(double zoom) {
    App.DisplayZoom = zoom;
}
void MeasuringSession::RefreshMeasuringTimeBox() {
    Host.ShowMeasuringTime();
}
void MeasuringSession::RefreshLiftAngleBox() {
    Host.ShowLiftAngle();
}
void MeasuringSession::StartTimer(int id, unsigned milliseconds) {
    Host.StartTimer(id, milliseconds);
}
void MeasuringSession::KillTimer(int id) {
    Host.KillTimer(id);
}
void MeasuringSession::RequestRepaint() {
    Host.RequestRepaint();
}
void MeasuringSession::SetCaptureRingSize(int n) {
    Audio.In().SetRingSize(n);
}
void MeasuringSession::SetCaptureSamplesPerBuffer(double samples) {
    Audio.In().SetSamplesPerBuffer(samples);
}
void MeasuringSession::SetCaptureBufferAdjust(double samples) {
    Audio.In().SetBufferAdjust(samples);
}
void MeasuringSession::SetOutputRingSize(int n) {
    Audio.Out().SetRingSize(n);
}
int64_t MeasuringSession::RecordOrPlayBuffer(int16_t* samples, size_t count) {
    return Waveform.RecordOrPlayBuffer(samples, count);
}
void MeasuringSession::MonitorCopy(const int16_t* samples, size_t count) {
    Audio.Monitor().Copy(samples, count, Core.Settings.DuplexAudio != 0);
}
void MeasuringSession::WriteLogRecord(int mode) {
    Log.WriteLogRecord(mode);
}
void MeasuringSession::NotifyTick(uint32_t milliseconds, uint32_t beatCountLow) {
    TimeLapse.Notify(milliseconds, beatCountLow);
}

} // namespace kv
