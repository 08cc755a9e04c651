// SPDX-License-Identifier: GPL-3.0-or-later
#include "OggFile.h"

#include <algorithm>
#include <sndfile.h>

#include "platform/FileAccess.h"

namespace kv::synth {
namespace {

// Frames handed to the encoder per call, as an audio program would deliver them.
constexpr sf_count_t kBlockFrames = 4096;

} // namespace

bool WriteOggVorbis(const std::string& path, const std::vector<int16_t>& interleaved,
                    uint32_t sampleRate, uint16_t channels, double quality, std::string* error) {
    auto fail = [error](std::string reason) {
        if (error) *error = std::move(reason);
        return false;
    };
    if (!(quality >= 0 && quality <= 1)) return fail("Ogg quality must be between 0 and 1");
    if (channels == 0 || interleaved.size() % channels != 0)
        return fail("samples do not fill whole frames");
    const int fd = OpenFile(path, OpenMode::CreateNew);
    if (fd < 0) return fail("cannot create the file (does it exist already?)");
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = channels;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE); // closes fd with the file
    if (!file) {
        CloseFile(fd);
        return fail(sf_strerror(nullptr));
    }
    sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof(quality));
    // The encoder takes the samples a block at a time: libvorbis crashes on one huge buffer.
    const auto frames = static_cast<sf_count_t>(interleaved.size() / channels);
    std::string reason;
    for (sf_count_t done = 0; done < frames && reason.empty(); done += kBlockFrames) {
        const sf_count_t count = std::min(kBlockFrames, frames - done);
        if (sf_writef_short(file, interleaved.data() + done * channels, count) != count)
            reason = sf_strerror(file);
    }
    if (sf_close(file) != 0 && reason.empty()) reason = "cannot finish the file";
    return reason.empty() || fail(reason);
}

} // namespace kv::synth
