// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/SampleRecording.h"

#include <system_error>

namespace kv {

namespace fs = std::filesystem;

fs::path BundledSamplePath(const fs::path& programDir) {
    return programDir.parent_path() / "share" / "kestrovane" / "sample-watch.wav";
}

bool InstallSampleRecording(const fs::path& sample, const fs::path& waveFile,
                            const fs::path& defaultWaveFile) {
    std::error_code error;
    if (waveFile.empty() || waveFile.lexically_normal() != defaultWaveFile.lexically_normal() ||
        fs::exists(waveFile, error) || !fs::is_regular_file(sample, error))
        return false;
    if (waveFile.has_parent_path()) fs::create_directories(waveFile.parent_path(), error);
    // skip_existing: a file that appeared meanwhile is never overwritten.
    return fs::copy_file(sample, waveFile, fs::copy_options::skip_existing, error) && !error;
}

} // namespace kv
