// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-over shared by the capture and output rings: a fixed number of slots passed between a
// worker thread and a device thread in ring order. Each slot is idle, queued (the device owns it)
// or done (the worker owns it); ownership passes through one atomic state per slot, so neither
// side takes a lock. Each side wakes the other through a POSIX semaphore (sem_post is safe in a
// sound card's callback); a spare post only causes one more look at the ring. The rings keep
// their sample blocks themselves and use the core's slot indices for them.
//
// Threads: set-up (Reset, SetCount) while neither side runs; the Worker side from the one thread
// that queues slots; the Device side from the one thread that takes them; Stop from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <semaphore.h>

namespace kv {

class RingCore {
public:
    static constexpr int MaxSlots = 40;
    RingCore();
    ~RingCore();
    RingCore(const RingCore&) = delete;
    RingCore& operator=(const RingCore&) = delete;

    // --- Set-up, while neither side runs ---
    // No slots, all idle, the device back at the first, not stopped, no pending wake-ups.
    void Reset();
    // Uses `count` slots, clamped to 1..MaxSlots; returns the count in use.
    int SetCount(int count);
    int Count() const { return SlotCount; }

    // --- Worker side ---
    // Hands the slot to the device and wakes it.
    void Queue(int index) {
        Status[index].store(Queued, std::memory_order_release);
        sem_post(&DeviceWake);
    }
    bool IsDone(int index) const { return Status[index].load(std::memory_order_acquire) == Done; }
    // Waits until the device finishes a slot or Stop is called.
    void WaitForDone();

    // --- Device side ---
    // The slot the device takes next, in ring order.
    int NextIndex() const { return DeviceIndex; }
    bool NextQueued() const {
        return Status[DeviceIndex].load(std::memory_order_acquire) == Queued;
    }
    // Waits until the next slot is queued; false after Stop, without slots, or when `timeout`
    // passes first. A wait that was needed at all is counted once.
    bool WaitForNext(std::optional<std::chrono::milliseconds> timeout = {});
    // Marks the next slot done for the worker, moves on to the one after and wakes the worker.
    // Does nothing unless the next slot is queued.
    void FinishNext() {
        if (SlotCount == 0 || !NextQueued()) return;
        Status[DeviceIndex].store(Done, std::memory_order_release);
        DeviceIndex = DeviceIndex + 1 == SlotCount ? 0 : DeviceIndex + 1;
        sem_post(&WorkerWake);
    }
    // Times the device found its next slot not yet queued and had to wait.
    uint64_t DeviceWaits() const { return WaitCount.load(std::memory_order_relaxed); }

    // Wakes both sides for good; WaitForNext returns false from then on.
    void Stop();
    bool Stopped() const { return StopRequested.load(std::memory_order_acquire); }

private:
    enum State : int { Idle, Queued, Done };
    // One wait for a post from the worker; false on time-out.
    bool WaitForWorker(std::optional<std::chrono::milliseconds> timeout);

    std::atomic<int> Status[MaxSlots];
    int SlotCount = 0;
    int DeviceIndex = 0; // device side only
    sem_t WorkerWake;    // posted when a slot is done
    sem_t DeviceWake;    // posted when a slot is queued
    std::atomic<bool> StopRequested{false};
    std::atomic<uint64_t> WaitCount{0};
};

} // namespace kv
