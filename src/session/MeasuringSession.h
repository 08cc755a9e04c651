// SPDX-License-Identifier: GPL-3.0-or-later
// One measuring session: the analysis core and everything that feeds it or takes from it (sound
// capture, sound output and monitor, the file player and clock of a playback without a sound
// card, the waveform files, the log writer and the TimeLapse link). It is the analysis core's
// host and offers operations (run and stop, settings load and save, recording and playback)
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
#include "audio/ClockedSource.h"
#include "audio/FilePlayer.h"
#include "audio/SoundIn.h"
#include "audio/SoundOut.h"
#include "audio/WaveformFiles.h"
#include "audio/mixer/MixerFader.h"
#include "calibration/CalibrationEngine.h"
#include "logging/LogWriter.h"
#include "platform/TimeLapseLink.h"
#include "positions/PositionalRun.h"
#include "session/SessionHost.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"

namespace kv {

// What the window shows about the waveform files, read in one piece.
struct PlaybackView {
    bool Playing = false;
    bool Recording = false;
    int LoopCount = 0;
};

// Replacements for the calibration's outside world (tests); empty members use the real one.
struct CalibrationSeams {
    CalibrationReferences* References = nullptr; // null: the SNTP server and the GPS receiver
    SystemClockSetter* ClockSetter = nullptr;    // null: the machine's clock
    std::function<uint32_t()> TickCountMs;       // empty: the monotonic clock
};

class MeasuringSession : public AnalysisHost, private CalibrationHost {
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
    // The input level the automatic gain step moves (0 .. 65535: the microphone fader's, or
    // the software gain's when no fader is bound) and its step size; 0 leaves the level alone.
    int InputLevel = 32768;
    int AgcStepSize = 0;

    // --- Mixer bar ---
    // Replaces the mixers behind the microphone and speaker faders (tests); the faders are made
    // anew, unbound.
    void UseMixers(MixerControl& input, MixerControl& output);
    CMixerFader& MicrophoneFader() { return *MicFader; }
    CMixerFader& SpeakerFader() { return *SpeakerFaderOf; }
    // Binding failed at the last start of measuring.
    bool InputFaderFailed() const { return InputFailed; }
    bool SpeakerFaderFailed() const { return SpeakerFailed; }
    // No input fader could be bound: the automatic gain moves the software input gain.
    bool SoftwareGainActive() const;
    // "ALC" (1023): toggles AGC, or switches it off while the input fader has failed; the box is
    // shown only while it has not.
    void ToggleAutomaticLevel();
    bool AutomaticLevelShown() const { return !InputFailed; }
    // "Mute" (1024): toggles the monitor mute with duplex audio, otherwise switches it off; the
    // box is shown only with duplex audio.
    void ToggleMute();
    bool Muted() const;
    bool MuteShown() const;
    // "+" (2180) and "-" (2181): the extra mic gain AudioScale by 3 dB steps within 0.25 .. 128.
    void RaiseExtraGain();
    void LowerExtraGain();
    // The extra gain label: AudioScale in decibels, "%+2.1f".
    std::string ExtraGainText() const;

    // --- Waveform files ---
    // The start-up playback. With `file` (a recording named on the command line) that file is
    // played and measured in place of the waveform file until another one is chosen, and the
    // stored waveform file setting stays as it was. Without it, or when it cannot be played (a
    // message says why), the waveform file is played as at every start.
    void PlayAtStart(const std::string& file = {});
    // Chosen by the user: becomes the waveform file setting, saved, and played when it exists.
    void SetWaveformFile(const std::string& path);
    void ToggleRecording();
    void TogglePlayback();
    // Ends a playback the way the playback command does.
    void EndPlaybackAtUserRate();
    PlaybackView Playback() const;
    const WaveformFiles& WaveformState() const { return Waveform; }
    // Where playback starts at Run: a number 0..32767 scaled over the recording (random unless a
    // test fixes it).
    std::function<int()> PlaybackStartDraw;

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
    double SimulatedClockPpm() const { return Clocked.RateOffsetPpm(); }

