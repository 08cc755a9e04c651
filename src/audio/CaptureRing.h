// SPDX-License-Identifier: GPL-3.0-or-later
// The capture ring: buffers the device fills one after another in ring order and the worker hands
// to the analysis in the same order. The hand-over between the two threads, without a lock, is
// RingCore's; this class keeps the sample blocks and the device's fill position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "audio/RingCore.h"

namespace kv {

// When a buffer's last frame arrived: the counter read as the device's block that completed the
// buffer was written, and how many frames of that block came after the buffer's end. A device
// delivers whole blocks (a period of the card), so the end of a buffer in the middle of a block
// arrived LateFrames earlier than the counter says.
struct BufferArrival {
    int64_t Counter = 0;
    size_t LateFrames = 0;
    bool Stamped = false; // false when the ring has no arrival clock
};

class CaptureRing {
public:
    static constexpr int MaxBuffers = RingCore::MaxSlots;
    CaptureRing() = default;
    CaptureRing(const CaptureRing&) = delete;
    CaptureRing& operator=(const CaptureRing&) = delete;

    // --- Set-up, while no device writes ---
    // Sizes `count` buffers of `capacityFrames` frames each, all idle. False when out of memory.
    bool Allocate(int count, size_t capacityFrames, int channels);
    void Release();
    // The counter the device side reads at every Write, so buffers carry their arrival time;
    // none (the default) leaves them unstamped. Called once per Write, never per sample.
    using ArrivalClock = std::function<int64_t()>;
    void SetArrivalClock(ArrivalClock clock) { Clock = std::move(clock); }
    int Count() const { return Core.Count(); }
    int Channels() const { return ChannelCount; }

    // --- Worker side ---
    // Makes room for `frames` in an idle or done buffer, reallocating at twice the need.
    bool EnsureCapacity(int index, size_t frames);
    // Hands the buffer to the device to be filled with `frames` frames.
    void Queue(int index, size_t frames);
    bool IsDone(int index) const { return Core.IsDone(index); }
    size_t RecordedFrames(int index) const { return Buffers[index].Recorded; }
    const BufferArrival& Arrival(int index) const { return Buffers[index].Arrived; }
    int16_t* Data(int index) { return Buffers[index].Samples.get(); }
    size_t CapacityFrames(int index) const { return Buffers[index].Capacity; }
    // Waits until the device finishes a buffer or Stop is called.
    void WaitForDone() { Core.WaitForDone(); }

    // --- Device side ---
    // Copies interleaved frames into the queued buffers in ring order, marking each done as it
    // fills. When the next buffer is not queued yet the device waits for the worker; returns the
    // frames stored, fewer than given only after Stop.
    size_t Write(const int16_t* frames, size_t count);
    // Times the device found every buffer full and had to wait.
    uint64_t FullRingWaits() const { return Core.DeviceWaits(); }

    // Wakes both sides for good; Write returns at once from then on.
    void Stop() { Core.Stop(); }
    bool Stopped() const { return Core.Stopped(); }

private:
    struct Buffer {
        std::unique_ptr<int16_t[]> Samples;
        size_t Capacity = 0;   // frames
        size_t Requested = 0;  // frames, written by the worker before queueing
        size_t Recorded = 0;   // frames, written by the device before marking done
        BufferArrival Arrived; // written by the device before marking done
    };
    void MarkDone(Buffer& buffer, const BufferArrival& arrival);

    RingCore Core;
    Buffer Buffers[MaxBuffers];
    int ChannelCount = 1;
    size_t FillFrame = 0; // device side only
    ArrivalClock Clock;
};

} // namespace kv
