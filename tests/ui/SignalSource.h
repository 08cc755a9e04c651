// SPDX-License-Identifier: GPL-3.0-or-later
// A capture device for window tests: one input named "Test watch" that plays a prepared signal
// into the capture ring from its own thread, in blocks, at a chosen multiple of real time
// (silence after the end). Opening can be made to fail, or the device list to be empty.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "audio/CaptureSource.h"

namespace kv::test {

class SignalSource : public CaptureSource {
public:
    std::vector<std::string> InputDevices() override { return Names; }
    int QueryDevice(int) override { return 0; }
    int Open(int, const CaptureFormat& format, CaptureRing& ring) override {
        if (OpenCode != 0) return OpenCode;
        Format = format;
        Ring = &ring;
        ++Opens;
        return 0;
    }
    bool Start() override {
        Stopping = false;
        Feeder = std::thread([this] { Feed(); });
        return true;
    }
    void Close() override {
        if (!Feeder.joinable()) return;
        Stopping = true;
        Ring->Stop();
        Feeder.join();
    }
    ~SignalSource() override { Close(); }

    std::vector<int16_t> Signal;
    double Speed = 1.0; // multiple of real time
    std::vector<std::string> Names{"Test watch"};
    int OpenCode = 0;
    bool Stalled = false; // opens and starts, then delivers nothing
    int Opens = 0;
    CaptureFormat Format;
    std::atomic<size_t> Delivered{0};
    std::atomic<double> Gain{1.0}; // applied to the signal as it is delivered, clipped at 16 bits

private:
    static constexpr size_t Block = 1024;

    void Feed() {
        std::vector<int16_t> block(Block);
        const auto start = std::chrono::steady_clock::now();
        size_t position = 0;
        while (!Stopping && !Ring->Stopped()) {
            if (Stalled) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            const double gain = Gain;
            for (size_t i = 0; i < Block; ++i, ++position)
                block[i] = position < Signal.size()
                               ? static_cast<int16_t>(std::clamp(
                                     std::lround(Signal[position] * gain), -32768L, 32767L))
                               : int16_t{0};
            Ring->Write(block.data(), Block);
            Delivered += Block;
            const double due = static_cast<double>(position) / Format.SampleRate / Speed;
            std::this_thread::sleep_until(start + std::chrono::duration<double>(due));
        }
    }

    CaptureRing* Ring = nullptr;
    std::thread Feeder;
    std::atomic<bool> Stopping{false};
};

} // namespace kv::test

#include "support/FakePlaybackSink.h"

namespace kv::test {

// An output device for window tests: plays whatever the monitor output queues in real time,
// counting the samples, on its own thread. With an empty name list there is no output device.
class CountingSink : public FakePlaybackSink {
public:
    CountingSink() : FakePlaybackSink(Playing::RealTime, {"Test speaker"}) {}
};

} // namespace kv::test
