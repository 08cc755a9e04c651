// SPDX-License-Identifier: GPL-3.0-or-later
// The output ring: buffers the output worker fills and the device plays one after another in ring
// order. The hand-over between the two threads, without a lock, is RingCore's; this class keeps
// the sample blocks and their lengths.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "audio/RingCore.h"

namespace kv {

class PlaybackRing {
public:
    static constexpr int MaxBuffers = RingCore::MaxSlots;
    PlaybackRing() = default;
    PlaybackRing(const PlaybackRing&) = delete;
    PlaybackRing& operator=(const PlaybackRing&) = delete;

    // --- Set-up, while the device plays nothing ---
    // Sizes `count` idle buffers, each with a zero-filled block of `capacity` samples. False when
    // out of memory.
    bool Allocate(int count, size_t capacity);
    void Release();
    int Count() const { return Core.Count(); }

    // --- Worker side ---
    // Gives an idle or done buffer a zero-filled block of `capacity` samples holding the old
    // content up to the smaller capacity. False, with the old block kept, when out of memory.
    bool Resize(int index, size_t capacity);
    // Hands the buffer to the device to play its first `samples` samples (at most its capacity).
    void Queue(int index, size_t samples);
    bool IsDone(int index) const { return Core.IsDone(index); }
    int16_t* Data(int index) { return Buffers[index].Samples.get(); }
    size_t Capacity(int index) const { return Buffers[index].Capacity; }
    // Waits until the device finishes a buffer or Stop is called.
    void WaitForDone() { Core.WaitForDone(); }

    // --- Device side ---
    // Waits until the next buffer in ring order is queued and returns its samples; nothing after
    // Stop or when `timeout` passes first.
    std::optional<std::span<const int16_t>>
    WaitForNext(std::optional<std::chrono::milliseconds> timeout = {});
    // Marks the buffer WaitForNext returned as played: done for the worker.
    void FinishNext() { Core.FinishNext(); }

    // Wakes both sides for good; WaitForNext returns nothing from then on.
    void Stop() { Core.Stop(); }
    bool Stopped() const { return Core.Stopped(); }

private:
    struct Buffer {
        std::unique_ptr<int16_t[]> Samples;
        size_t Capacity = 0; // samples
        size_t Length = 0;   // samples, written by the worker before queueing
    };

    RingCore Core;
    Buffer Buffers[MaxBuffers];
};

} // namespace kv
