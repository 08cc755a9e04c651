// SPDX-License-Identifier: GPL-3.0-or-later
// Plays a waveform file's samples through an output device in an endless loop, so that the user
// hears a played-back file while the monitor output is off. A worker thread refills each buffer
// the device has played with the next stretch of the samples; the stretch after the last sample
// starts again at the first, so the loop has no seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "audio/PlaybackRing.h"
#include "audio/PlaybackSink.h"

namespace kv {

class FilePlayer {
public:
    static constexpr int BufferCount = 3;
    // Each buffer holds a tenth of a second of sound, at most MaxBufferSamples.
    static constexpr unsigned BuffersPerSecond = 10;
    static constexpr unsigned MaxBufferSamples = 65536;

    // `sink` must outlive this object. Start and Stop are called from one thread.
    explicit FilePlayer(PlaybackSink& sink);
    ~FilePlayer();
    FilePlayer(const FilePlayer&) = delete;
    FilePlayer& operator=(const FilePlayer&) = delete;

    // Stops what plays, then opens the output device whose name equals `deviceName` without
    // regard to case (else the sink's default) for 16-bit mono PCM at `sampleRate` and loops
    // `samples` through it until Stop. False, with nothing playing, when there are no samples,
    // the rate is 0, or the device cannot be found, opened or started.
    bool Start(std::vector<int16_t> samples, unsigned sampleRate, const std::string& deviceName);
    // Stops the sound, closes the device and frees the samples. Safe when nothing plays; does not
    // wait for the device to play what it holds.
    void Stop();

    bool Playing() const { return Worker.joinable(); }
    // Samples per output buffer of the running (or last) playback.
    size_t SamplesPerBuffer() const { return BufferSamples; }

private:
    int OpenDevice(unsigned sampleRate, const std::string& deviceName);
    void Run();
    void Refill(int index);

    PlaybackSink& Sink;
    PlaybackRing Ring;
    std::vector<int16_t> Samples;
    size_t Position = 0; // the next sample to play, worker side while playing
    size_t BufferSamples = 0;
    bool DeviceOpen = false;
    std::thread Worker;
};

} // namespace kv
