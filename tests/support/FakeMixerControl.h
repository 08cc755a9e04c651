// SPDX-License-Identifier: GPL-3.0-or-later
// A mixer for tests: one control with a raw range and per-channel values, failures to order at
// each step of a binding, and change events made "elsewhere" through a real pipe whose read end
// is the poll descriptor.
#pragma once

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "audio/mixer/MixerControl.h"

namespace kv::test {

class FakeMixerControl : public MixerControl {
public:
    // What the fake mixer has and which step fails.
    bool Present = true;
    bool Opens = true;
    bool HasDestination = true;
    bool HasSource = true;
    bool HasVolume = true;
    bool RangeReadable = true;
    bool ReadsFail = false;
    bool WritesFail = false;
    MixerRange Range{0, 65535, 65535};
    std::vector<long> Raw{40000, 40000};
    std::string OpenedDevice;
    int Writes = 0;
    int OpenMixers = 0;

    FakeMixerControl() {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            EventRead = fds[0];
            EventWrite = fds[1];
        }
    }
    ~FakeMixerControl() override {
        ::close(EventRead);
        ::close(EventWrite);
    }
    FakeMixerControl(const FakeMixerControl&) = delete;
    FakeMixerControl& operator=(const FakeMixerControl&) = delete;

    // Someone else set the control (`ours`: this control, otherwise another one of the mixer).
    void ChangeElsewhere(std::vector<long> values, bool ours = true) {
        if (ours) Raw = std::move(values);
        PendingOurs = PendingOurs || ours;
        Signal();
    }

    bool DevicePresent(const std::string&) override { return Present; }
    bool Open(const std::string& device) override {
        OpenedDevice = device;
        if (!Opens) return false;
        ++OpenMixers;
        return true;
    }
    void Close() override { --OpenMixers; }
    bool FindDestination(int) override { return HasDestination; }
    std::string DestinationName() const override { return "Capture"; }
    bool FindSource(int) override { return HasSource; }
    MixerLine Line() const override {
        return {"Mic", "Mic", static_cast<int>(Raw.size()), HasVolume};
    }
    bool VolumeRange(MixerRange& range) override {
        range = Range;
        return RangeReadable;
    }
    bool Read(std::vector<long>& values) override {
        values = Raw;
        return !ReadsFail;
    }
    bool Write(const std::vector<long>& values) override {
        if (WritesFail) return false;
        Raw = values;
        ++Writes;
        Signal(); // a real mixer reports the fader's own write back as well
        PendingOurs = true;
        return true;
    }
    std::vector<int> PollDescriptors() override { return {EventRead}; }
    MixerEvents HandleEvents() override {
        char drain[64];
        while (::read(EventRead, drain, sizeof drain) > 0) {
        }
        const bool ours = PendingOurs;
        PendingOurs = false;
        if (Gone) return MixerEvents::Lost;
        return ours ? MixerEvents::Changed : MixerEvents::None;
    }
    // The mixer went away (a sound server ended): the next events say so.
    void GoAway() {
        Gone = true;
        Signal();
    }

private:
    void Signal() {
        const char one = 1;
        [[maybe_unused]] const ssize_t n = ::write(EventWrite, &one, 1);
    }
    int EventRead = -1;
    int EventWrite = -1;
    bool PendingOurs = false;
    bool Gone = false;
};

} // namespace kv::test
