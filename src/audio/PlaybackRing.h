// The output ring: buffers the output worker fills and the device plays one after another in ring
// order. Each buffer is idle, queued (the device owns it) or done (the worker owns it); ownership
// passes through one atomic state per buffer, so neither side takes a lock. Each side wakes the
// other through a POSIX semaphore; a spare post only causes one more look at the ring.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <semaphore.h>
#include <span>

namespace kv {

class PlaybackRing {
public:
    static constexpr int MaxBuffers = 40;
    PlaybackRing();
    ~PlaybackRing();
    PlaybackRing(const PlaybackRing&) = delete;
    PlaybackRing& operator=(const PlaybackRing&) = delete;

    // --- Set-up, while the device plays nothing ---
    // Sizes `count` idle buffers, each with a zero-filled block of `capacity` samples. False when
    // out of memory.
    bool Allocate(int count, size_t capacity);
    void Release();
    int Count() const { return BufferCount; }

    // --- Worker side ---
    // Gives an idle or done buffer a zero-filled block of `capacity` samples holding the old
    // content up to the smaller capacity. False, with the old block kept, when out of memory.
    bool Resize(int index, size_t capacity);
    // Hands the buffer to the device to play its first `samples` samples (at most its capacity).
    void Queue(int index, size_t samples);
    bool IsDone(int index) const;
    int16_t* Data(int index) { return Buffers[index].Samples.get(); }
    size_t Capacity(int index) const { return Buffers[index].Capacity; }
    // Waits until the device finishes a buffer or Stop is called.
    void WaitForDone();

    // --- Device side ---
    // Waits until the next buffer in ring order is queued and returns its samples; nothing after
    // Stop or when `timeout` passes first.
    std::optional<std::span<const int16_t>>
    WaitForNext(std::optional<std::chrono::milliseconds> timeout = {});
    // Marks the buffer WaitForNext returned as played: done for the worker.
    void FinishNext();

    // Wakes both sides for good; WaitForNext returns nothing from then on.
    void Stop();
    bool Stopped() const { return StopRequested.load(std::memory_order_acquire); }

private:
    enum State : int { Idle, Queued, Done };
    struct Buffer {
        std::unique_ptr<int16_t[]> Samples;
        size_t Capacity = 0; // samples
        size_t Length = 0;   // samples, written by the worker before queueing
        std::atomic<int> Status{Idle};
    };
    bool WaitForDevice(std::optional<std::chrono::milliseconds> timeout);

    Buffer Buffers[MaxBuffers];
    int BufferCount = 0;
    int PlayIndex = 0; // device side only
    sem_t WorkerWake;  // posted when a buffer is done
    sem_t DeviceWake;  // posted when a buffer is queued
    std::atomic<bool> StopRequested{false};
};

} // namespace kv
