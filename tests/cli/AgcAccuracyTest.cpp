// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic level control on a recording: ticks far too quiet (their loudest click at 5 % of full
// scale) or so loud that they clip are measured by `kestrovane-analyze --agc 1` as well as a
// well-levelled recording of the same watch once the gain has settled, and a quiet recording full
// of noise is not spoiled by raising its noise to the threshold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "TickSynthesizer.h"
#include "audio/WaveFile.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

// The readings of the last output line.
struct LastReading {
    double Rate = NAN;
    double BeatError = NAN;
    double Amplitude = NAN;
};

double JsonValue(const std::string& line, const std::string& key) {
    const size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos) return NAN;
    return std::strtod(line.c_str() + at + key.size() + 3, nullptr); // "null" reads as 0
}

struct AgcRecording : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("kv-agc-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(Dir); }
    void TearDown() override { fs::remove_all(Dir); }

    // The same watch recorded at another level: `peak` is the loudest click's share of full
    // scale; above 1 the recording clips. `noise` is the noise RMS over the unlock click's peak.
    fs::path Record(const std::string& name, double peak,
                    double noise = synth::SynthOptions{}.NoiseFraction) {
        constexpr double SynthesizedPeak = 0.5;
        synth::SynthOptions o;
        o.BeatsPerHour = 28800;
        o.RateSecondsPerDay = 5.0;
        o.BeatErrorMs = 0.5;
        o.AmplitudeDeg = 280;
        o.SampleRate = 48000;
        o.Seconds = 150; // about 35 s to settle from 160 %, then several measuring windows
        o.UnlockPeak = SynthesizedPeak / o.DropGain;
        o.NoiseFraction = noise;
        o.Seed = 5;
        std::vector<int16_t> samples = synth::Synthesize(o).Samples;
        for (int16_t& x : samples)
            x = static_cast<int16_t>(
                std::clamp(std::lround(x * peak / SynthesizedPeak), -32768L, 32767L));
        const fs::path path = Dir / name;
        EXPECT_TRUE(WriteWaveFile(path.string(), samples, 48000, 1));
        return path;
    }
    LastReading Analyze(const fs::path& file, bool agc) {
        const fs::path out = Dir / "out.txt";
        // Without ALC: the window's start-up mode, a fixed threshold and whole-sample timing.
        const std::string command = std::string(KV_ANALYZE_EXE) + " --train 28800 " +
                                    (agc ? "--agc 1 " : "--agc 0 --auto-threshold 0 --precise 0 ") +
                                    file.string() + " >" + out.string();
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
        std::ifstream in(out);
        std::string line, last;
        while (std::getline(in, line))
            last = line;
        return {JsonValue(last, "rate_sd"), JsonValue(last, "beat_error_ms"),
                JsonValue(last, "amplitude_deg")};
    }
};

// Rate within 0.3 s/d, beat error within 0.1 ms, amplitude within 3 % of `reference`.
bool MeasuresLike(const LastReading& r, const LastReading& reference) {
    return std::fabs(r.Rate - reference.Rate) <= 0.3 &&
           std::fabs(std::fabs(r.BeatError) - std::fabs(reference.BeatError)) <= 0.1 &&
           std::fabs(r.Amplitude - reference.Amplitude) <= 0.03 * reference.Amplitude;
}

TEST_F(AgcRecording, QuietAndClippingRecordingsMeasureLikeAWellLevelledOne) {
    const LastReading reference = Analyze(Record("levelled.wav", 0.5), false);
    ASSERT_NEAR(reference.Rate, 5.0, 0.3);
    ASSERT_NEAR(std::fabs(reference.BeatError), 0.5, 0.1); // its sign names a pallet
    ASSERT_NEAR(reference.Amplitude, 280, 0.03 * 280);

    for (const double peak : {0.05, 1.6}) {
        const fs::path file = Record("at" + std::to_string(peak) + ".wav", peak);
        const LastReading r = Analyze(file, true);
        EXPECT_TRUE(MeasuresLike(r, reference))
            << "peak " << peak << ": " << r.Rate << " s/d " << r.BeatError << " ms " << r.Amplitude;
        EXPECT_FALSE(MeasuresLike(Analyze(file, false), reference))
            << "peak " << peak << " should need the automatic level control";
    }
}

// A quiet laptop microphone: the loudest click at 2.5 % of full scale, noise 26 dB below it. Aimed
// at the loudest sound, the gain lifted the noise over the threshold and the noise was measured as
// ticks.
TEST_F(AgcRecording, QuietNoisyRecordingKeepsItsRate) {
    constexpr double LoudestClick = 0.025;
    constexpr double NoiseBelowLoudestDb = 26.0;
    // The loudest click is the drop, DropGain times the unlock click the noise is measured by.
    const double noise =
        synth::SynthOptions{}.DropGain / std::pow(10.0, NoiseBelowLoudestDb / 20.0); // about 0.1
    const LastReading r = Analyze(Record("noisy.wav", LoudestClick, noise), true);
    EXPECT_NEAR(r.Rate, 5.0, 0.5);
}

} // namespace
} // namespace kv
