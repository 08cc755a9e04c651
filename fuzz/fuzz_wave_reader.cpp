// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry point for the WAV reader: any byte string must either decode or be refused
// with a reason, never crash, never read outside the input.
#include "audio/WaveFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kv::WaveReadResult result = kv::ParseWave(data, size);
    if (result.Ok) {
        // Every output sample comes from at least one input byte.
        const bool sane = result.Error.empty() && result.Data.Samples.size() <= size &&
                          result.Data.Channels > 0 && result.Data.SampleRate > 0 &&
                          (result.Data.FormatTag == 1 || result.Data.FormatTag == 3);
        if (!sane) std::abort();
    } else if (result.Error.empty() || !result.Data.Samples.empty()) {
        std::abort();
    }
    return 0;
}
