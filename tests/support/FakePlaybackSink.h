// SPDX-License-Identifier: GPL-3.0-or-later
// An output device for tests. It plays the buffers of the ring it was opened with in one of three
// ways: one buffer whenever the test asks (Scripted), all of them in real time on its own thread,
// counting the samples (RealTime), or by taking the first buffer on its own thread and never
// finishing it until closed, like a sound card that has stopped taking samples (Stuck). Device
// names, the default device and the codes of the query, open and start are set by the test.
//
// Threads: the test's thread calls everything; in RealTime and Stuck mode the sink's own thread
// is the ring's device side, so the test does not call Play then.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/PlaybackSink.h"

namespace kv::test {

class FakePlaybackSink : public PlaybackSink {
public:
    using Samples = std::vector<int16_t>;
    enum class Playing { Scripted, RealTime, Stuck };

    explicit FakePlaybackSink(Playing mode = Playing::Scripted,
                              std::vector<std::string> names = {"HDA Intel PCH", "USB Audio"})
        : Mode(mode), Names(std::move(names)) {}
    ~FakePlaybackSink() override { EndDevice(); }

    std::vector<std::string> OutputDevices() override { return Names; }
    int DefaultOutputDevice() override { return Default; }
    int QueryDevice(int) override { return QueryCode; }
    int Open(int device, unsigned rate, PlaybackRing& ring) override {
        ++Opens;
        OpenedDevice = device;
        Rate = rate;
        Ring = &ring;
        return OpenCode;
    }
    int Start() override {
        if (StartCode != 0) return StartCode;
        if (Mode == Playing::RealTime) Device = std::thread(&FakePlaybackSink::PlayForever, this);
        if (Mode == Playing::Stuck) Device = std::thread(&FakePlaybackSink::HoldFirst, this);
        return 0;
    }
    void Close() override {
        ++Closes;
        EndDevice();
    }

    // Scripted: plays the next queued buffer; nothing when none comes within `timeout`.
    std::optional<Samples> Play(std::chrono::milliseconds timeout = DefaultPlayTimeout) {
        const auto block = Ring->WaitForNext(timeout);
        if (!block) return std::nullopt;
        Samples played(block->begin(), block->end());
        Ring->FinishNext();
        return played;
    }
    // Scripted: the samples of the next `buffers` buffers, one after another.
    Samples Hear(int buffers) {
        Samples heard;
        for (int i = 0; i < buffers; ++i)
            if (const auto b = Play()) heard.insert(heard.end(), b->begin(), b->end());
        return heard;
    }
    // Scripted: plays until a buffer of `length` samples comes; false after `limit` others.
    bool PlayUntilLength(size_t length, int limit = 20) {
        for (int i = 0; i < limit; ++i) {
            const auto b = Play();
            if (!b) return false;
            if (b->size() == length) return true;
        }
        return false;
    }

    Playing Mode; // read at Start
    std::vector<std::string> Names;
    int Default = 0, QueryCode = 0, OpenCode = 0, StartCode = 0, OpenedDevice = -1;
    int Opens = 0, Closes = 0;
    unsigned Rate = 0;                // the rate of the last open
    std::atomic<size_t> Played{0};    // RealTime: samples played so far
    std::atomic<bool> Holding{false}; // Stuck: the first buffer has been taken
    PlaybackRing* Ring = nullptr;

private:
    // Long enough for a worker on a loaded machine, short enough that a lost buffer fails fast.
    static constexpr std::chrono::milliseconds DefaultPlayTimeout{5000};
    // How long the device thread waits for a buffer before it looks at the stop again.
    static constexpr std::chrono::milliseconds DeviceWaitSlice{50};
    // A sound card plays a buffer in short periods; the thread notices a stop within one.
    static constexpr std::chrono::milliseconds DevicePeriod{5};
    static constexpr std::chrono::milliseconds StuckPoll{1};

    void EndDevice() {
        if (!Device.joinable()) return;
        Ring->Stop();
        Device.join();
    }
    void PlayForever() {
        while (!Ring->Stopped()) {
            const auto block = Ring->WaitForNext(DeviceWaitSlice);
            if (!block) continue;
            const size_t samples = block->size();
            Played += samples;
            Ring->FinishNext();
            const auto end =
                std::chrono::steady_clock::now() +
                std::chrono::duration<double>(static_cast<double>(samples) / std::max(Rate, 1u));
            while (!Ring->Stopped() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(DevicePeriod);
        }
    }
    void HoldFirst() {
        if (!Ring->WaitForNext()) return;
        Holding = true;
        while (!Ring->Stopped())
            std::this_thread::sleep_for(StuckPoll);
    }

    std::thread Device;
};

} // namespace kv::test
