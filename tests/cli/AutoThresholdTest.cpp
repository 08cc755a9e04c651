// SPDX-License-Identifier: GPL-3.0-or-later
// The automatic threshold on noisy synthetic watches, with every other setting at its default.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "TickSynthesizer.h"
#include "cli/AnalyzeSession.h"

namespace kv {
namespace {

struct NoisyCase {
    double Vph;
    unsigned SampleRate;
    double SignalNoiseDb; // unlock click peak over noise RMS
    uint64_t Seed;
};

void PrintTo(const NoisyCase& c, std::ostream* os) {
    *os << c.Vph << " vph " << c.SampleRate << " Hz " << c.SignalNoiseDb << " dB seed " << c.Seed;
}

class AutoThresholdAccuracy : public ::testing::TestWithParam<NoisyCase> {};

TEST_P(AutoThresholdAccuracy, FindsTheBeatsAndNoNoise) {
    const NoisyCase& c = GetParam();
    synth::SynthOptions o;
    o.BeatsPerHour = c.Vph;
    o.SampleRate = c.SampleRate;
    o.RateSecondsPerDay = 6.0;
    o.BeatErrorMs = 0.6;
    o.NoiseFraction = std::pow(10.0, -c.SignalNoiseDb / 20.0);
    o.Seconds = 60;
    o.Seed = c.Seed;
    const synth::SynthResult s = synth::Synthesize(o);
    const double sounded = static_cast<double>(s.UnlockTimes.size());

    AnalyzeOptions a;
    a.Train = std::to_string(static_cast<int>(c.Vph));
    a.AutoThreshold = 1;
    AnalyzeSession session(a);
    Reading last;
    session.Run(s.Samples, c.SampleRate, [&](const Reading& r) { last = r; });

    EXPECT_GE(static_cast<double>(last.Ticks), 0.98 * sounded);
    EXPECT_LE(static_cast<double>(last.Ticks), sounded) << "noise taken as a tick";
    ASSERT_TRUE(last.RateSecondsPerDay && last.BeatErrorMs);
    EXPECT_TRUE(last.RateWindowFull);
    EXPECT_NEAR(*last.RateSecondsPerDay, 6.0, 0.3);
    EXPECT_NEAR(std::fabs(*last.BeatErrorMs), 0.6, 0.1);
    // The threshold in force (what the view's line shows) is the automatic one.
    const AnalysisCore& core = session.Core();
    EXPECT_NE(core.UnlockThresholdInForce(), core.Params.UnlockThreshold);
    EXPECT_NEAR(core.AutoLevels.NoiseRms() * 7.0, core.UnlockThresholdInForce(),
                0.5 * core.UnlockThresholdInForce());
}

INSTANTIATE_TEST_SUITE_P(
    NoisyLeverWatches, AutoThresholdAccuracy,
    ::testing::Values(NoisyCase{18000, 44100, 30, 1}, NoisyCase{28800, 48000, 30, 2},
                      NoisyCase{21600, 96000, 30, 3}, NoisyCase{18000, 96000, 26, 4},
                      NoisyCase{28800, 44100, 26, 5}, NoisyCase{36000, 48000, 26, 6}));

// Noise alone, loud or faint, never makes a tick.
TEST(AutoThreshold, NoiseAloneMakesNoTick) {
    for (const double rms : {30.0, 3000.0}) {
        std::mt19937 random(9);
        std::normal_distribution<double> gaussian(0.0, rms);
        std::vector<int16_t> samples(48000 * 20);
        for (int16_t& x : samples)
            x = static_cast<int16_t>(std::clamp(gaussian(random), -32767.0, 32767.0));
        AnalyzeOptions a;
        a.Train = "18000";
        a.AutoThreshold = 1;
        AnalyzeSession session(a);
        Reading last;
        session.Run(samples, 48000, [&](const Reading& r) { last = r; });
        EXPECT_EQ(last.Ticks, 0) << rms;
    }
}

// On by default on the command line; a fixed threshold given alone switches it off.
TEST(AutoThreshold, OnByDefaultOffWithAFixedThresholdOnTheCommandLine) {
    struct Case {
        std::vector<std::string> Args;
        int AutoThreshold;
    };
    for (const Case& c : {Case{{"x.wav"}, 1}, Case{{"--threshold", "10", "x.wav"}, 0},
                          Case{{"--threshold", "10", "--auto-threshold", "1", "x.wav"}, 1},
                          Case{{"--auto-threshold", "0", "x.wav"}, 0}}) {
        std::string error;
        const auto options = ParseAnalyzeArguments(c.Args, error);
        ASSERT_TRUE(options) << error;
        EXPECT_EQ(options->AutoThreshold, c.AutoThreshold) << c.Args[0] << " " << c.Args.size();
    }
    std::string error;
    EXPECT_FALSE(ParseAnalyzeArguments({"--auto-threshold", "yes", "x.wav"}, error));
}

} // namespace
} // namespace kv
