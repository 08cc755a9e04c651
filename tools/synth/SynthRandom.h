// SPDX-License-Identifier: GPL-3.0-or-later
// Seeded random streams shared by the synthesizers: the same seed gives the same recording with
// every standard library, because the variates are computed from the raw engine output.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

namespace kv::synth {

inline uint64_t Mix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

inline uint64_t StreamSeed(uint64_t seed, uint64_t stream) {
    return Mix64(seed ^ Mix64(stream));
}

class Random {
public:
    explicit Random(uint64_t seed) : Engine_(seed) {}

    double Uniform() { return static_cast<double>(Engine_() >> 11) * 0x1.0p-53; }
    double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
    double Symmetric(double halfWidth) { return Uniform(-halfWidth, halfWidth); }

    double Gaussian() {
        if (HasSpare_) {
            HasSpare_ = false;
            return Spare_;
        }
        const double radius = std::sqrt(-2.0 * std::log(1.0 - Uniform()));
        const double angle = 2.0 * std::numbers::pi * Uniform();
        Spare_ = radius * std::sin(angle);
        HasSpare_ = true;
        return radius * std::cos(angle);
    }

private:
    std::mt19937_64 Engine_;
    double Spare_ = 0;
    bool HasSpare_ = false;
};

// A Gaussian variate that depends only on the key: noise can then be rendered in any order and
// in pieces.
inline double HashGaussian(uint64_t key) {
    const uint64_t h = Mix64(key);
    const double u1 = (static_cast<double>(h >> 32) + 0.5) * 0x1.0p-32;
    const double u2 = static_cast<double>(h & 0xFFFFFFFFu) * 0x1.0p-32;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

} // namespace kv::synth
