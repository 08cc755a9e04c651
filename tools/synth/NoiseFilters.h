// SPDX-License-Identifier: GPL-3.0-or-later
// Small filters that colour the synthesizers' noise: biquad sections, a pink-noise filter, and
// the scale that gives a filter's output unit RMS on white noise.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

#include "SynthRandom.h"

namespace kv::synth {

// Paul Kellet's economy pink filter: three leaky integrators and a direct share of the white.
constexpr std::array<double, 3> kPinkPoles = {0.99765, 0.96300, 0.57000};
constexpr std::array<double, 3> kPinkGains = {0.0990460, 0.2965164, 1.0526913};
constexpr double kPinkDirect = 0.1848;
// Noise filters are scaled to unit RMS by running them on this much of a fixed noise.
constexpr size_t kCalibrationSamples = size_t{1} << 15;
constexpr uint64_t kCalibrationSeed = 12345;

struct Biquad {
    double B0 = 1, B1 = 0, B2 = 0, A1 = 0, A2 = 0;
    double Z1 = 0, Z2 = 0;

    double Step(double x) { // transposed direct form II
        const double y = B0 * x + Z1;
        Z1 = B1 * x - A1 * y + Z2;
        Z2 = B2 * x - A2 * y;
        return y;
    }
};

inline Biquad LowPass(double hz, double q, double fs) {
    const double w = 2.0 * std::numbers::pi * hz / fs, alpha = std::sin(w) / (2.0 * q),
                 c = std::cos(w);
    const double a0 = 1.0 + alpha;
    return {(1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
}

inline Biquad BandPass(double hz, double q, double fs) { // 0 dB at the centre
    const double w = 2.0 * std::numbers::pi * hz / fs, alpha = std::sin(w) / (2.0 * q),
                 c = std::cos(w);
    const double a0 = 1.0 + alpha;
    return {alpha / a0, 0, -alpha / a0, -2 * c / a0, (1 - alpha) / a0};
}

class PinkFilter {
public:
    double Step(double white) {
        double sum = kPinkDirect * white;
        for (size_t i = 0; i < State_.size(); ++i) {
            State_[i] = kPinkPoles[i] * State_[i] + kPinkGains[i] * white;
            sum += State_[i];
        }
        return sum;
    }

private:
    std::array<double, 3> State_{};
};

// 1 / the RMS a filter gives white noise of unit RMS.
template <typename Filter> inline double UnitRmsScale(Filter filter) {
    Random rng(kCalibrationSeed);
    double power = 0;
    for (size_t i = 0; i < kCalibrationSamples; ++i) {
        const double y = filter.Step(rng.Gaussian());
        power += y * y;
    }
    return 1.0 / std::sqrt(power / kCalibrationSamples);
}

} // namespace kv::synth
