// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/RingCore.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace kv {

namespace {

constexpr long long MillisecondsPerSecond = 1000;
constexpr long long NanosecondsPerMillisecond = 1000000;
constexpr long long NanosecondsPerSecond = 1000000000;

// Semaphores wait against absolute times; the monotonic clock keeps a wall-clock step out of it.
timespec MonotonicDeadline(std::chrono::milliseconds timeout) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns =
        now.tv_nsec + (timeout.count() % MillisecondsPerSecond) * NanosecondsPerMillisecond;
    now.tv_sec +=
        static_cast<time_t>(timeout.count() / MillisecondsPerSecond + ns / NanosecondsPerSecond);
    now.tv_nsec = static_cast<long>(ns % NanosecondsPerSecond);
    return now;
}

void Drain(sem_t& semaphore) {
    while (sem_trywait(&semaphore) == 0) {
    }
}

} // namespace

RingCore::RingCore() {
    for (std::atomic<int>& s : Status)
        s.store(Idle, std::memory_order_relaxed);
    sem_init(&WorkerWake, 0, 0);
    sem_init(&DeviceWake, 0, 0);
}

RingCore::~RingCore() {
    sem_destroy(&WorkerWake);
    sem_destroy(&DeviceWake);
}

void RingCore::Reset() {
    for (std::atomic<int>& s : Status)
        s.store(Idle, std::memory_order_relaxed);
    SlotCount = 0;
    DeviceIndex = 0;
    StopRequested.store(false, std::memory_order_release);
    Drain(WorkerWake);
    Drain(DeviceWake);
}

int RingCore::SetCount(int count) {
    SlotCount = std::clamp(count, 1, MaxSlots);
    return SlotCount;
}

void RingCore::WaitForDone() {
    while (sem_wait(&WorkerWake) != 0 && errno == EINTR) {
    }
}

bool RingCore::WaitForWorker(std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout) {
        while (sem_wait(&DeviceWake) != 0)
            if (errno != EINTR) return false;
        return true;
    }
    const timespec deadline = MonotonicDeadline(*timeout);
    while (sem_clockwait(&DeviceWake, CLOCK_MONOTONIC, &deadline) != 0)
        if (errno != EINTR) return false;
    return true;
}

bool RingCore::WaitForNext(std::optional<std::chrono::milliseconds> timeout) {
    bool counted = false;
    for (;;) {
        if (Stopped() || SlotCount == 0) return false;
        if (NextQueued()) return true;
        if (!counted) WaitCount.fetch_add(1, std::memory_order_relaxed);
        counted = true;
        if (!WaitForWorker(timeout)) return false;
    }
}

void RingCore::Stop() {
    StopRequested.store(true, std::memory_order_release);
    sem_post(&DeviceWake);
    sem_post(&WorkerWake);
}

} // namespace kv
