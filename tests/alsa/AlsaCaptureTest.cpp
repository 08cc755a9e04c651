// SPDX-License-Identifier: GPL-3.0-or-later
// Live capture through the real audio stack: PortAudio's ALSA host API opening a capture PCM of
// ALSA's file plugin that reads a synthesized watch. main() writes the ALSA configuration and
// points ALSA_CONFIG_PATH at it before PortAudio initialises.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "TickSynthesizer.h"
#include "analysis/AnalysisCore.h"
#include "audio/PortAudioSource.h"
#include "audio/SoundIn.h"
#include "support/WaitUntil.h"

namespace kv {

// The playback PCM of the monitor output test (AlsaPlaybackTest.cpp).
void WriteMonitorPcm(std::ostream& conf, const std::filesystem::path& dir);

namespace {

namespace fs = std::filesystem;

constexpr const char* TicksDevice = "KestrovaneTicks";
constexpr const char* TicksDevice96 = "KestrovaneTicks96";
constexpr double WatchRate = 12.0; // s/d
constexpr double WatchSeconds = 40.0;
constexpr unsigned Rate = 48000;

fs::path TestDir() {
    return fs::temp_directory_path() / ("kv-alsa-" + std::to_string(::getpid()));
}

// The capture PCM reads the raw ticks; "default" is a null PCM so that the list has a second
// entry (PortAudio 19.6 asserts when every listed ALSA device opens in its first pass).
void WriteCapturePcm(std::ofstream& conf, const std::string& name, const fs::path& ticks) {
    conf << "pcm." << name << " {\n"
         << "    type file\n    slave.pcm { type null }\n    file \"/dev/null\"\n"
         << "    infile \"" << ticks.string() << "\"\n    format \"raw\"\n"
         << "    hint { show on description \"Synthesized 18000 vph watch\" }\n}\n";
}

// Two capture PCMs read the raw ticks at 48 and 96 kHz; "default" is a null PCM so that the list
// has another entry (PortAudio 19.6 asserts when every listed ALSA device opens in its first pass).
void WriteAlsaConfig(const fs::path& dir) {
    std::ofstream conf(dir / "asound.conf");
    WriteCapturePcm(conf, TicksDevice, dir / "ticks.raw");
    WriteCapturePcm(conf, TicksDevice96, dir / "ticks96.raw");
    WriteMonitorPcm(conf, dir);
    conf << "pcm.default { type null hint { show on description \"Silence\" } }\n";
}

void WriteRawWatch(const fs::path& path, unsigned sampleRate) {
    synth::SynthOptions o;
    o.SampleRate = sampleRate;
    o.BeatsPerHour = 18000;
    o.RateSecondsPerDay = WatchRate;
    o.Seconds = WatchSeconds;
    const synth::SynthResult watch = synth::Synthesize(o);
    std::ofstream raw(path, std::ios::binary); // S16_LE mono
    raw.write(reinterpret_cast<const char*>(watch.Samples.data()),
              static_cast<std::streamsize>(watch.Samples.size() * sizeof(int16_t)));
}

void PrepareAudioStack() {
    const fs::path dir = TestDir();
    fs::create_directories(dir);
    WriteRawWatch(dir / "ticks.raw", Rate);
    WriteRawWatch(dir / "ticks96.raw", 96000);
    WriteAlsaConfig(dir);
    ::setenv("ALSA_CONFIG_PATH", (dir / "asound.conf").c_str(), 1);
}

// The measuring view's part: wires the analysis's capture settings to CSoundIn.
class LiveHost : public AnalysisHost {
public:
    LiveHost()
        : Core(*this),
          Sound(
              Source,
              [this](size_t n, int16_t* s, int r, std::optional<int64_t>) { OnBuffer(n, s, r); },
              [this](const std::string& m) { Messages += m + "\n"; }) {
        Sound.SetCallbackLock([this] { return Core.HoldAnalysis(); });
    }
    void StopMeasurement() override { Core.EndRun(); }
    void StartMeasurement() override { Core.BeginRun(); }
    void StartTimer(int, unsigned) override {}
    void KillTimer(int) override {}
    void SetCaptureRingSize(int n) override { Sound.SetRingSize(n); }
    void SetCaptureSamplesPerBuffer(double x) override { Sound.SetSamplesPerBuffer(x); }
    void SetCaptureBufferAdjust(double x) override { Sound.SetBufferAdjust(x); }

