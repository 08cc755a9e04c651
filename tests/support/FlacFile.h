// SPDX-License-Identifier: GPL-3.0-or-later
// Writes mono 16-bit samples as a FLAC file through libsndfile, as a recorder or an editor would.
#pragma once

#include <cstdint>
#include <filesystem>
#include <sndfile.h>
#include <vector>

namespace kv::test {

inline bool WriteFlac(const std::filesystem::path& path, const std::vector<int16_t>& samples,
                      unsigned sampleRate) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const auto frames = static_cast<sf_count_t>(samples.size());
    const bool written = sf_writef_short(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

} // namespace kv::test
