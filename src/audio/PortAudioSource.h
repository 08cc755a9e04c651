// SPDX-License-Identifier: GPL-3.0-or-later
// Capture through PortAudio: a callback stream that copies each block into the capture ring.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/CaptureSource.h"

namespace kv {

class PortAudioSource : public CaptureSource {
public:
    PortAudioSource();
    ~PortAudioSource() override;
    PortAudioSource(const PortAudioSource&) = delete;
    PortAudioSource& operator=(const PortAudioSource&) = delete;

    std::vector<std::string> InputDevices() override;
    int DefaultInputDevice() override;
    int QueryDevice(int device) override;
    int Open(int device, const CaptureFormat& format, CaptureRing& ring) override;
    bool Start() override;
    void Close() override;

    // Blocks in which PortAudio reported that the sound card overflowed.
    uint64_t DeviceOverflows() const { return Overflows.load(std::memory_order_relaxed); }

    // Called by the stream for each block of input; returns false once the ring has stopped.
    bool Deliver(const int16_t* frames, unsigned long count, bool overflowed);

private:
    int ToPortAudioDevice(int inputIndex);

    bool Initialised = false;
    void* Stream = nullptr; // PaStream
    CaptureRing* Ring = nullptr;
    std::atomic<uint64_t> Overflows{0};
};

// The closest SoundInCode for a PortAudio error; Pa_Initialize with ALSA's chatter silenced.
int SoundCodeForPortAudioError(int error);
bool InitialisePortAudioQuietly();

// The input device names PortAudio offers, one per device id.
std::vector<std::string> ListInputDevices();

} // namespace kv
