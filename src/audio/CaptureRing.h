// The capture ring: buffers the device fills one after another in ring order and the worker hands
// to the analysis in the same order. Each buffer is either queued (the device owns it) or done
// (the worker owns it); ownership passes through one atomic state per buffer, so neither side
// takes a lock. Each side wakes the other through a POSIX semaphore (sem_post is safe in the
// sound card's callback); a spare post only causes one more look at the ring.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <semaphore.h>

namespace kv {

class CaptureRing {
public:
    static constexpr int MaxBuffers = 40;
    CaptureRing();
    ~CaptureRing();
    CaptureRing(const CaptureRing&) = delete;
    CaptureRing& operator=(const CaptureRing&) = delete;

    // --- Set-up, while no device writes ---
    // Sizes `count` buffers of `capacityFrames` frames each, all idle. False when out of memory.
    bool Allocate(int count, size_t capacityFrames, int channels);
    void Release();
    int Count() const { return BufferCount; }
    int Channels() const { return ChannelCount; }

    // --- Worker side ---
    // Makes room for `frames` in an idle or done buffer, reallocating at twice the need.
    bool EnsureCapacity(int index, size_t frames);
    // Hands the buffer to the device to be filled with `frames` frames.
    void Queue(int index, size_t frames);
    bool IsDone(int index) const;
    size_t RecordedFrames(int index) const { return Buffers[index].Recorded; }
    int16_t* Data(int index) { return Buffers[index].Samples.get(); }
    size_t CapacityFrames(int index) const { return Buffers[index].Capacity; }
    // Waits until the device finishes a buffer or Stop is called.
    void WaitForDone();

    // --- Device side ---
    // Copies interleaved frames into the queued buffers in ring order, marking each done as it
    // fills. When the next buffer is not queued yet the device waits for the worker; returns the
    // frames stored, fewer than given only after Stop.
    size_t Write(const int16_t* frames, size_t count);
    // Times the device found every buffer full and had to wait.
    uint64_t FullRingWaits() const { return RingFullCount.load(std::memory_order_relaxed); }

    // Wakes both sides for good; Write returns at once from then on.
    void Stop();
    bool Stopped() const { return StopRequested.load(std::memory_order_acquire); }

private:
    enum State : int { Idle, Queued, Done };
    struct Buffer {
        std::unique_ptr<int16_t[]> Samples;
        size_t Capacity = 0;  // frames
        size_t Requested = 0; // frames, written by the worker before queueing
        size_t Recorded = 0;  // frames, written by the device before marking done
        std::atomic<int> Status{Idle};
    };
    bool WaitUntilQueued(Buffer& buffer);
    void MarkDone(Buffer& buffer);

    Buffer Buffers[MaxBuffers];
    int BufferCount = 0;
    int ChannelCount = 1;
    int FillIndex = 0;    // device side only
    size_t FillFrame = 0; // device side only
    sem_t WorkerWake;     // posted when a buffer is done
    sem_t DeviceWake;     // posted when a buffer is queued
    std::atomic<bool> StopRequested{false};
    std::atomic<uint64_t> RingFullCount{0};
};

} // namespace kv
