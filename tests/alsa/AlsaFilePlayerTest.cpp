// SPDX-License-Identifier: GPL-3.0-or-later
// A played-back file heard through the real audio stack: FilePlayer on PortAudio's ALSA host API
// playing into the file plugin's playback PCM (the monitor output's, AlsaPlaybackTest.cpp), which
// writes every sample it is given to a raw file. The null PCM behind it takes samples as fast as
// they come, so the loop comes round many times within milliseconds.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "audio/FilePlayer.h"
#include "audio/PortAudioSink.h"
#include "support/WaitUntil.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Samples = std::vector<int16_t>;

// Where the file plugin writes what the monitor device plays: beside the test program's ALSA
// configuration.
fs::path PlayedFile() {
    const char* config = std::getenv("ALSA_CONFIG_PATH");
    return fs::path(config ? config : "/nonexistent/asound.conf").parent_path() / "monitor.raw";
}

size_t PlayedSamples() {
    std::error_code error;
    const auto bytes = fs::file_size(PlayedFile(), error);
    return error ? 0 : static_cast<size_t>(bytes / 2);
}

Samples ReadPlayed() {
    Samples played(PlayedSamples());
    std::ifstream in(PlayedFile(), std::ios::binary);
    in.read(reinterpret_cast<char*>(played.data()),
            static_cast<std::streamsize>(played.size() * sizeof(int16_t)));
    return played;
}

// Samples that tell their place: a ramp that is not a whole number of buffers long.
Samples Pattern(size_t length) {
    Samples v(length);
    for (size_t i = 0; i < length; ++i)
        v[i] = static_cast<int16_t>(3 * i - 10000);
    return v;
}

TEST(AlsaFilePlayer, TheFileIsWrittenToTheDeviceRoundAndRoundFromItsFirstSample) {
    const Samples file = Pattern(7001);
    const size_t wanted = 4 * file.size();
    PortAudioSink sink;
    FilePlayer player(sink);
    ASSERT_TRUE(player.Start(file, 48000, "kestrovanemonitor")); // chosen without regard to case
    test::WaitUntil([&] { return PlayedSamples() >= wanted; }, std::chrono::seconds(3));
    const auto start = std::chrono::steady_clock::now();
    player.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    const Samples played = ReadPlayed();
    std::printf("%zu samples written, %.1f loops\n", played.size(),
                static_cast<double>(played.size()) / static_cast<double>(file.size()));
    ASSERT_GE(played.size(), wanted);
    size_t wrong = 0;
    for (size_t i = 0; i < played.size(); ++i)
        wrong += played[i] != file[i % file.size()];
    EXPECT_EQ(wrong, 0u) << "of " << played.size() << " samples";
}

} // namespace
} // namespace kv
