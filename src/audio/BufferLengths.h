// Capture buffer lengths: a fractional number of samples per buffer realised by carrying the
// remainder from buffer to buffer, plus a one-shot adjustment that shifts the buffer grid.
#pragma once

#include <cstddef>

namespace kv {

class BufferLengthSequence {
public:
    void SetSamplesPerBuffer(double samples) { SamplesPerBuffer = samples; }
    void SetBufferAdjust(double samples) { BufferAdjust = samples; }
    double GetSamplesPerBuffer() const { return SamplesPerBuffer; }
    double Carry() const { return FractionalCarry; }

    // Starts a new capture: the carry is emptied.
    void Restart() { FractionalCarry = 0.0; }
    // Length of a buffer first queued at start: at least one sample.
    size_t InitialLength();
    // Length of a buffer queued again: consumes the adjustment, bounded to 1 .. 2 x nominal.
    size_t RequeueLength();

private:
    double SamplesPerBuffer = 52800.0;
    double BufferAdjust = 0.0;
    double FractionalCarry = 0.0;
};

} // namespace kv
