// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/WaveformTransport.h"

#include <filesystem>
#include <random>
#include <system_error>

namespace kv {

WaveformTransport::WaveformTransport(AnalysisCore& core, AppSettings& app, SessionHost& host,
                                     SessionAudio& audio, MeasuringControl& measuring)
    : Core(core), App(app), Host(host), Audio(audio), Measuring(measuring) {}

void WaveformTransport::PlayAtStart(const std::string& file) {
    if (!file.empty()) {
        {
            const auto lock = Core.HoldAnalysis();
            if (!StoredFile) StoredFile = App.WaveFile2;
            App.WaveFile2 = file;
        }
        if (std::error_code error; std::filesystem::exists(file, error))
            TogglePlayback(); // says so when the file is not a recording it can read
        else
            Host.Notice("Cannot play " + file + ": there is no such file.");
        if (Playback().Playing) return;
        const auto lock = Core.HoldAnalysis();
        App.WaveFile2 = *StoredFile;
        StoredFile.reset();
    }
    TogglePlayback();
}

void WaveformTransport::SetWaveformFile(const std::string& path) {
    EndPlaybackAtUserRate();
    {
        const auto lock = Core.HoldAnalysis();
        CloseWaveformFiles();
        App.WaveFile2 = path;
        StoredFile.reset();
    }
    Measuring.SaveSettings();
    std::error_code error;
    if (std::filesystem::exists(path, error)) TogglePlayback();
}

// The header carries the rate the samples arrive at. Ending a playback gives the capture back the
// user's rate, so a running capture is restarted on it before the first sample is recorded.
void WaveformTransport::ToggleRecording() {
    EndPlaybackAtUserRate();
    const auto lock = Core.HoldAnalysis();
    if (Waveform.Recording())
        Waveform.CloseRecording();
    else
        Waveform.OpenForWriting(App.WaveFile2, Core.Settings.SampleRate, Audio.In().Channels);
    Host.RequestRepaint();
}

void WaveformTransport::TogglePlayback() {
    {
        const auto lock = Core.HoldAnalysis();
        if (Waveform.Recording()) Waveform.CloseRecording();
    }
    const bool wasRunning = Measuring.StopForNewSource();
    auto lock = Core.HoldAnalysis();
    if (Waveform.Playing()) {
        EndPlayback();
        lock.unlock();
        if (wasRunning) PostRun();
    } else if (Waveform.OpenForReading(App.WaveFile2, Core.Settings.SampleRate,
                                       Audio.In().Channels)) {
        Core.PlayingBack = true;
        Core.PlaybackGain = 1.0; // a new recording starts at its own level
        Core.ResetMeasurement();
        Audio.In().SetPlaybackFallback(&Audio.Clock());
        if (!Core.Settings.DuplexAudio)
            Audio.Player().Start(Waveform.PlaybackData(), Core.Settings.SampleRate,
                                 App.SoundDeviceOutStr);
        lock.unlock();
        PostRun();
    } else if (std::error_code error; std::filesystem::exists(App.WaveFile2, error)) {
        lock.unlock();
        Host.Notice("Cannot play " + App.WaveFile2 +
                    ": it is not a WAV recording this program can read.");
    }
    Host.RequestRepaint();
}

void WaveformTransport::EndPlaybackAtUserRate() {
    bool playing;
    {
        const auto lock = Core.HoldAnalysis();
        playing = Waveform.Playing();
    }
    if (playing) TogglePlayback();
}

PlaybackView WaveformTransport::Playback() const {
    const auto lock = Core.HoldAnalysis();
    return {Waveform.Playing(), Waveform.Recording(), Waveform.LoopCount()};
}

// Under the analysis lock: closes the playback and gives back the capture rate and channels. The
// live input that follows is a new measurement.
void WaveformTransport::EndPlayback() {
    Audio.Player().Stop();
    Waveform.ClosePlayback(Core.Settings.SampleRate, Audio.In().Channels);
    Core.PlayingBack = false;
    Audio.In().SetPlaybackFallback(nullptr);
    Core.ResetMeasurement();
}

// Under the analysis lock: closes whatever waveform file is open.
void WaveformTransport::CloseWaveformFiles() {
    if (Waveform.Recording()) Waveform.CloseRecording();
    if (Waveform.Playing()) EndPlayback();
}

void WaveformTransport::PostRun() {
    Host.Post([this] {
        if (!Measuring.MeasurementRunning()) Measuring.StartMeasurement();
    });
}

// A playback captured without a sound card hears the recording through the simulated clock: a
// clock running fast takes more samples of the same sound.
void WaveformTransport::SimulateCaptureClock() {
    const double ppm = Audio.In().UsingFallback() ? Audio.Clock().RateOffsetPpm() : 0.0;
    const auto lock = Core.HoldAnalysis();
    constexpr double PerMillion = 1e-6;
    Waveform.SetPlaybackStep(1.0 / (1.0 + ppm * PerMillion));
}

void WaveformTransport::RandomPlaybackStart() {
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
int64_t WaveformTransport::RecordOrPlayBuffer(int16_t* samples, size_t count) {
    const bool wasPlaying = Waveform.Playing();
    const int64_t splice = Waveform.Process(samples, count);
    if (wasPlaying && !Waveform.Playing()) Host.Post([this] { OnPlaybackEnded(); });
    return splice;
}

void WaveformTransport::OnPlaybackEnded() {
    const bool wasRunning = Measuring.StopForNewSource();
    {
        const auto lock = Core.HoldAnalysis();
        EndPlayback();
    }
    if (wasRunning) Measuring.StartMeasurement();
}

} // namespace kv
