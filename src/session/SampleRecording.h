// SPDX-License-Identifier: GPL-3.0-or-later
// First run without a microphone: the default waveform file is created from the bundled sample
// recording, so that the program measures a watch at once.
#pragma once

#include <filesystem>
#include <string>

namespace kv {

// The bundled sample next to the program: <prefix>/share/kestrovane/sample-watch.wav for a
// program in <prefix>/bin or <build>/src.
std::filesystem::path BundledSamplePath(const std::filesystem::path& programDir);

// Copies `sample` to `waveFile` when `waveFile` is the default waveform file and does not exist
// yet (creating its folder). A missing file of the user's own choice is left alone: playing the
// sample under their name would pass it off as their recording. Never replaces an existing file;
// false when nothing was copied.
bool InstallSampleRecording(const std::filesystem::path& sample,
                            const std::filesystem::path& waveFile,
                            const std::filesystem::path& defaultWaveFile);

} // namespace kv
