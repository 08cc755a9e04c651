// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/PlaybackRing.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kv {

namespace {

std::unique_ptr<int16_t[]> ZeroedBlock(size_t samples) {
    return std::unique_ptr<int16_t[]>(new (std::nothrow) int16_t[std::max<size_t>(1, samples)]());
}

} // namespace

bool PlaybackRing::Allocate(int count, size_t capacity) {
    Release();
    const int buffers = Core.SetCount(count);
    for (int i = 0; i < buffers; ++i) {
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
    }
    Core.Reset();
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
    Core.Queue(index);
}

std::optional<std::span<const int16_t>>
PlaybackRing::WaitForNext(std::optional<std::chrono::milliseconds> timeout) {
    if (!Core.WaitForNext(timeout)) return std::nullopt;
    const Buffer& b = Buffers[Core.NextIndex()];
    return std::span<const int16_t>(b.Samples.get(), b.Length);
}

} // namespace kv
