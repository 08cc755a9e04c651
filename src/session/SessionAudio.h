// SPDX-License-Identifier: GPL-3.0-or-later
// The measuring session's sound devices: the capture that feeds the analysis, the sound output
// that carries the monitor and the positioner's tones, the file player that lets a playback be
// heard without duplex audio, and the clock that captures a playback without a sound card.
//
// Threads: made, started, stopped and destroyed on the user-interface thread. The capture worker
// runs the analysis through the buffer callback under the analysis lock; the output worker and
// the file player's worker read only their own state and the monitor, under its lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analysis/AnalysisCore.h"
#include "audio/CaptureSource.h"
#include "audio/ClockedSource.h"
#include "audio/FilePlayer.h"
#include "audio/SoundIn.h"
#include "audio/SoundOut.h"
#include "positions/Positioner.h"
#include "session/SessionHost.h"

namespace kv {

class SessionAudio : public ClipOutput {
public:
    // `capture` and `output` replace the sound card (tests); null uses PortAudio. `output` serves
    // both the monitor and the playback of a waveform file heard without duplex audio.
    SessionAudio(AnalysisCore& core, SessionHost& host, CaptureSource* capture,
                 PlaybackSink* output);
    SessionAudio(const SessionAudio&) = delete;
    SessionAudio& operator=(const SessionAudio&) = delete;

    // Whether the capture and the output are the sound card's, whose mixer goes with them.
    bool SoundCardInput() const { return OwnCapture != nullptr; }
    bool SoundCardOutput() const { return OwnOutput != nullptr; }

    // Opens the input device `device` at `sampleRate`; false (the device said why) when it fails.
    bool StartInput(unsigned sampleRate, const std::string& device);
    // Opens the monitor output when duplex audio is on. A device that fails is told once per
    // program start and duplex audio is switched off; false then, and without duplex audio.
    bool StartOutput(const std::string& device);
    // Closes the capture (its worker has ended on return), frees the monitor copy and closes the
    // output.
    void Stop();

    CSoundIn& In() { return *SoundIn; }
    const CSoundIn& In() const { return *SoundIn; }
    CSoundOut& Out() { return *SoundOut; }
    MonitorState& Monitor() { return *MonitorCopy; }
    const MonitorState& Monitor() const { return *MonitorCopy; }
    FilePlayer& Player() { return *FileOut; }
    ClockedSource& Clock() { return Clocked; }
    const ClockedSource& Clock() const { return Clocked; }

    // --- ClipOutput: the positioner's tones go out through the monitor's output ---
    unsigned SampleRate() const override { return SoundOut->SampleRate; }
    bool Available() const override;
    bool PlayClip(std::vector<int16_t> samples, std::chrono::milliseconds timeout) override;

private:
    void StopOutput();

    AnalysisCore& Core;
    SessionHost& Host;
    // A machine without an output device is a normal state: said once per program start.
    bool OutputProblemReported = false;
    std::vector<std::string> OutputProblems; // the output device's own texts of this start

    std::unique_ptr<CaptureSource> OwnCapture;
    std::unique_ptr<PlaybackSink> OwnOutput;
    std::unique_ptr<PlaybackSink> OwnFileOutput;
    std::unique_ptr<FilePlayer> FileOut; // hear a playback while duplex audio is off
    ClockedSource Clocked;               // the capture clock of a playback without a sound card
    std::shared_ptr<MonitorState> MonitorCopy;
    std::unique_ptr<CSoundOut> SoundOut;
    std::unique_ptr<CSoundIn> SoundIn; // last: closed before the members its worker uses go
};

} // namespace kv
