// SPDX-License-Identifier: GPL-3.0-or-later
// Lossy-coded copies of synthetic recordings: Ogg/Vorbis through libsndfile, to see what a
// low-bit-rate codec does to the ticks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::synth {

// Quality of the low-rate coding the synthesizer uses unless told otherwise (0 worst, 1 best).
inline constexpr double kDefaultOggQuality = 0.1;

// Writes interleaved 16-bit samples as Ogg/Vorbis at the given quality (0 to 1); never
// overwrites an existing file. False with a short reason in `error` on failure.
bool WriteOggVorbis(const std::string& path, const std::vector<int16_t>& interleaved,
                    uint32_t sampleRate, uint16_t channels, double quality, std::string* error);

} // namespace kv::synth
