// SPDX-License-Identifier: GPL-3.0-or-later
// Readings of synthetic recordings against their known truth, within the instrument's bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "TickSynthesizer.h"
#include "cli/AnalyzeSession.h"

namespace kv {
namespace {

struct AccuracyCase {
    double Vph;
    unsigned SampleRate;
    double RateSd;
    double BeatErrorMs;
    double Amplitude;
    double Noise;
    double ThresholdPercent;
    bool CommandLineDefault = false; // the analyser's default mode, else the window's start-up one
};

void PrintTo(const AccuracyCase& c, std::ostream* os) {
    *os << c.Vph << " vph " << c.SampleRate << " Hz rate " << c.RateSd << " BE " << c.BeatErrorMs
        << " amp " << c.Amplitude << " noise " << c.Noise
        << (c.CommandLineDefault ? " default mode" : " standard mode");
}

class Accuracy : public ::testing::TestWithParam<AccuracyCase> {};

TEST_P(Accuracy, LastReadingOfOneMinuteWithinBounds) {
    const AccuracyCase& c = GetParam();
    synth::SynthOptions o;
    o.BeatsPerHour = c.Vph;
    o.SampleRate = c.SampleRate;
    o.RateSecondsPerDay = c.RateSd;
    o.BeatErrorMs = c.BeatErrorMs;
    o.AmplitudeDeg = c.Amplitude;
    o.LiftAngleDeg = 52;
    o.NoiseFraction = c.Noise;
    o.Seconds = 60;
    o.Seed = 77;
    const synth::SynthResult s = synth::Synthesize(o);

    AnalyzeOptions a = c.CommandLineDefault ? CommandLineDefaults() : AnalyzeOptions{};
    a.Train = std::to_string(static_cast<int>(c.Vph));
    a.ThresholdPercent = c.ThresholdPercent;
    AnalyzeSession session(a);
    Reading last;
    session.Run(s.Samples, c.SampleRate, [&](const Reading& r) { last = r; });

    ASSERT_TRUE(last.RateSecondsPerDay);
    ASSERT_TRUE(last.BeatErrorMs);
    ASSERT_TRUE(last.AmplitudeDegrees);
    EXPECT_TRUE(last.RateWindowFull);
    EXPECT_NEAR(*last.RateSecondsPerDay, c.RateSd, c.SampleRate < 46000 ? 0.3 : 0.15);
    EXPECT_NEAR(last.AccumulatedRateSecondsPerDay.value_or(NAN), c.RateSd, 0.05);
    EXPECT_NEAR(std::fabs(*last.BeatErrorMs), c.BeatErrorMs, c.SampleRate > 72000 ? 0.05 : 0.07);
    EXPECT_NEAR(*last.AmplitudeDegrees, c.Amplitude, 0.03 * c.Amplitude);
    EXPECT_GT(last.SignalNoiseDb.value_or(NAN), c.Noise > 0.02 ? 10.0 : 20.0);
}

std::vector<AccuracyCase> Watches(bool commandLineDefault) {
    std::vector<AccuracyCase> cases = {
        {18000, 48000, 0, 0, 300, 0.01, 5},      {21600, 44100, -30, 0.8, 200, 0.01, 5},
        {28800, 96000, 5, 0.8, 300, 0.01, 5},    {36000, 48000, 5, 0, 200, 0.01, 5},
        {28800, 48000, -30, 0.8, 200, 0.05, 15}, {18000, 96000, 5, 0, 300, 0.05, 15}};
    for (AccuracyCase& c : cases)
        c.CommandLineDefault = commandLineDefault;
    return cases;
}

INSTANTIATE_TEST_SUITE_P(LeverWatches, Accuracy, ::testing::ValuesIn(Watches(false)));
INSTANTIATE_TEST_SUITE_P(DefaultMode, Accuracy, ::testing::ValuesIn(Watches(true)));

} // namespace
} // namespace kv
