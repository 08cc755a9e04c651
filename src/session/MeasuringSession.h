// SPDX-License-Identifier: GPL-3.0-or-later
// One measuring session: the analysis core and the parts that feed it or take from it, each in
// its own class (the sound devices, the waveform files, the mixer faders, the positional run, the
// calibration), plus the log writer and the TimeLapse link. It is the analysis core's host, runs
// and stops measuring across its parts, loads and saves the settings, and offers the operations
// to the window, which draws the analysis and routes commands here.
//
// Threads: constructed, operated and destroyed on the user-interface thread. The capture thread
// enters only through the AnalysisHost calls ProcessBuffer makes, under the analysis lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/AnalysisCore.h"
#include "audio/CaptureSource.h"
#include "calibration/CalibrationEngine.h"
#include "logging/LogWriter.h"
#include "platform/TimeLapseLink.h"
#include "positions/PositionalRun.h"
#include "session/MeasuringControl.h"
#include "session/MixerBinding.h"
#include "session/SessionAudio.h"
#include "session/SessionHost.h"
#include "session/WaveformTransport.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"

namespace kv {

// Replacements for the calibration's outside world (tests); empty members use the real one.
struct CalibrationSeams {
    CalibrationReferences* References = nullptr; // null: the SNTP server and the GPS receiver
    SystemClockSetter* ClockSetter = nullptr;    // null: the machine's clock
    std::function<uint32_t()> TickCountMs;       // empty: the monotonic clock
};

class MeasuringSession : public AnalysisHost,
                         private CalibrationHost,
                         private MeasuringControl,
                         private PositionalRunHost {
public:
    // `capture` and `output` replace the sound card (tests); null uses PortAudio. `output` serves
    // both the monitor and the playback of a waveform file heard without duplex audio.
    MeasuringSession(SessionHost& host, CaptureSource* capture, PlaybackSink* output,
                     const CalibrationSeams& seams = {});
    ~MeasuringSession() override;
    MeasuringSession(const MeasuringSession&) = delete;
    MeasuringSession& operator=(const MeasuringSession&) = delete;

    // The analysis and the program's settings, for drawing and for commands on the user-interface
    // thread; what the capture thread also reads is read and changed under HoldAnalysis.
    AnalysisCore& Analysis() { return Core; }
    const AnalysisCore& Analysis() const { return Core; }
    AppSettings& Settings() { return App; }
    const AppSettings& Settings() const { return App; }

    // --- Settings ---
    // Loads the settings from `store` (may be null) and fills in the default file names; a
    // display width of 0 (no screen) keeps the default.
    void Load(SettingsStore* store, int displayWidthPixels);
    // The store given to Load; may be null.
    SettingsStore* SettingsFile() const { return Store; }
    // Saves to the store given to Load; a playback's borrowed sample rate is not saved.
    bool Save();
    // Stops measuring, closes the waveform files and saves; once.
    void Shutdown();
    // Log-off or shutdown of the desktop: stop measuring and save.
    void SessionEnd();

    // --- Measuring ---
    void Run(); // Stop when running, otherwise Start
    bool IsRunning() const;
    // Before a new input device, source or sample rate is set: stops measuring (a positional run
    // is given up) and, unless a recording is playing, restarts every accumulated reading, since
    // another microphone or watch is a new measurement. True when measuring was running.
    bool StopForNewInput();
    void CentreNow();
    void ToggleAutostop();
    // A session timer expired (auto-stop, train detection, centring, per-buffer step, the
    // calibration text); the window keeps its own repaint and pointer timers.
    void OnTimer(int id);

    // --- Mixer bar: the faders, ALC, mute and the extra gain ---
    MixerBinding& Mixer() { return Mixers; }
    const MixerBinding& Mixer() const { return Mixers; }

    // --- Waveform files (see WaveformTransport) ---
    WaveformTransport& Transport() { return Waveform; }
    void PlayAtStart(const std::string& file = {}) { Waveform.PlayAtStart(file); }
    void SetWaveformFile(const std::string& path) { Waveform.SetWaveformFile(path); }
    void ToggleRecording() { Waveform.ToggleRecording(); }
    void TogglePlayback() { Waveform.TogglePlayback(); }
    void EndPlaybackAtUserRate() { Waveform.EndPlaybackAtUserRate(); }
    PlaybackView Playback() const { return Waveform.Playback(); }
    const WaveformFiles& WaveformState() const { return Waveform.Files(); }

    // --- Positional runs ---
    // The positional command: starts a run or moves it on to its next position or its results.
    void AdvancePositionalRun();
    PositionalRun& Positions() { return *PositionRun; }
    const PositionalRun& Positions() const { return *PositionRun; }
    // Who answers the run's questions (the window); null leaves them unanswered.
    void SetPositionalRunUser(PositionalRunUser* user) { PositionRun->SetUser(user); }

    // --- Calibration ---
    CalibrationEngine& Calibration() { return *Calibrator; }
    const CalibrationEngine& Calibration() const { return *Calibrator; }
    // "Start internet cal" / "Start GPS cal": a run against the reference whose registry key is
    // `key`; measuring starts if it is not running. False, with nothing started, for a key the
    // registry does not hold.
    bool StartReferenceCalibration(std::string_view key);
    // The no-sound-card clock's error in ppm, from the settings file's [Simulation] section.
    double SimulatedClockPpm() const { return Audio.Clock().RateOffsetPpm(); }

    LogWriter& LogFile() { return Log; }
    const LogWriter& LogFile() const { return Log; }
    MonitorState& MonitorOutput() { return Audio.Monitor(); }

    // --- AnalysisHost ---
    void StopMeasurement() override;
    void StartMeasurement() override;
    void RefreshTrainBox() override;
    void TraceZoomReset(double zoom) override;
    void RefreshMeasuringTimeBox() override;
    void RefreshLiftAngleBox() override;
    void StartTimer(int id, unsigned milliseconds) override;
    void KillTimer(int id) override;
    void RequestRepaint() override;
    void SetCaptureRingSize(int n) override;
    void SetCaptureSamplesPerBuffer(double samples) override;
    void SetCaptureBufferAdjust(double samples) override;
    void SetOutputRingSize(int n) override;
    int64_t RecordOrPlayBuffer(int16_t* samples, size_t count) override;
    void MonitorCopy(const int16_t* samples, size_t count) override;
    void WriteLogRecord(int mode) override;
    void NotifyTick(uint32_t milliseconds, uint32_t beatCountLow) override;

private:
    void ReportSilentCapture();
    void PositionHandOver();
    void CancelPositionalRun();
    // --- MeasuringControl and PositionalRunHost: StartMeasurement and StopMeasurement are the
    // AnalysisHost's above, SaveSettings the CalibrationHost's below ---
    bool MeasurementRunning() const override { return IsRunning(); }
    bool StopForNewSource() override;
    void RepaintNow() override { Host.RequestRepaint(); }
    void LoadSimulation();
    // --- CalibrationHost ---
    void SaveSettings() override { Save(); }
    CalibrationQuestions& Questions() override { return Host.Questions(); }

    SessionHost& Host;
    AnalysisCore Core;
    AppSettings App;
    SettingsStore* Store = nullptr;
    bool ShutDown = false;
    bool SaveFailureShown = false;      // the latest save failed and the user was told
    int64_t BuffersAtRun = 0;           // buffers analysed before the current Run
    bool SilentCaptureReported = false; // said once per Run

    // The destructor ends its capture worker before the parts the worker feeds go.
    SessionAudio Audio;
    TimeLapseLink TimeLapse;
    WaveformTransport Waveform;
    MixerBinding Mixers;
    LogWriter Log{Core, App};
    std::unique_ptr<PositionalRun> PositionRun;
    bool HandOverPending = false; // a position's hand-over is posted and not yet handled
    std::unique_ptr<CalibrationReferences> OwnReferences;
    std::unique_ptr<CalibrationEngine> Calibrator; // ends its worker before the core goes
};

} // namespace kv
