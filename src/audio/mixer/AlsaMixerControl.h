// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer control on ALSA's simple mixer (snd_mixer_*): the card's mixer for "hw:N", a sound
// server's through its ALSA plugin ("pulse"), or the "default" device's. The input is the capture
// volume of the source's own element (Mic, Line) or else the "Capture" element; the output is the
// playback volume of Master, else Speaker, and Headphone for the headphones.
//
// Threads: used only on the user-interface thread.
#pragma once

#include <memory>

#include "audio/mixer/MixerControl.h"

namespace kv {

class AlsaMixerControl : public MixerControl {
public:
    AlsaMixerControl();
    ~AlsaMixerControl() override;

    bool DevicePresent(const std::string& device) override;
    bool Open(const std::string& device) override;
    void Close() override;
    bool FindDestination(int destinationType) override;
    std::string DestinationName() const override;
    bool FindSource(int sourceType) override;
    MixerLine Line() const override;
    bool VolumeRange(MixerRange& range) override;
    bool Read(std::vector<long>& values) override;
    bool Write(const std::vector<long>& values) override;
    std::vector<int> PollDescriptors() override;
    MixerEvents HandleEvents() override;

private:
    struct State;
    std::unique_ptr<State> S;
};

} // namespace kv
