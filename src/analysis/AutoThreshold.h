// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic unlock threshold: follows the noise floor between ticks and the peaks of the unlock
// clicks, so that a noisy recording is measured without touching the threshold. The noise floor
// is a low quantile of the mean square of short blocks of the rectified signal over each buffer
// (the ticks fill only a small part of a beat); the threshold is a fixed ratio above its root,
// never above a fraction of the smoothed unlock peak.
//
// Used by AnalysisCore on the capture thread under AnalysisLock only. Add runs once per sample and
// only adds and stores into preallocated storage; the quantile is taken once per buffer.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace kv {

class AutoThreshold {
public:
    // Sizes the blocks for the sample rate; allocates only when the rate changes.
    void Configure(unsigned sampleRate);
    // Forgets the levels measured (a new run).
    void Reset();

    // One rectified sample.
    void Add(double v) {
        BlockSum += v * v;
        if (++BlockCount < BlockLength) return;
        if (Blocks < MeanSquares.size()) MeanSquares[Blocks++] = BlockSum / BlockLength;
        BlockSum = 0.0;
        BlockCount = 0;
    }
    // End of a buffer: updates the noise floor from its blocks.
    void EndBuffer();
    // The peak of one unlock click.
    void AddUnlockPeak(int peak);

    // The threshold in force; none (no sound is a tick) until the noise floor has been measured.
    std::optional<int> Threshold() const;
    double NoiseRms() const { return Noise; }

private:
    std::vector<double> MeanSquares; // this buffer's blocks
    size_t Blocks = 0;
    double BlockSum = 0.0;
    int BlockCount = 0;
    int BlockLength = 1;
    unsigned SampleRate = 0;
    double Noise = 0.0;      // smoothed RMS of the noise floor; 0 = not measured
    double UnlockPeak = 0.0; // smoothed unlock click peak; 0 = none yet
};

} // namespace kv
