// SPDX-License-Identifier: GPL-3.0-or-later
// The waveform files of a measuring session: recording the input to the waveform file, and playing
// a recording in place of the input, looped from a random start, heard through the monitor or the
// file player and captured through the simulated clock when there is no sound card.
//
// Threads: the commands run on the user-interface thread. The capture thread enters only through
// RecordOrPlayBuffer, under the analysis lock; the files are read and changed under that lock.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "analysis/AnalysisCore.h"
#include "audio/WaveformFiles.h"
#include "session/MeasuringControl.h"
#include "session/SessionAudio.h"
#include "session/SessionHost.h"
#include "settings/AppSettings.h"

namespace kv {

// What the window shows about the waveform files, read in one piece.
struct PlaybackView {
    bool Playing = false;
    bool Recording = false;
    int LoopCount = 0;
};

class WaveformTransport {
public:
    WaveformTransport(AnalysisCore& core, AppSettings& app, SessionHost& host, SessionAudio& audio,
                      MeasuringControl& measuring);
    WaveformTransport(const WaveformTransport&) = delete;
    WaveformTransport& operator=(const WaveformTransport&) = delete;

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
    const WaveformFiles& Files() const { return Waveform; }
    // Under the analysis lock: the stored waveform file while App.WaveFile2 names a file opened
    // from the command line, which the settings file keeps in its place.
    const std::optional<std::string>& StoredWaveFile() const { return StoredFile; }
    // Where playback starts at Run: a number 0..32767 scaled over the recording (random unless a
    // test fixes it).
    std::function<int()> PlaybackStartDraw;

    // At the start of measuring, before the first buffer: a playback moves to a random start and
    // follows the simulated clock when it is captured without a sound card.
    void RandomPlaybackStart();
    void SimulateCaptureClock();
    // Under the analysis lock: closes whatever waveform file is open.
    void CloseWaveformFiles();

    // Capture thread, inside ProcessBuffer: recording or playback substitution.
    int64_t RecordOrPlayBuffer(int16_t* samples, size_t count);

private:
    void EndPlayback();
    void PostRun();
    void OnPlaybackEnded();

    AnalysisCore& Core;
    AppSettings& App;
    SessionHost& Host;
    SessionAudio& Audio;
    MeasuringControl& Measuring;
    WaveformFiles Waveform;
    std::optional<std::string> StoredFile;
};

} // namespace kv
