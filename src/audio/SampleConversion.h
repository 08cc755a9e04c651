// SPDX-License-Identifier: GPL-3.0-or-later
// The sample conversions every reader of recordings shares: floating-point samples to 16 bit,
// and the mean that mixes a frame's channels down to one.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kv {

// Full scale 1.0 is 32767; NaN is silence; beyond full scale clips.
inline int16_t FloatToS16(double value) {
    if (std::isnan(value)) return 0;
    const double scaled = std::clamp(value * 32767.0, -32768.0, 32767.0);
    return static_cast<int16_t>(std::lround(scaled));
}

// Mean of `count` 16-bit values, rounded to nearest (halves away from zero).
inline int16_t RoundedMean(int64_t sum, int64_t count) {
    const int64_t half = count / 2;
    return static_cast<int16_t>(sum >= 0 ? (sum + half) / count : -((-sum + half) / count));
}

} // namespace kv
