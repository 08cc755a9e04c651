// SPDX-License-Identifier: GPL-3.0-or-later
// Capture buffer lengths: a fractional number of samples per buffer realised by carrying the
// remainder from buffer to buffer, plus a one-shot adjustment that shifts the buffer grid.
#pragma once

#include <atomic>
#include <cstddef>

namespace kv {

// The nominal length and the adjustment may be set from other threads (the user-interface thread
// after a train or sample-rate change, the analysis after a buffer) while the capture worker
// takes lengths; both are atomic. The carry belongs to the worker.
class BufferLengthSequence {
public:
    void SetSamplesPerBuffer(double samples) {
        SamplesPerBuffer.store(samples, std::memory_order_relaxed);
    }
    void SetBufferAdjust(double samples) { BufferAdjust.store(samples, std::memory_order_relaxed); }
    double GetSamplesPerBuffer() const { return SamplesPerBuffer.load(std::memory_order_relaxed); }
    double Carry() const { return FractionalCarry; }

    // Starts a new capture: the carry is emptied.
    void Restart() { FractionalCarry = 0.0; }
    // Length of a buffer first queued at start: at least one sample.
    size_t InitialLength();
    // Length of a buffer queued again: consumes the adjustment, bounded to 1 .. 2 x nominal.
    size_t RequeueLength();

private:
    std::atomic<double> SamplesPerBuffer{52800.0};
    std::atomic<double> BufferAdjust{0.0};
    double FractionalCarry = 0.0;
};

} // namespace kv
