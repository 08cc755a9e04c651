// SPDX-License-Identifier: GPL-3.0-or-later
// Where captured sound comes from: a list of named input devices and a 16-bit PCM stream that
// writes into a CaptureRing. PortAudioSource is the real one; tests drive a fake.
#pragma once

#include <string>
#include <vector>

#include "audio/CaptureRing.h"

namespace kv {

// Result codes of opening a capture device; each failure has its own message (SoundIn.h).
enum SoundInCode : int {
    SoundInOk = 0,
    SoundInUnspecified = 1,
    SoundInBadDeviceId = 2,
    SoundInNotEnabled = 3,
    SoundInAllocated = 4,
    SoundInInvalidHandle = 5,
    SoundInNoDriver = 6,
    SoundInNoMemory = 7,
    SoundInNotSupported = 8,
    SoundInBadErrorNumber = 9,
    SoundInInvalidFlag = 10,
    SoundInInvalidParameter = 11,
    SoundInHandleBusy = 12,
    SoundInBadFormat = 32,
};

struct CaptureFormat {
    unsigned SampleRate = 96000;
    int Channels = 1;
};

class CaptureSource {
public:
    virtual ~CaptureSource() = default;
    // Names of the input devices, by device id.
    virtual std::vector<std::string> InputDevices() = 0;
    // The device to use when no name matches.
    virtual int DefaultInputDevice() { return 0; }
    // 0 when the device's capabilities can be read, else a SoundInCode.
    virtual int QueryDevice(int device) = 0;
    // Opens the device for 16-bit PCM in `format`, writing into `ring`; 0 or a SoundInCode.
    virtual int Open(int device, const CaptureFormat& format, CaptureRing& ring) = 0;
    virtual bool Start() = 0;
    // Stops and closes the stream; safe when nothing is open. The ring is stopped first.
    virtual void Close() = 0;
};

// A sound system without any input device: capture then needs the program's own clock.
class NoCaptureDevice : public CaptureSource {
public:
    std::vector<std::string> InputDevices() override { return {}; }
    int QueryDevice(int) override { return SoundInBadDeviceId; }
    int Open(int, const CaptureFormat&, CaptureRing&) override { return SoundInBadDeviceId; }
    bool Start() override { return false; }
    void Close() override {}
};

} // namespace kv
