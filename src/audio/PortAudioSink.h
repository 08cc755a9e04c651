// SPDX-License-Identifier: GPL-3.0-or-later
// Monitor output through PortAudio: a blocking output stream fed by a device thread that plays the
// ring's buffers in order and marks each done once the stream has taken it.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

#include "audio/PlaybackSink.h"

namespace kv {

class PortAudioSink : public PlaybackSink {
public:
    PortAudioSink();
    ~PortAudioSink() override;
    PortAudioSink(const PortAudioSink&) = delete;
    PortAudioSink& operator=(const PortAudioSink&) = delete;

    std::vector<std::string> OutputDevices() override;
    int DefaultOutputDevice() override;
    int QueryDevice(int device) override;
    int Open(int device, unsigned sampleRate, PlaybackRing& ring) override;
    int Start() override;
    void Close() override;

    // Writes in which PortAudio reported that the sound card had run dry.
    uint64_t DeviceUnderflows() const { return Underflows.load(std::memory_order_relaxed); }

private:
    std::vector<int> OutputDeviceIds() const;
    void Play();
    void Write(std::span<const int16_t> block);

    bool Initialised = false;
    void* Stream = nullptr; // PaStream
    PlaybackRing* Ring = nullptr;
    std::thread Device;
    std::atomic<uint64_t> Underflows{0};
};

// The output device names PortAudio offers, one per device id.
std::vector<std::string> ListOutputDevices();

} // namespace kv
