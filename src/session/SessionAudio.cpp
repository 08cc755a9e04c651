// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/SessionAudio.h"

#include "audio/PortAudioSink.h"
#include "audio/PortAudioSource.h"

namespace kv {

SessionAudio::SessionAudio(AnalysisCore& core, SessionHost& host, CaptureSource* capture,
                           PlaybackSink* output)
    : Core(core), Host(host), MonitorCopy(std::make_shared<MonitorState>()) {
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
    FileOut = std::make_unique<FilePlayer>(*fileOutput);
    SoundOut = std::make_unique<CSoundOut>(
        MonitorCopy, *output, [this](const std::string& m) { OutputProblems.push_back(m); });
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
}

bool SessionAudio::StartInput(unsigned sampleRate, const std::string& device) {
    SoundIn->SampleRate = sampleRate;
    SoundIn->DeviceName = device;
    return SoundIn->Start() == 0;
}

bool SessionAudio::StartOutput(const std::string& device) {
    if (!Core.Settings.DuplexAudio) return false;
    SoundOut->SampleRate = Core.Settings.SampleRate;
    SoundOut->DeviceName = device;
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

void SessionAudio::Stop() {
    SoundIn->Close();
    MonitorCopy->Free();
    StopOutput();
}

void SessionAudio::StopOutput() {
    if (SoundOut->Running()) SoundOut->Close();
}

bool SessionAudio::Available() const {
    const auto lock = Core.HoldAnalysis();
    return Core.Settings.DuplexAudio != 0;
}

bool SessionAudio::PlayClip(std::vector<int16_t> samples, std::chrono::milliseconds timeout) {
    return MonitorCopy->QueueClip(std::move(samples), timeout);
}

} // namespace kv
