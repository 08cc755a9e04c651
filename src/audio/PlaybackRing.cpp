#include "audio/PlaybackRing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

namespace kv {

namespace {

std::unique_ptr<int16_t[]> ZeroedBlock(size_t samples) {
    return std::unique_ptr<int16_t[]>(new (std::nothrow) int16_t[std::max<size_t>(1, samples)]());
}

timespec MonotonicDeadline(std::chrono::milliseconds timeout) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = now.tv_nsec + static_cast<long long>(timeout.count() % 1000) * 1000000;
    now.tv_sec += static_cast<time_t>(timeout.count() / 1000 + ns / 1000000000);
    now.tv_nsec = static_cast<long>(ns % 1000000000);
    return now;
}

} // namespace

PlaybackRing::PlaybackRing() {
    sem_init(&WorkerWake, 0, 0);
    sem_init(&DeviceWake, 0, 0);
}

PlaybackRing::~PlaybackRing() {
    sem_destroy(&WorkerWake);
    sem_destroy(&DeviceWake);
}

bool PlaybackRing::Allocate(int count, size_t capacity) {
    Release();
    BufferCount = std::clamp(count, 1, MaxBuffers);
    for (int i = 0; i < BufferCount; ++i) {
        Buffers[i].Samples = ZeroedBlock(capacity);
        if (!Buffers[i].Samples) return false;
        Buffers[i].Capacity = capacity;
    }
    return true;
}

void PlaybackRing::Release() {
    for (Buffer& b : Buffers) {
        b.Samples.reset();
        b.Capacity = b.Length = 0;
        b.Status.store(Idle, std::memory_order_relaxed);
    }
    BufferCount = 0;
    PlayIndex = 0;
    StopRequested.store(false, std::memory_order_release);
    while (sem_trywait(&WorkerWake) == 0) {
    }
    while (sem_trywait(&DeviceWake) == 0) {
    }
}

bool PlaybackRing::Resize(int index, size_t capacity) {
    Buffer& b = Buffers[index];
    std::unique_ptr<int16_t[]> block = ZeroedBlock(capacity);
    if (!block) return false;
    std::memcpy(block.get(), b.Samples.get(), std::min(capacity, b.Capacity) * sizeof(int16_t));
    b.Samples = std::move(block);
    b.Capacity = capacity;
    return true;
}

void PlaybackRing::Queue(int index, size_t samples) {
    Buffer& b = Buffers[index];
    b.Length = std::min(samples, b.Capacity);
    b.Status.store(Queued, std::memory_order_release);
    sem_post(&DeviceWake);
}

bool PlaybackRing::IsDone(int index) const {
    return Buffers[index].Status.load(std::memory_order_acquire) == Done;
}

void PlaybackRing::WaitForDone() {
    while (sem_wait(&WorkerWake) != 0 && errno == EINTR) {
    }
}

// One wait for a post from the worker; false on time-out.
bool PlaybackRing::WaitForDevice(std::optional<std::chrono::milliseconds> timeout) {
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

std::optional<std::span<const int16_t>>
PlaybackRing::WaitForNext(std::optional<std::chrono::milliseconds> timeout) {
    for (;;) {
        if (Stopped() || BufferCount == 0) return std::nullopt;
        const Buffer& b = Buffers[PlayIndex];
        if (b.Status.load(std::memory_order_acquire) == Queued)
            return std::span<const int16_t>(b.Samples.get(), b.Length);
        if (!WaitForDevice(timeout)) return std::nullopt;
    }
}

void PlaybackRing::FinishNext() {
    Buffer& b = Buffers[PlayIndex];
    if (BufferCount == 0 || b.Status.load(std::memory_order_acquire) != Queued) return;
    b.Status.store(Done, std::memory_order_release);
    PlayIndex = (PlayIndex + 1) % BufferCount;
    sem_post(&WorkerWake);
}

void PlaybackRing::Stop() {
    StopRequested.store(true, std::memory_order_release);
    sem_post(&DeviceWake);
    sem_post(&WorkerWake);
}

} // namespace kv