    void OnBuffer(size_t n, int16_t* samples, int remaining) {
        if (Frames.load() >= Wanted) return; // enough heard; the test closes the capture
        Core.ProcessBuffer(n, samples, remaining);
        Frames += n;
    }

    PortAudioSource Source;
    AnalysisCore Core;
    std::string Messages;
    std::atomic<size_t> Frames{0};
    size_t Wanted = 0;
    CSoundIn Sound; // last: closed before the members its worker uses are destroyed
};

TEST(AlsaCapture, PortAudioListsTheFilePluginDeviceByName) {
    const std::vector<std::string> names = ListInputDevices();
    EXPECT_NE(std::find(names.begin(), names.end(), TicksDevice), names.end())
        << "input devices: " << names.size();
}

TEST(AlsaCapture, MeasuresTheSynthesizedWatchThroughCSoundIn) {
    LiveHost host;
    host.Wanted = static_cast<size_t>(35.0 * Rate);
    host.Sound.SampleRate = Rate;
    host.Sound.DeviceName = "kestrovaneticks"; // chosen without regard to case
    host.Core.Settings.SampleRate = Rate;
    host.Core.Params.TickInterval = "18000 vph";
    ASSERT_TRUE(host.Core.ParseTrain("18000 vph"));
    host.StartMeasurement();
    ASSERT_EQ(host.Sound.Start(), 0) << host.Messages;
    test::WaitUntil([&] { return host.Frames.load() >= host.Wanted; }, std::chrono::seconds(60));
    host.Sound.Close();
    ASSERT_GE(host.Frames.load(), host.Wanted) << "capture delivered too little";
    const auto lock = host.Core.HoldAnalysis();
    const MeasurementState& m = host.Core.Measurement;
    ASSERT_TRUE(m.RateMeasured);
    std::printf("rate %.3f s/d, %lld beats, %llu overruns, %llu full-ring waits\n",
                m.Rate * 86400.0, static_cast<long long>(host.Core.Detector.BeatCount),
                static_cast<unsigned long long>(host.Sound.Overruns()),
                static_cast<unsigned long long>(host.Sound.FullRingWaits()));
    EXPECT_NEAR(m.Rate * 86400.0, WatchRate, 0.5);
    EXPECT_NEAR(static_cast<double>(host.Core.Detector.BeatCount), 35.0 * 5.0, 6.0);
}

// The analyser as other tools call it: the device list, and a live measurement by device name at
// the default 96 kHz, in a child process that inherits the test's ALSA configuration.
std::vector<std::string> RunAnalyzer(const std::string& args, int& exitCode) {
    const fs::path out = TestDir() / "analyze.out";
    const std::string command =
        std::string(KV_ANALYZE_EXE) + " " + args + " >" + out.string() + " 2>/dev/null";
    const int status = std::system(command.c_str());
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(AlsaCapture, AnalyserListsDevicesAndMeasuresLive) {
    int exitCode = -1;
    const std::vector<std::string> names = RunAnalyzer("--list-devices", exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(std::find(names.begin(), names.end(), TicksDevice96), names.end());

    const std::vector<std::string> readings =
        RunAnalyzer("--train 18000 --every 10 --device kestrovaneticks96 --seconds 30", exitCode);
    ASSERT_EQ(exitCode, 0);
    ASSERT_GE(readings.size(), 3u);
    const std::string& last = readings.back();
    const size_t at = last.find("\"rate_sd\":");
    ASSERT_NE(at, std::string::npos) << last;
    EXPECT_NEAR(std::atof(last.c_str() + at + 10), WatchRate, 0.5) << last;
    EXPECT_NE(last.find("\"rate_window_full\":true"), std::string::npos) << last;
    // The file device delivers faster than real time: the reading still covers only 30 s.
    const double seconds = std::atof(last.c_str() + last.find("\"t\":") + 4);
    EXPECT_GE(seconds, 30.0) << last;
    EXPECT_LT(seconds, 31.0) << last;
}

} // namespace
} // namespace kv

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    kv::PrepareAudioStack();
    const int result = RUN_ALL_TESTS();
    std::filesystem::remove_all(kv::TestDir());
    return result;
}
