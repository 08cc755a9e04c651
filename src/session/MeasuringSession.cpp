// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/MeasuringSession.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <system_error>

#include "audio/PortAudioSink.h"
#include "audio/PortAudioSource.h"
#include "audio/mixer/AlsaMixerControl.h"
#include "settings/SettingsIO.h"
#include "settings/SettingsPaths.h"

namespace kv {

namespace {

constexpr const char* SettingsNotSavedNotice = "The settings cannot be saved: ";
constexpr const char* UnreadableSettingsNotice =
    "Kestrovane starts with its default settings and leaves that file as it is; move it away to "
    "keep the changes you make.";

} // namespace

MeasuringSession::MeasuringSession(SessionHost& host, CaptureSource* capture, PlaybackSink* output,
                                   const CalibrationSeams& seams)
    : Host(host), Core(*this), Monitor(std::make_shared<MonitorState>()) {
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
    if (!capture) {
        OwnCapture = std::make_unique<PortAudioSource>();
        capture = OwnCapture.get();
    }
    PlaybackSink* fileOutput = output;
    if (!output) {
        OwnOutput = std::make_unique<PortAudioSink>();
        OwnFileOutput = std::make_unique<PortAudioSink>();
        output = OwnOutput.get();
        fileOutput = OwnFileOutput.get();
    }
    Player = std::make_unique<FilePlayer>(*fileOutput);
    SoundOut = std::make_unique<CSoundOut>(
        Monitor, *output, [this](const std::string& m) { OutputProblems.push_back(m); });
    SoundIn = std::make_unique<CSoundIn>(
        *capture,
        [this](size_t n, int16_t* samples, int remaining, std::optional<int64_t> endCounter) {
            Core.ProcessBuffer(n, samples, remaining, endCounter);
        },
        [this](const std::string& m) { Host.Notice(m); });
    SoundIn->SetCallbackLock([this] { return Core.HoldAnalysis(); });
    // Buffers are timed by when their last sample arrived, not by when the worker woke: the
    // device's blocks and the analysis buffers do not line up, and the difference would drift
    // through the timestamps as a sawtooth of one block's length.
    SoundIn->SetArrivalClock([this] { return Core.Timestamps().ReadCounter(); },
                             Core.Timestamps().Frequency());
    PositionRun = std::make_unique<PositionalRun>(Core, App, PositionsLink, PositionsLink);
    // A sound card's mixer goes with the sound card; a source or output that stands in for it
    // has none unless UseMixers gives one.
    if (OwnCapture)
        OwnInputMixer = std::make_unique<AlsaMixerControl>();
    else
        OwnInputMixer = std::make_unique<AbsentMixerControl>();
    if (OwnOutput)
        OwnOutputMixer = std::make_unique<AlsaMixerControl>();
    else
        OwnOutputMixer = std::make_unique<AbsentMixerControl>();
    MakeFaders(*OwnInputMixer, *OwnOutputMixer);
}

MeasuringSession::~MeasuringSession() {
    Shutdown();
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
    LoadSimulation();
    MakeDefaultFileNames(App);
    Host.ShowTrain();
}

bool MeasuringSession::Save() {
    if (!Store) return false;
    const auto calibration = Core.HoldCalibration(); // before the analysis lock, as everywhere
    const auto lock = Core.HoldAnalysis();
    const unsigned inUse = Core.Settings.SampleRate;
    Core.Settings.SampleRate = Waveform.UserSampleRate(inUse);
    kv::SaveSettings(*Store, Core, App, ProcessTimestampClock());
    // A file opened from the command line is played, never stored as the waveform file.
    if (StoredWaveFile) Store->WriteText(SettingsSection, "WaveFile2", *StoredWaveFile);
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
    Clocked.SetRateOffsetPpm(
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
        CloseWaveformFiles();
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
    RandomPlaybackStart();
    SoundIn->SampleRate = Core.Settings.SampleRate;
    SoundIn->DeviceName = App.SoundDeviceStr;
    if (SoundIn->Start() != 0) {
        Host.Notice("Please check wave-in device. Unable to continue.");
        Core.EndRun();
        return;
    }
    BindInputFader();
    Monitor->DropClip();
    StartOutput();
    BindSpeakerFader();
    SimulateCaptureClock();
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
    Monitor->DropClip();
    Core.EndRun();
    SoundIn->Close();
    Monitor->Free();
    StopOutput();
    Host.RequestRepaint();
    Host.ShowRunning(false);
}

bool MeasuringSession::StartOutput() {
    if (!Core.Settings.DuplexAudio) return false;
    SoundOut->SampleRate = Core.Settings.SampleRate;
    SoundOut->DeviceName = App.SoundDeviceOutStr;
    OutputProblems.clear();
    if (SoundOut->Start() == 0) return true;
    if (!OutputProblemReported) {
        OutputProblemReported = true;
        for (const std::string& problem : OutputProblems)
            Host.Notice(problem);
        Host.Notice("Please check wave-out device. Continuing without sound-out.");
    }
    const auto lock = Core.HoldAnalysis();
    Core.Settings.DuplexAudio = 0;
    return false;
}

void MeasuringSession::StopOutput() {
    if (SoundOut->Running()) SoundOut->Close();
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
        Core.OnAutoStopTimer(calflags::IsReferenceRun(Core.Calibrating));
        Host.RequestRepaint();
        break;
    case TimerTrainDetect:
        Core.ParseTrain("TAUTO");
        break;
    case TimerCentre:
        if (IsRunning()) Core.CentreNow();
        break;
    case TimerPerBuffer:
        if (IsRunning()) PerBufferStep();
        if (IsRunning()) PositionHandOver();
        break;
    case TimerCalibrationCycle:
        Calibrator->OnCycleTimer();
        break;
    case TimerClearCalibrationText: {
        const auto lock = Core.HoldCalibration();
        Core.Measurement.CalibrationStatusText.clear();
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
        playing = Waveform.Playing();
    }
    if (playing && !SoundIn->UsingFallback()) {
        SoundIn->PreferFallback();
        StopMeasurement();
        StartMeasurement();
        return;
    }
    SilentCaptureReported = true;
    Host.Notice("No sound arrives from the input device: it was started but delivers nothing. "
                "Check that no other program holds it, or choose another input in the settings.");
}

// --- Waveform files ---

void MeasuringSession::PlayAtStart(const std::string& file) {
    if (!file.empty()) {
        {
            const auto lock = Core.HoldAnalysis();
            if (!StoredWaveFile) StoredWaveFile = App.WaveFile2;
            App.WaveFile2 = file;
        }
        if (std::error_code error; std::filesystem::exists(file, error))
            TogglePlayback(); // says so when the file is not a recording it can read
        else
            Host.Notice("Cannot play " + file + ": there is no such file.");
        if (Playback().Playing) return;
        const auto lock = Core.HoldAnalysis();
        App.WaveFile2 = *StoredWaveFile;
        StoredWaveFile.reset();
    }
    TogglePlayback();
}

void MeasuringSession::SetWaveformFile(const std::string& path) {
    EndPlaybackAtUserRate();
    {
        const auto lock = Core.HoldAnalysis();
        CloseWaveformFiles();
        App.WaveFile2 = path;
        StoredWaveFile.reset();
    }
    Save();
    std::error_code error;
    if (std::filesystem::exists(path, error)) TogglePlayback();
}

// The header carries the rate the samples arrive at. Ending a playback gives the capture back the
// user's rate, so a running capture is restarted on it before the first sample is recorded.
void MeasuringSession::ToggleRecording() {
    EndPlaybackAtUserRate();
    const auto lock = Core.HoldAnalysis();
    if (Waveform.Recording())
        Waveform.CloseRecording();
    else
        Waveform.OpenForWriting(App.WaveFile2, Core.Settings.SampleRate, SoundIn->Channels);
    Host.RequestRepaint();
}

void MeasuringSession::TogglePlayback() {
    {
        const auto lock = Core.HoldAnalysis();
        if (Waveform.Recording()) Waveform.CloseRecording();
    }
    const bool wasRunning = StopForNewSource();
    auto lock = Core.HoldAnalysis();
    if (Waveform.Playing()) {
        EndPlayback();
        lock.unlock();
        if (wasRunning) PostRun();
    } else if (Waveform.OpenForReading(App.WaveFile2, Core.Settings.SampleRate,
                                       SoundIn->Channels)) {
        Core.PlayingBack = true;
        Core.PlaybackGain = 1.0; // a new recording starts at its own level
        Core.ResetMeasurement();
        SoundIn->SetPlaybackFallback(&Clocked);
        if (!Core.Settings.DuplexAudio)
            Player->Start(Waveform.PlaybackData(), Core.Settings.SampleRate, App.SoundDeviceOutStr);
        lock.unlock();
        PostRun();
    } else if (std::error_code error; std::filesystem::exists(App.WaveFile2, error)) {
        lock.unlock();
        Host.Notice("Cannot play " + App.WaveFile2 +
                    ": it is not a WAV recording this program can read.");
    }
    Host.RequestRepaint();
}

void MeasuringSession::EndPlaybackAtUserRate() {
    bool playing;
    {
        const auto lock = Core.HoldAnalysis();
        playing = Waveform.Playing();
    }
    if (playing) TogglePlayback();
}

PlaybackView MeasuringSession::Playback() const {
    const auto lock = Core.HoldAnalysis();
    return {Waveform.Playing(), Waveform.Recording(), Waveform.LoopCount()};
}

// Under the analysis lock: closes the playback and gives back the capture rate and channels. The
// live input that follows is a new measurement.
void MeasuringSession::EndPlayback() {
    Player->Stop();
    Waveform.ClosePlayback(Core.Settings.SampleRate, SoundIn->Channels);
    Core.PlayingBack = false;
    SoundIn->SetPlaybackFallback(nullptr);
    Core.ResetMeasurement();
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
    if (!Waveform.Playing()) Core.ResetMeasurement();
    return wasRunning;
}

// Under the analysis lock: closes whatever waveform file is open.
void MeasuringSession::CloseWaveformFiles() {
    if (Waveform.Recording()) Waveform.CloseRecording();
    if (Waveform.Playing()) EndPlayback();
}

void MeasuringSession::PostRun() {
    Host.Post([this] {
        if (!IsRunning()) StartMeasurement();
    });
}

// A playback captured without a sound card hears the recording through the simulated clock: a
// clock running fast takes more samples of the same sound.
void MeasuringSession::SimulateCaptureClock() {
    const double ppm = SoundIn->UsingFallback() ? Clocked.RateOffsetPpm() : 0.0;
    const auto lock = Core.HoldAnalysis();
    constexpr double PerMillion = 1e-6;
    Waveform.SetPlaybackStep(1.0 / (1.0 + ppm * PerMillion));
}

void MeasuringSession::RandomPlaybackStart() {
    // Any of the 32768 start points of the recording, as the draw hook gives them.
    constexpr int StartPoints = 32768;
    const auto lock = Core.HoldAnalysis();
    if (!Waveform.Playing()) return;
    static std::mt19937 generator{std::random_device{}()};
    Waveform.RandomStart(PlaybackStartDraw
                             ? PlaybackStartDraw()
                             : std::uniform_int_distribution<int>(0, StartPoints - 1)(generator));
}

// Capture thread, inside ProcessBuffer: recording or playback substitution. A playback that can
// no longer fill a buffer has ended; the user-interface thread closes it and resumes live input.
int64_t MeasuringSession::RecordOrPlayBuffer(int16_t* samples, size_t count) {
    const bool wasPlaying = Waveform.Playing();
    const int64_t splice = Waveform.Process(samples, count);
    if (wasPlaying && !Waveform.Playing()) Host.Post([this] { OnPlaybackEnded(); });
    return splice;
}

void MeasuringSession::OnPlaybackEnded() {
    const bool wasRunning = StopForNewSource();
    {
        const auto lock = Core.HoldAnalysis();
        EndPlayback();
    }
    if (wasRunning) StartMeasurement();
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
    SoundIn->SetRingSize(n);
}
void MeasuringSession::SetCaptureSamplesPerBuffer(double samples) {
    SoundIn->SetSamplesPerBuffer(samples);
}
void MeasuringSession::SetCaptureBufferAdjust(double samples) {
    SoundIn->SetBufferAdjust(samples);
}
void MeasuringSession::SetOutputRingSize(int n) {
    SoundOut->SetRingSize(n);
}
void MeasuringSession::MonitorCopy(const int16_t* samples, size_t count) {
    Monitor->Copy(samples, count, Core.Settings.DuplexAudio != 0);
}
void MeasuringSession::WriteLogRecord(int mode) {
    Log.WriteLogRecord(mode);
}
void MeasuringSession::NotifyTick(uint32_t milliseconds, uint32_t beatCountLow) {
    TimeLapse.Notify(milliseconds, beatCountLow);
}

} // namespace kv
