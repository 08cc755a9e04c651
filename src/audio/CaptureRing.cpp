#include "audio/CaptureRing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace kv {

CaptureRing::CaptureRing() {
    sem_init(&WorkerWake, 0, 0);
    sem_init(&DeviceWake, 0, 0);
}

CaptureRing::~CaptureRing() {
    sem_destroy(&WorkerWake);
    sem_destroy(&DeviceWake);
}

bool CaptureRing::Allocate(int count, size_t capacityFrames, int channels) {
    Release();
    BufferCount = std::clamp(count, 1, MaxBuffers);
    ChannelCount = std::max(1, channels);
    for (int i = 0; i < BufferCount; ++i)
        if (!EnsureCapacity(i, std::max<size_t>(1, capacityFrames))) return false;
    return true;
}

void CaptureRing::Release() {
    for (Buffer& b : Buffers) {
        b.Samples.reset();
        b.Capacity = b.Requested = b.Recorded = 0;
        b.Status.store(Idle, std::memory_order_relaxed);
    }
    BufferCount = 0;
    FillIndex = 0;
    FillFrame = 0;
    StopRequested.store(false, std::memory_order_release);
}

bool CaptureRing::EnsureCapacity(int index, size_t frames) {
    Buffer& b = Buffers[index];
    if (frames <= b.Capacity) return true;
    const size_t capacity = b.Capacity == 0 ? frames : 2 * frames;
    b.Samples.reset(new (std::nothrow) int16_t[capacity * static_cast<size_t>(ChannelCount)]);
    b.Capacity = b.Samples ? capacity : 0;
    return b.Samples != nullptr;
}

void CaptureRing::Queue(int index, size_t frames) {
    Buffer& b = Buffers[index];
    b.Requested = std::min(frames, b.Capacity);
    b.Recorded = 0;
    b.Status.store(Queued, std::memory_order_release);
    sem_post(&DeviceWake);
}

bool CaptureRing::IsDone(int index) const {
    return Buffers[index].Status.load(std::memory_order_acquire) == Done;
}

void CaptureRing::WaitForDone() {
    while (sem_wait(&WorkerWake) != 0 && errno == EINTR) {
    }
}

bool CaptureRing::WaitUntilQueued(Buffer& buffer) {
    bool counted = false;
    for (;;) {
        if (StopRequested.load(std::memory_order_acquire)) return false;
        if (buffer.Status.load(std::memory_order_acquire) == Queued) return true;
        if (!counted) RingFullCount.fetch_add(1, std::memory_order_relaxed);
        counted = true;
        while (sem_wait(&DeviceWake) != 0 && errno == EINTR) {
        }
    }
}

void CaptureRing::MarkDone(Buffer& buffer) {
    buffer.Recorded = FillFrame;
    buffer.Status.store(Done, std::memory_order_release);
    FillFrame = 0;
    FillIndex = (FillIndex + 1) % BufferCount;
    sem_post(&WorkerWake);
}

size_t CaptureRing::Write(const int16_t* frames, size_t count) {
    size_t stored = 0;
    while (stored < count && BufferCount > 0) {
        Buffer& b = Buffers[FillIndex];
        if (!WaitUntilQueued(b)) break;
        const size_t n = std::min(count - stored, b.Requested - FillFrame);
        const size_t ch = static_cast<size_t>(ChannelCount);
        std::memcpy(b.Samples.get() + FillFrame * ch, frames + stored * ch,
                    n * ch * sizeof(int16_t));
        FillFrame += n;
        stored += n;
        if (FillFrame == b.Requested) MarkDone(b);
    }
    return stored;
}

void CaptureRing::Stop() {
    StopRequested.store(true, std::memory_order_release);
    sem_post(&DeviceWake);
    sem_post(&WorkerWake);
}

} // namespace kv
