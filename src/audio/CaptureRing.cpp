// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/CaptureRing.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kv {

bool CaptureRing::Allocate(int count, size_t capacityFrames, int channels) {
    Release();
    const int buffers = Core.SetCount(count);
    ChannelCount = std::max(1, channels);
    for (int i = 0; i < buffers; ++i)
        if (!EnsureCapacity(i, std::max<size_t>(1, capacityFrames))) return false;
    return true;
}

void CaptureRing::Release() {
    for (Buffer& b : Buffers) {
        b.Samples.reset();
        b.Capacity = b.Requested = b.Recorded = 0;
        b.Arrived = {};
    }
    Core.Reset();
    FillFrame = 0;
}

bool CaptureRing::EnsureCapacity(int index, size_t frames) {
    Buffer& b = Buffers[index];
    if (frames <= b.Capacity) return true;
    // Twice the need, so that a buffer that keeps growing is reallocated only now and then.
    const size_t capacity = b.Capacity == 0 ? frames : 2 * frames;
    b.Samples.reset(new (std::nothrow) int16_t[capacity * static_cast<size_t>(ChannelCount)]);
    b.Capacity = b.Samples ? capacity : 0;
    return b.Samples != nullptr;
}

void CaptureRing::Queue(int index, size_t frames) {
    Buffer& b = Buffers[index];
    b.Requested = std::min(frames, b.Capacity);
    b.Recorded = 0;
    Core.Queue(index);
}

void CaptureRing::MarkDone(Buffer& buffer, const BufferArrival& arrival) {
    buffer.Recorded = FillFrame;
    buffer.Arrived = arrival;
    FillFrame = 0;
    Core.FinishNext();
}

size_t CaptureRing::Write(const int16_t* frames, size_t count) {
    size_t stored = 0;
    const size_t ch = static_cast<size_t>(ChannelCount);
    BufferArrival arrival;
    if (Clock) {
        arrival.Counter = Clock();
        arrival.Stamped = true;
    }
    while (stored < count && Core.WaitForNext()) {
        Buffer& b = Buffers[Core.NextIndex()];
        const size_t n = std::min(count - stored, b.Requested - FillFrame);
        std::memcpy(b.Samples.get() + FillFrame * ch, frames + stored * ch,
                    n * ch * sizeof(int16_t));
        FillFrame += n;
        stored += n;
        if (FillFrame == b.Requested) {
            arrival.LateFrames = count - stored;
            MarkDone(b, arrival);
        }
    }
    return stored;
}

} // namespace kv
