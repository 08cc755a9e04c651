// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/AutoThreshold.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// Blocks of a millisecond: shorter than the quiet between clicks, long enough to average noise.
constexpr double BlockSeconds = 1e-3;
// Blocks kept per buffer: a two-second buffer (the slowest trains) at one block a millisecond.
constexpr size_t MaxBlocks = 2048;
// The noise floor is the 30 % quantile of the block levels: the clicks of a beat and their
// ringing fill far less than 70 % of it.
constexpr double NoiseQuantile = 0.3;
// Fewer blocks than this in a buffer leave the noise floor as it was.
constexpr size_t FewestBlocks = 8;
// Each buffer and each click moves the smoothed levels by a quarter.
constexpr double Smoothing = 0.25;
// The threshold stands this many noise RMS above the floor: Gaussian noise passes 7 sigma in
// about one sample of 4e11, so no noise peak is taken as a tick in a day's listening ...
constexpr double NoiseRatio = 7.0;
// ... and never above this fraction of the unlock click's peak, which is then still caught on its
// rising edge ...
constexpr double PeakFraction = 0.4;
// ... but never below this many noise RMS either: lower, the quiet before a tick is never quiet
// enough to arm the detector. Clicks whose peak lies under the threshold of noise alone are not
// taken as the clicks' level: they are what the fixed threshold caught before the noise was known.
constexpr double LowestNoiseRatio = 5.0;
// The lowest threshold: a digitally silent input must not trigger on rounding.
constexpr int LowestThreshold = 16;
// The highest: full scale.
constexpr int HighestThreshold = 32767;

} // namespace

void AutoThreshold::Configure(unsigned sampleRate) {
    if (sampleRate == SampleRate) return;
    SampleRate = sampleRate;
    BlockLength = std::max(1, static_cast<int>(std::lround(BlockSeconds * sampleRate)));
    MeanSquares.assign(MaxBlocks, 0.0);
    Reset();
}

void AutoThreshold::Reset() {
    Blocks = 0;
    BlockSum = 0.0;
    BlockCount = 0;
    Noise = 0.0;
    UnlockPeak = 0.0;
}

void AutoThreshold::EndBuffer() {
    if (Blocks >= FewestBlocks) {
        const auto quantile =
            MeanSquares.begin() +
            static_cast<std::ptrdiff_t>(NoiseQuantile * static_cast<double>(Blocks));
        std::nth_element(MeanSquares.begin(), quantile,
                         MeanSquares.begin() + static_cast<std::ptrdiff_t>(Blocks));
        const double rms = std::sqrt(*quantile);
        Noise = Noise > 0.0 ? Noise + Smoothing * (rms - Noise) : rms;
    }
    Blocks = 0;
}

void AutoThreshold::AddUnlockPeak(int peak) {
    if (peak < NoiseRatio * Noise) return;
    UnlockPeak = UnlockPeak > 0.0 ? UnlockPeak + Smoothing * (peak - UnlockPeak) : peak;
}

std::optional<int> AutoThreshold::Threshold() const {
    // Nothing is taken as a tick before the noise is known: the first buffer only listens.
    if (Noise <= 0.0) return std::nullopt;
    double threshold = NoiseRatio * Noise;
    if (UnlockPeak > 0.0)
        threshold =
            std::max(LowestNoiseRatio * Noise, std::min(threshold, PeakFraction * UnlockPeak));
    return std::clamp(static_cast<int>(std::lround(threshold)), LowestThreshold, HighestThreshold);
}

} // namespace kv