    LogWriter& LogFile() { return Log; }
    const LogWriter& LogFile() const { return Log; }
    MonitorState& MonitorOutput() { return *Monitor; }

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
    bool StartOutput();
    void StopOutput();
    void ReportSilentCapture();
    void PerBufferStep();
    void BindInputFader();
    void BindSpeakerFader();
    void MakeFaders(MixerControl& input, MixerControl& output);
    void EndPlayback();
    bool StopForNewSource();
    void CloseWaveformFiles();
    void PostRun();
    void RandomPlaybackStart();
    void SimulateCaptureClock();
    void OnPlaybackEnded();
    void PositionHandOver();
    void CancelPositionalRun();

    // The positional run's view of this session: measuring, repaints and the clip queue of the
    // sound output, which plays the positioner's tones.
    class PositionsBridge : public PositionalRunHost, public ClipOutput {
    public:
        explicit PositionsBridge(MeasuringSession& session) : Session(session) {}
        bool MeasurementRunning() const override { return Session.IsRunning(); }
        void StartMeasurement() override { Session.StartMeasurement(); }
        void StopMeasurement() override { Session.StopMeasurement(); }
        void RepaintNow() override { Session.Host.RequestRepaint(); }
        unsigned SampleRate() const override { return Session.SoundOut->SampleRate; }
        bool Available() const override {
            const auto lock = Session.Core.HoldAnalysis();
            return Session.Core.Settings.DuplexAudio != 0;
        }
        bool PlayClip(std::vector<int16_t> samples, std::chrono::milliseconds timeout) override {
            return Session.Monitor->QueueClip(std::move(samples), timeout);
        }

    private:
        MeasuringSession& Session;
    };
    void LoadSimulation();
    // --- CalibrationHost ---
    void SaveSettings() override { Save(); }
    CalibrationQuestions& Questions() override { return Host.Questions(); }

    SessionHost& Host;
    AnalysisCore Core;
    AppSettings App;
    // The stored waveform file while App.WaveFile2 names a file opened from the command line:
    // what Save writes in its place.
    std::optional<std::string> StoredWaveFile;
    SettingsStore* Store = nullptr;
    bool ShutDown = false;
    bool SaveFailureShown = false;      // the latest save failed and the user was told
    int64_t BuffersAtRun = 0;           // buffers analysed before the current Run
    bool SilentCaptureReported = false; // said once per Run
    // A machine without an output device is a normal state: said once per program start.
    bool OutputProblemReported = false;
    std::vector<std::string> OutputProblems; // the output device's own texts of this start

    std::unique_ptr<CaptureSource> OwnCapture;
    std::unique_ptr<PlaybackSink> OwnOutput;
    std::unique_ptr<PlaybackSink> OwnFileOutput;
    std::unique_ptr<FilePlayer> Player; // hear a playback while duplex audio is off
    ClockedSource Clocked;              // the capture clock of a playback without a sound card
    std::shared_ptr<MonitorState> Monitor;
    std::unique_ptr<CSoundOut> SoundOut;
    TimeLapseLink TimeLapse;
    WaveformFiles Waveform;
    LogWriter Log{Core, App};
    PositionsBridge PositionsLink{*this};
    std::unique_ptr<PositionalRun> PositionRun;
    bool HandOverPending = false; // a position's hand-over is posted and not yet handled
    std::unique_ptr<CalibrationReferences> OwnReferences;
    std::unique_ptr<CalibrationEngine> Calibrator; // ends its worker before the core goes
    std::unique_ptr<MixerControl> OwnInputMixer;
    std::unique_ptr<MixerControl> OwnOutputMixer;
    std::unique_ptr<CMixerFader> MicFader;
    std::unique_ptr<CMixerFader> SpeakerFaderOf;
    bool InputFailed = false;
    bool SpeakerFailed = false;
    std::unique_ptr<CSoundIn> SoundIn; // last: closed before the members its worker uses go
};

} // namespace kv
