// SPDX-License-Identifier: GPL-3.0-or-later
// Reads DTMF digits back out of 16-bit samples for tests: the tone bursts are found as runs of
// sound between silences, and each burst's keypad row and column are the strongest of the four
// row and four column frequencies by the Goertzel algorithm.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

struct DtmfBurst {
    char Symbol = '?';
    size_t ToneSamples = 0;    // length of the burst
    size_t SilenceSamples = 0; // length of the silence after it (to the next burst or the end)
};

// Power of `frequency` in samples [from, from + count).
inline double GoertzelPower(const std::vector<int16_t>& s, size_t from, size_t count,
                            double frequency, unsigned rate) {
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequency / rate);
    double previous = 0.0, beforePrevious = 0.0;
    for (size_t i = from; i < from + count && i < s.size(); ++i) {
        const double current = s[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious -
           coefficient * previous * beforePrevious;
}

inline char DecodeDtmfTone(const std::vector<int16_t>& s, size_t from, size_t count,
                           unsigned rate) {
    static const double rows[4] = {697, 770, 852, 941};
    static const double columns[4] = {1209, 1336, 1477, 1633};
    static const char keys[4][5] = {"123A", "456B", "789C", "*0#D"};
    auto strongest = [&](const double* f) {
        int best = 0;
        double bestPower = -1.0;
        for (int k = 0; k < 4; ++k) {
            const double power = GoertzelPower(s, from, count, f[k], rate);
            if (power > bestPower) {
                bestPower = power;
                best = k;
            }
        }
        return best;
    };
    return keys[strongest(rows)][strongest(columns)];
}

// Every burst of non-zero samples, from the first non-zero sample on. A tone may cross zero
// exactly at a sample, so a burst ends only at a run of silence longer than `gap` samples.
inline std::vector<DtmfBurst> DecodeDtmf(const std::vector<int16_t>& s, unsigned rate,
                                         size_t gap = 16) {
    std::vector<DtmfBurst> bursts;
    size_t i = 0;
    while (i < s.size() && s[i] == 0)
        ++i;
    while (i < s.size()) {
        const size_t start = i;
        size_t lastSound = i;
        while (i < s.size() && i - lastSound <= gap) {
            if (s[i] != 0) lastSound = i;
            ++i;
        }
        const size_t end = lastSound + 1;
        i = end;
        while (i < s.size() && s[i] == 0)
            ++i;
        DtmfBurst burst;
        burst.Symbol = DecodeDtmfTone(s, start, end - start, rate);
        burst.ToneSamples = end - start;
        burst.SilenceSamples = i - end;
        bursts.push_back(burst);
    }
    return bursts;
}

inline std::string Symbols(const std::vector<DtmfBurst>& bursts) {
    std::string text;
    for (const DtmfBurst& b : bursts)
        text += b.Symbol;
    return text;
}

} // namespace kv::test
