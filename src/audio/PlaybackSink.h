// SPDX-License-Identifier: GPL-3.0-or-later
// Where the monitor output goes: a list of named output devices and a 16-bit mono PCM stream that
// plays the buffers of a PlaybackRing in ring order. PortAudioSink is the real one; tests drive a
// fake.
#pragma once

#include <string>
#include <vector>

#include "audio/PlaybackRing.h"

namespace kv {

class PlaybackSink {
public:
    virtual ~PlaybackSink() = default;
    // Names of the output devices, by device id.
    virtual std::vector<std::string> OutputDevices() = 0;
    // The device to use when no name matches.
    virtual int DefaultOutputDevice() { return 0; }
    // 0 when the device's capabilities can be read, else a SoundInCode.
    virtual int QueryDevice(int device) = 0;
    // Opens the device for 16-bit mono PCM at `sampleRate`, to play from `ring`; 0 or a
    // SoundInCode.
    virtual int Open(int device, unsigned sampleRate, PlaybackRing& ring) = 0;
    // Starts playing the queued buffers; 0 or a SoundInCode.
    virtual int Start() = 0;
    // Stops playing and closes the device; safe when nothing is open. The ring is stopped first.
    virtual void Close() = 0;
};

} // namespace kv
