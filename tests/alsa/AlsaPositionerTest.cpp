// SPDX-License-Identifier: GPL-3.0-or-later
// The positioner's tone commands through the real audio stack: the monitor output plays them
// into the playback PCM of ALSA's file plugin (written by main() in the capture test), and the
// raw samples the device received are decoded back into DTMF digits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "audio/PortAudioSink.h"
#include "audio/SoundOut.h"
#include "positions/Positioner.h"
#include "support/DtmfDecoder.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

// Beside the ALSA configuration the test program wrote; the monitor device writes here.
fs::path DeviceFile() {
    const char* config = std::getenv("ALSA_CONFIG_PATH");
    return fs::path(config ? config : "/nonexistent/asound.conf").parent_path() / "monitor.raw";
}

std::vector<int16_t> DeviceSamples() {
    std::ifstream in(DeviceFile(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> samples(bytes.size() / 2);
    std::copy_n(bytes.data(), samples.size() * 2, reinterpret_cast<char*>(samples.data()));
    return samples;
}

// The session's clip queue: the monitor state of a running output.
struct MonitorClips : ClipOutput {
    MonitorClips(MonitorState& monitor, unsigned rate) : Monitor(monitor), Rate(rate) {}
    unsigned SampleRate() const override { return Rate; }
    bool Available() const override { return true; }
    bool PlayClip(std::vector<int16_t> samples, std::chrono::milliseconds timeout) override {
        const bool played = Monitor.QueueClip(std::move(samples), timeout);
        Confirmed += played;
        return played;
    }
    MonitorState& Monitor;
    unsigned Rate;
    int Confirmed = 0;
};

// The positioner's busy time does not change the tones; the test does not wait through it.
struct NoWaitClock : MillisecondClock {
    uint32_t NowMs() override { return Now; }
    void SleepMs(uint32_t ms) override { Now += ms; }
    uint32_t Now = 0;
};

class AlsaPositioner : public ::testing::TestWithParam<unsigned> {};

TEST_P(AlsaPositioner, MoveTonesReachTheDeviceAsTheirDigits) {
    const unsigned rate = GetParam();
    auto monitor = std::make_shared<MonitorState>();
    PortAudioSink sink;
    std::string messages;
    CSoundOut sound(monitor, sink, [&](const std::string& m) { messages += m + "\n"; });
    sound.SampleRate = rate;
    sound.DeviceName = "KestrovaneMonitor";
    // A muted monitor copy paces the output (each buffer waits a quarter of it) with silence.
    const std::vector<int16_t> pace(rate / 10, 1000);
    monitor->Copy(pace.data(), pace.size(), true);
    monitor->SetMute(true);
    ASSERT_EQ(sound.Start(), 0) << messages;

    MonitorClips clips(*monitor, rate);
    NoWaitClock clock;
    Positioner motor(clips, clock);
    EXPECT_EQ(motor.MoveTo({100, -20}), 800u);
    EXPECT_EQ(motor.MoveTo({40, 30}), 800u);
    // A clip counts as played once it is in an output buffer; the device writes it a little later.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sound.Close();
    EXPECT_EQ(clips.Confirmed, 2) << "each command is played within 3000 ms";

    const std::vector<test::DtmfBurst> bursts = test::DecodeDtmf(DeviceSamples(), rate);
    ASSERT_EQ(test::Symbols(bursts), "2064#014603CA032");
    const size_t n = rate / 20; // 50 ms
    for (size_t i = 0; i < bursts.size(); ++i) {
        // The last tone sample may be a zero of the cosines: at most a sample or two short.
        EXPECT_LE(bursts[i].ToneSamples, n) << i;
        EXPECT_GE(bursts[i].ToneSamples + 2, n) << i;
        if (i % 8 != 7)
            EXPECT_EQ(bursts[i].ToneSamples + bursts[i].SilenceSamples, 2 * n) << i;
        else
            EXPECT_GE(bursts[i].ToneSamples + bursts[i].SilenceSamples, 2 * n) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, AlsaPositioner, ::testing::Values(48000u, 96000u));

} // namespace
} // namespace kv
