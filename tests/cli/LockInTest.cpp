// SPDX-License-Identifier: GPL-3.0-or-later
// What the analyser reports around the watch's own ticks: junk heard while it locks in stays out of
// the accumulated rate, and readings that do not exist yet or are no longer current are missing
// rather than zero or stale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <vector>

#include "TickSynthesizer.h"
#include "cli/AnalyzeSession.h"

namespace kv {
namespace {

constexpr unsigned SampleRate = 48000;
constexpr double Vph = 21600;
constexpr double TruthSd = 5.0;

std::vector<int16_t> Watch(double seconds, double beatErrorMs) {
    synth::SynthOptions o;
    o.BeatsPerHour = Vph;
    o.SampleRate = SampleRate;
    o.RateSecondsPerDay = TruthSd;
    o.BeatErrorMs = beatErrorMs;
    o.AmplitudeDeg = 260;
    o.Seconds = seconds;
    o.Seed = 11;
    return synth::Synthesize(o).Samples;
}

// Handling knocks: loud, clipping thumps ringing from a few hundred Hz to a few kHz, at times
// unrelated to the beat.
std::vector<int16_t> Knocks(double seconds) {
    std::vector<int16_t> out(static_cast<size_t>(seconds * SampleRate), 0);
    const double starts[] = {0.05, 0.31, 0.47, 0.83, 1.02, 1.17};
    const double hz[] = {180.0, 2400.0, 700.0, 3100.0, 450.0, 1500.0};
    for (size_t k = 0; k < std::size(starts); ++k) {
        const size_t first = static_cast<size_t>(starts[k] * SampleRate);
        for (size_t i = first; i < out.size(); ++i) {
            const double t = static_cast<double>(i - first) / SampleRate;
            const double v =
                out[i] + 60000.0 * std::exp(-t / 0.02) * std::sin(2 * M_PI * hz[k] * t);
            out[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
        }
    }
    return out;
}

// Readings every `every` seconds of audio.
std::vector<Reading> Measure(const std::vector<int16_t>& samples, bool defaultMode,
                             double every = 1.0) {
    AnalyzeOptions a = defaultMode ? CommandLineDefaults() : AnalyzeOptions{};
    a.Train = "21600";
    a.Every = every;
    AnalyzeSession session(a);
    std::vector<Reading> readings;
    session.Run(samples, SampleRate, [&](const Reading& r) { readings.push_back(r); });
    return readings;
}

struct ModeCase {
    const char* Name;
    bool DefaultMode;
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.Name;
}

class LockIn : public ::testing::TestWithParam<ModeCase> {};

// Knocks for 1.3 s while the watch already ticks: the accumulated rate is that of the same
// recording started after them, not one pulled off by intervals timed on the knocks.
TEST_P(LockIn, JunkBeforeTheTicksLeavesTheAccumulatedRateAlone) {
    const std::vector<int16_t> watch = Watch(40.0, 0.6);
    const size_t junk = static_cast<size_t>(1.3 * SampleRate);
    std::vector<int16_t> knocked = watch;
    const std::vector<int16_t> knocks = Knocks(1.3);
    for (size_t i = 0; i < junk; ++i)
        knocked[i] = static_cast<int16_t>(std::clamp(knocked[i] + knocks[i], -32768, 32767));
    const std::vector<int16_t> clean(watch.begin() + static_cast<std::ptrdiff_t>(junk),
                                     watch.end());

    const Reading withJunk = Measure(knocked, GetParam().DefaultMode).back();
    const Reading without = Measure(clean, GetParam().DefaultMode).back();
    ASSERT_TRUE(withJunk.AccumulatedRateSecondsPerDay && without.AccumulatedRateSecondsPerDay);
    EXPECT_NEAR(*without.AccumulatedRateSecondsPerDay, TruthSd, 0.1);
    EXPECT_NEAR(*withJunk.AccumulatedRateSecondsPerDay, *without.AccumulatedRateSecondsPerDay, 0.1);
}

// Nothing is reported as measured before it is, and when the ticks stop the beat error goes
// with the rate and the amplitude instead of holding its last value.
TEST_P(LockIn, ReadingsExistOnlyWhileTheyAreMeasured) {
    std::vector<int16_t> samples = Watch(24.0, 0.6);
    std::fill(samples.begin() + 12 * SampleRate, samples.end(), int16_t{0});
    const std::vector<Reading> readings = Measure(samples, GetParam().DefaultMode, 0.25);
    ASSERT_GE(readings.size(), 80u);
    EXPECT_FALSE(readings.front().AccumulatedRateSecondsPerDay); // after 0.25 s: no interval yet
    EXPECT_FALSE(readings.front().RateSecondsPerDay);
    const Reading& ticking = readings[40]; // after 10 s
    EXPECT_TRUE(ticking.AccumulatedRateSecondsPerDay && ticking.RateSecondsPerDay &&
                ticking.BeatErrorMs && ticking.AmplitudeDegrees);
    const Reading& silent = readings.back();
    EXPECT_FALSE(silent.RateSecondsPerDay);
    EXPECT_FALSE(silent.BeatErrorMs);
    EXPECT_FALSE(silent.AmplitudeDegrees);
}

INSTANTIATE_TEST_SUITE_P(Modes, LockIn,
                         ::testing::Values(ModeCase{"Standard", false}, ModeCase{"Default", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace kv
