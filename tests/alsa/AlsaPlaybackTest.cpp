// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor output through the real audio stack: PortAudio's ALSA host API playing into a
// playback PCM of ALSA's file plugin, which writes every sample it is given to a raw file. The
// null PCM behind it takes samples as fast as they come, so the output is paced only by the
// monitor's wait for new input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <thread>
#include <vector>

#include "audio/PortAudioSink.h"
#include "audio/SoundOut.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr const char* MonitorDevice = "KestrovaneMonitor";
constexpr unsigned Rate = 48000;
using Samples = std::vector<int16_t>;

// Beside the ALSA configuration the test program wrote.
fs::path MonitorFile() {
    const char* config = std::getenv("ALSA_CONFIG_PATH");
    return fs::path(config ? config : "/nonexistent/asound.conf").parent_path() / "monitor.raw";
}

Samples ReadMonitorFile() {
    std::ifstream in(MonitorFile(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Samples samples(bytes.size() / 2);
    std::copy_n(bytes.data(), samples.size() * 2, reinterpret_cast<char*>(samples.data()));
    return samples;
}

// Distinct blocks: a tone whose pitch and level depend on the block number.
Samples ToneBlock(int number, size_t length) {
    Samples block(length);
    const double step = 0.01 * (number + 1);
    for (size_t i = 0; i < length; ++i)
        block[i] = static_cast<int16_t>((2000 + 500 * number) * std::sin(step * i));
    return block;
}

// The monitor's low-pass over `block`, starting from and updating `state`.
Samples LowPassed(const Samples& block, double& state) {
    Samples out(block.size());
    for (size_t i = 0; i < block.size(); ++i) {
        state = 0.85 * state + 0.15 * block[i];
        out[i] = static_cast<int16_t>(state);
    }
    return out;
}

// Splits the file, after its leading silence, into buffers of the blocks' length and checks that
// each is the low-passed block the capture had copied last at that time: the blocks in order,
// each played one or more times. Returns the number of blocks heard; -1 when a buffer matches
// none. A final partial buffer, cut off by the close, only has to match its beginning.
int CountBlocksHeard(const Samples& file, size_t lead, const std::vector<Samples>& blocks) {
    const size_t length = blocks[0].size();
    double state = 0.0;
    size_t current = 0, heard = 1;
    for (size_t at = lead; at < file.size(); at += length) {
        const size_t n = std::min(length, file.size() - at);
        bool matched = false;
        for (size_t j = current; j < blocks.size() && !matched; ++j) {
            double trial = state;
            const Samples expected = LowPassed(blocks[j], trial);
            if (!std::equal(expected.begin(), expected.begin() + n, file.begin() + at)) continue;
            heard += j != current;
            current = j;
            state = trial;
            matched = true;
        }
        if (!matched) return -1;
    }
    return static_cast<int>(heard);
}

struct Output {
    Output() : Monitor(std::make_shared<MonitorState>()), Sound(Monitor, Sink, Report()) {
        Sound.SampleRate = Rate;
        Sound.SetRingSize(2);
        Sound.DeviceName = "kestrovanemonitor"; // chosen without regard to case
    }
    CSoundOut::MessageSink Report() {
        return [this](const std::string& m) { Messages += m + "\n"; };
    }
    PortAudioSink Sink;
    std::shared_ptr<MonitorState> Monitor;
    std::string Messages;
    CSoundOut Sound;
};

TEST(AlsaPlayback, PortAudioListsTheFilePluginDeviceByName) {
    const std::vector<std::string> names = ListOutputDevices();
    EXPECT_NE(std::find(names.begin(), names.end(), MonitorDevice), names.end())
        << "output devices: " << names.size();
}

TEST(AlsaPlayback, MonitorCopiesReachTheDeviceLowPassed) {
    constexpr size_t Length = 4800; // 0.1 s: each buffer waits at most 25 ms for new input
    std::vector<Samples> blocks;
    for (int i = 0; i < 12; ++i)
        blocks.push_back(ToneBlock(i, Length));
    Output out;
    out.Monitor->Copy(blocks[0].data(), Length, true);
    ASSERT_EQ(out.Sound.Start(), 0) << out.Messages;
    for (size_t i = 1; i < blocks.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        out.Monitor->Copy(blocks[i].data(), Length, true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    out.Sound.Close();

    const Samples file = ReadMonitorFile();
    const size_t lead = 2 * CSoundOut::InitialSamplesPerBuffer; // the two starting buffers
    ASSERT_GT(file.size(), lead + 4 * Length);
    EXPECT_TRUE(std::all_of(file.begin(), file.begin() + lead, [](int16_t v) { return v == 0; }));
    const int heard = CountBlocksHeard(file, lead, blocks);
    std::printf("%zu samples written, %d of %zu blocks heard\n", file.size(), heard, blocks.size());
    EXPECT_GE(heard, 6) << "blocks heard, of " << blocks.size(); // -1: a buffer matched none
}

TEST(AlsaPlayback, AQueuedClipIsWrittenWithExactlyItsLength) {
    Output out;
    const Samples pace(4800, 1000); // muted: silence, but each buffer waits 25 ms
    out.Monitor->Copy(pace.data(), pace.size(), true);
    out.Monitor->SetMute(true);
    ASSERT_EQ(out.Sound.Start(), 0) << out.Messages;
    Samples clip(5000);
    for (size_t i = 0; i < clip.size(); ++i)
        clip[i] = static_cast<int16_t>(100 + i);
    EXPECT_TRUE(out.Monitor->QueueClip(clip, std::chrono::milliseconds(3000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    out.Sound.Close();

    const Samples file = ReadMonitorFile();
    const auto first = std::find_if(file.begin(), file.end(), [](int16_t v) { return v != 0; });
    ASSERT_NE(first, file.end()) << "the clip never reached the device";
    const auto last = std::find_if(file.rbegin(), file.rend(), [](int16_t v) { return v != 0; });
    EXPECT_EQ(Samples(first, last.base()), clip); // silence before and after
}

} // namespace

// Adds the playback PCM to the test program's ALSA configuration.
void WriteMonitorPcm(std::ostream& conf, const fs::path& dir) {
    conf << "pcm." << MonitorDevice << " {\n"
         << "    type file\n    slave.pcm { type null }\n"
         << "    file \"" << (dir / "monitor.raw").string() << "\"\n    format \"raw\"\n"
         << "    hint { show on description \"Monitor output to a raw file\" }\n}\n";
}

} // namespace kv
