// SPDX-License-Identifier: GPL-3.0-or-later
// One volume control of a sound card's (or sound server's) mixer, as a fader binds to it: open a
// mixer device by name, find the line the fader is for, read and write the control's per-channel
// values, and learn of changes made elsewhere through poll descriptors. AlsaMixerControl is the
// real one; tests give a fake.
//
// Threads: used only on the user-interface thread.
#pragma once

#include <string>
#include <vector>

namespace kv {

// Lines a fader binds to, with the mixer's own numbers.
inline constexpr int DestinationWaveIn = 7;     // what is recorded
inline constexpr int DestinationSpeakers = 4;   // Master, else Speaker
inline constexpr int DestinationHeadphones = 5; // Headphone
inline constexpr int SourceLineIn = 4098;       // the line input
inline constexpr int SourceMicrophone = 4099;   // the microphone input (the initial source)
inline constexpr int SourceNone = 4107;         // no source line: the destination's own control

// What a look at the mixer's pending events found.
enum class MixerEvents {
    None,    // nothing about the selected control
    Changed, // the selected control may have changed
    Lost,    // the mixer is gone (a sound server that ended, a card unplugged)
};

// Kinds of control a binding asks for; only a volume is a fader.
enum class MixerControlType { Volume, Mute };

// The line a control belongs to.
struct MixerLine {
    std::string Name;
    std::string ShortName;
    int Channels = 0;
    bool HasVolume = false; // the line has a volume control at all
};

// The control's raw value range and how many distinct settings it has.
struct MixerRange {
    long Minimum = 0;
    long Maximum = 0;
    long Steps = 0;
};

class MixerControl {
public:
    virtual ~MixerControl() = default;

    // Whether any mixer device could serve `device` (the name Open will get).
    virtual bool DevicePresent(const std::string& device) = 0;
    // Opens the mixer of `device` ("hw:0", "pulse", "default"); false when it cannot be opened.
    virtual bool Open(const std::string& device) = 0;
    virtual void Close() = 0;
    // Selects the destination line; false when the mixer has none of that type.
    virtual bool FindDestination(int destinationType) = 0;
    virtual std::string DestinationName() const = 0;
    // Selects the source line of the destination; false when it has none of that type.
    virtual bool FindSource(int sourceType) = 0;
    // The selected line (the source, or the destination when no source was selected).
    virtual MixerLine Line() const = 0;
    // The range of the selected line's volume; false when it cannot be read.
    virtual bool VolumeRange(MixerRange& range) = 0;
    // Raw values, one per channel of the line.
    virtual bool Read(std::vector<long>& values) = 0;
    virtual bool Write(const std::vector<long>& values) = 0;
    // File descriptors that become readable when the mixer has events; empty when closed.
    virtual std::vector<int> PollDescriptors() = 0;
    // Takes the pending events.
    virtual MixerEvents HandleEvents() = 0;
};

// The mixer of a sound source that has none (a test's source, a recording): no device present.
class AbsentMixerControl : public MixerControl {
public:
    bool DevicePresent(const std::string&) override { return false; }
    bool Open(const std::string&) override { return false; }
    void Close() override {}
    bool FindDestination(int) override { return false; }
    std::string DestinationName() const override { return {}; }
    bool FindSource(int) override { return false; }
    MixerLine Line() const override { return {}; }
    bool VolumeRange(MixerRange&) override { return false; }
    bool Read(std::vector<long>&) override { return false; }
    bool Write(const std::vector<long>&) override { return false; }
    std::vector<int> PollDescriptors() override { return {}; }
    MixerEvents HandleEvents() override { return MixerEvents::None; }
};

// The mixer device behind a sound device name: a card's "hw:N" for "hw:N,M" or "plughw:N,M"
// (also inside a longer name such as "HDA Intel: ALC892 Analog (hw:0,0)"), "default" for an
// empty name, otherwise the name itself ("pulse", "default").
std::string MixerDeviceFor(const std::string& soundDevice);

} // namespace kv
