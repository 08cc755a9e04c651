// SPDX-License-Identifier: GPL-3.0-or-later
// Tests of the tick synthesizer: the timing truth it reports must be what it renders, and its
// clicks must suit the analyser (sharp, repeatable onsets that survive its high-pass).
#include "TickSynthesizer.h"

#include <gtest/gtest.h>

#include "support/SynthCommand.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

using kv::synth::LiftTimeFor;
using kv::synth::Movement;
using kv::synth::Synthesize;
using kv::synth::SynthOptions;
using kv::synth::SynthResult;

constexpr double kPi = std::numbers::pi;
constexpr double kFullScale = 32767.0;

SynthOptions Short(uint32_t sampleRate = 48000, double seconds = 3) {
    SynthOptions o;
    o.SampleRate = sampleRate;
    o.Seconds = seconds;
    return o;
}

int64_t OnsetSample(double t, uint32_t fs) {
    return static_cast<int64_t>(std::ceil(t * fs));
}

// Largest |sample| of one channel between two times.
double PeakBetween(const SynthResult& r, const SynthOptions& o, double from, double to,
                   int channel = 0) {
    const int64_t frames = static_cast<int64_t>(r.Samples.size()) / o.Channels;
    const int64_t a = std::max<int64_t>(0, OnsetSample(from, o.SampleRate));
    const int64_t b = std::min<int64_t>(frames, OnsetSample(to, o.SampleRate));
    double peak = 0;
    for (int64_t k = a; k < b; ++k)
        peak = std::max(peak, std::abs(static_cast<double>(r.Samples[k * o.Channels + channel])));
    return peak;
}

std::vector<double> Channel(const SynthResult& r, const SynthOptions& o, int channel) {
    std::vector<double> x;
    for (size_t i = channel; i < r.Samples.size(); i += o.Channels)
        x.push_back(r.Samples[i]);
    return x;
}

double Rms(const std::vector<double>& x, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += x[i] * x[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// The analyser's front end: 7th-order Butterworth high-pass with its corner at fs/9.6, fed
// with half the input.
std::vector<double> AnalyserHighPass(const std::vector<double>& x) {
    static constexpr double a[8] = {
        0,           4.065402744,   -7.4820821243, 7.9560271282, -5.2379012396,
        2.123750334, -0.4891895072, 0.0492409629};
    static constexpr double b[8] = {1, -7, 21, -35, 35, -21, 7, -1};
    std::vector<double> y(x.size(), 0.0);
    for (size_t n = 0; n < x.size(); ++n) {
        double v = 0;
        for (size_t k = 0; k < 8 && k <= n; ++k)
            v += b[k] * x[n - k] / 2 + (k > 0 ? a[k] * y[n - k] : 0.0);
        y[n] = v;
    }
    return y;
}

// First sample at or after `from` whose magnitude exceeds `level`; -1 if none before `to`.
int64_t FirstAbove(const std::vector<double>& y, int64_t from, int64_t to, double level) {
    for (int64_t k = std::max<int64_t>(from, 0); k < std::min<int64_t>(to, y.size()); ++k)
        if (std::abs(y[k]) > level) return k;
    return -1;
}

double MaxAbs(const std::vector<double>& y, int64_t from, int64_t to) {
    double m = 0;
    for (int64_t k = std::max<int64_t>(from, 0); k < std::min<int64_t>(to, y.size()); ++k)
        m = std::max(m, std::abs(y[k]));
    return m;
}

// ---------------------------------------------------------------------------------------------
// Timing truth

TEST(SynthTiming, UnlocksAreOneRateCorrectedPeriodApart) {
    for (double rate : {0.0, 12.5, -40.0}) {
        SynthOptions o = Short();
        o.RateSecondsPerDay = rate;
        const SynthResult r = Synthesize(o);
        const double period = 0.2 * (1 - rate / 86400);
        EXPECT_NEAR(r.BeatPeriod, period, 1e-15);
        ASSERT_EQ(r.UnlockTimes.size(), r.BeatIndices.size());
        ASSERT_GT(r.UnlockTimes.size(), 10u);
        for (size_t i = 1; i < r.UnlockTimes.size(); ++i) {
            EXPECT_EQ(r.BeatIndices[i], r.BeatIndices[i - 1] + 1);
            EXPECT_NEAR(r.UnlockTimes[i] - r.UnlockTimes[i - 1], period, 1e-12) << "beat " << i;
        }
    }
}

TEST(SynthTiming, BeatErrorAlternatesTheHalfPeriods) {
    SynthOptions o = Short();
    o.BeatsPerHour = 28800;
    o.RateSecondsPerDay = 6;
    o.BeatErrorMs = 0.7;
    const SynthResult r = Synthesize(o);
    const double period = 0.125 * (1 - 6.0 / 86400);
    ASSERT_GT(r.UnlockTimes.size(), 10u);
    for (size_t i = 1; i + 1 < r.UnlockTimes.size(); i += 2) {
        const double first = r.UnlockTimes[i] - r.UnlockTimes[i - 1];  // even -> odd
        const double second = r.UnlockTimes[i + 1] - r.UnlockTimes[i]; // odd -> even
        EXPECT_NEAR(first, period + 0.0007, 1e-12);
        EXPECT_NEAR(second, period - 0.0007, 1e-12);
        EXPECT_NEAR((first - second) / 2, 0.0007, 1e-12);
        EXPECT_NEAR(first + second, 2 * period, 1e-12);
    }
}

TEST(SynthTiming, LiftTimeFollowsTheAmplitudeFormula) {
    // 52 degrees lifted in 0.04 s of a 0.2 s beat is an amplitude of 52 / (2 sin(0.1 pi)).
    EXPECT_NEAR(LiftTimeFor(0.2, 52 / (2 * std::sin(0.1 * kPi)), 52), 0.04, 1e-12);
    // Half a beat: amplitude = lift / (2 sin(pi/4)).
    EXPECT_NEAR(LiftTimeFor(0.125, 52 / (2 * std::sin(kPi / 4)), 52), 0.0625, 1e-12);
    for (double amplitude : {120.0, 220.0, 270.0, 315.0}) {
        const double t = LiftTimeFor(0.2, amplitude, 49);
        EXPECT_NEAR(49 / (2 * std::sin(kPi * t / (2 * 0.2))), amplitude, 1e-9);
    }
    EXPECT_THROW(LiftTimeFor(0.2, 20, 52), std::invalid_argument);
    EXPECT_THROW(LiftTimeFor(0, 270, 52), std::invalid_argument);
    EXPECT_THROW(LiftTimeFor(0.2, 270, -1), std::invalid_argument);
    EXPECT_THROW(LiftTimeFor(0.2, std::nan(""), 52), std::invalid_argument);
}

TEST(SynthTiming, DropAndImpulseClicksSitAtTheLiftTime) {
    for (Movement kind : {Movement::Lever, Movement::Coaxial}) {
        SynthOptions o = Short();
        o.Kind = kind;
        o.RateSecondsPerDay = -8;
        o.AmplitudeDeg = 230;
        o.LiftAngleDeg = 48;
        const SynthResult r = Synthesize(o);
        const double lift = LiftTimeFor(r.BeatPeriod, 230, 48);
        EXPECT_NEAR(r.LiftTime, lift, 1e-15);
        ASSERT_EQ(r.DropTimes.size(), r.UnlockTimes.size());
        for (size_t i = 0; i < r.DropTimes.size(); ++i)
            EXPECT_NEAR(r.DropTimes[i] - r.UnlockTimes[i], lift, 1e-12);
        if (kind == Movement::Lever) {
            EXPECT_TRUE(r.ImpulseTimes.empty());
            continue;
        }
        ASSERT_EQ(r.ImpulseTimes.size(), r.UnlockTimes.size());
        for (size_t i = 0; i < r.ImpulseTimes.size(); ++i) {
            EXPECT_NEAR(r.ImpulseTimes[i] - r.UnlockTimes[i], lift / 2, 1e-12);
            // The impulse click is there, weaker than the drop.
            const double impulse = PeakBetween(r, o, r.ImpulseTimes[i], r.ImpulseTimes[i] + 2e-4);
            const double drop = PeakBetween(r, o, r.DropTimes[i], r.DropTimes[i] + 2e-4);
            EXPECT_GT(impulse, 0.5 * o.UnlockPeak * kFullScale);
            EXPECT_LT(impulse, 0.75 * drop);
        }
    }
}

TEST(SynthTiming, StartOffsetIsSeededOrAsGiven) {
    SynthOptions o = Short();
    for (uint64_t seed : {1u, 2u, 77u}) {
        o.Seed = seed;
        const SynthResult r = Synthesize(o);
        ASSERT_FALSE(r.UnlockTimes.empty());
        EXPECT_GE(r.UnlockTimes[0], 0.05);
        EXPECT_LT(r.UnlockTimes[0], 0.05 + 0.2);
    }
    o.Seed = 1;
    const double seed1 = Synthesize(o).UnlockTimes[0];
    o.Seed = 2;
    EXPECT_NE(Synthesize(o).UnlockTimes[0], seed1);
    o.StartOffset = 0.123456;
    const SynthResult r = Synthesize(o);
    EXPECT_DOUBLE_EQ(r.UnlockTimes[0], 0.123456);
    // Nothing sounds before the first unlock except noise.
    EXPECT_LT(PeakBetween(r, o, 0, 0.123456), 6 * o.NoiseFraction * o.UnlockPeak * kFullScale);
    // The last beat is complete: its drop starts inside the recording.
    EXPECT_LT(r.DropTimes.back(), o.Seconds);
    EXPECT_GE(r.UnlockTimes.back() + r.BeatPeriod + r.LiftTime, o.Seconds);
}

// ---------------------------------------------------------------------------------------------
// Missing beats

TEST(SynthMissing, ListedBeatsAreAbsentAndSilent) {
    SynthOptions o = Short();
    o.MissingBeats = {9, 3, 4};
    const SynthResult r = Synthesize(o);
    const SynthResult full = Synthesize(Short());
    ASSERT_EQ(r.UnlockTimes.size() + 3, full.UnlockTimes.size());
    const double noise = o.NoiseFraction * o.UnlockPeak * kFullScale;
    for (size_t i = 0; i < full.UnlockTimes.size(); ++i) {
        const int64_t beat = full.BeatIndices[i];
        const bool missing = beat == 3 || beat == 4 || beat == 9;
        const bool listed =
            std::find(r.BeatIndices.begin(), r.BeatIndices.end(), beat) != r.BeatIndices.end();
        EXPECT_NE(missing, listed) << "beat " << beat;
        const double t = full.UnlockTimes[i];
        const double peak = PeakBetween(r, o, t - 1e-3, t + full.LiftTime + 4e-3);
        if (missing)
            EXPECT_LT(peak, 6 * noise) << "beat " << beat;
        else
            EXPECT_GT(peak, o.DropGain * o.UnlockPeak * kFullScale * 0.7) << "beat " << beat;
    }
}

TEST(SynthMissing, ProbabilityLeavesAboutThatShareSilent) {
    SynthOptions o = Short(8000, 120); // 600 beats
    o.MissingProbability = 0.3;
    const SynthResult r = Synthesize(o);
    const auto missing = 600 - static_cast<int64_t>(r.UnlockTimes.size());
    EXPECT_GT(missing, 130);
    EXPECT_LT(missing, 230);
    EXPECT_TRUE(std::is_sorted(r.BeatIndices.begin(), r.BeatIndices.end()));
    // Every reported unlock still sits on the beat grid.
    for (size_t i = 0; i < r.UnlockTimes.size(); ++i)
        EXPECT_NEAR(r.UnlockTimes[i] - r.UnlockTimes[0],
                    (r.BeatIndices[i] - r.BeatIndices[0]) * r.BeatPeriod, 1e-9);
    o.MissingProbability = 1;
    EXPECT_TRUE(Synthesize(o).UnlockTimes.empty());
}

// ---------------------------------------------------------------------------------------------
// Click shape

class SynthClickShape : public ::testing::TestWithParam<uint32_t> {};

// A first difference is a crude high-pass: its rectified output must pass 20 % of the click's
// peak within 3 samples of the true onset, for unlock and drop clicks alike.
TEST_P(SynthClickShape, OnsetIsSharpAfterAFirstDifference) {
    SynthOptions o = Short(GetParam(), 2);
    o.NoiseFraction = 0;
    o.RateSecondsPerDay = 3.3; // walks the onsets across sub-sample phases
    const SynthResult r = Synthesize(o);
    const std::vector<double> x = Channel(r, o, 0);
    std::vector<double> d(x.size(), 0.0);
    for (size_t k = 1; k < x.size(); ++k)
        d[k] = x[k] - x[k - 1];
    const int64_t halfMs = o.SampleRate / 2000;
    std::vector<double> onsets = r.UnlockTimes;
    onsets.insert(onsets.end(), r.DropTimes.begin(), r.DropTimes.end());
    for (double onset : onsets) {
        const int64_t k0 = OnsetSample(onset, o.SampleRate);
        const double peak = MaxAbs(d, k0, k0 + 6 * halfMs);
        const int64_t first = FirstAbove(d, k0 - halfMs, k0 + 6 * halfMs, 0.2 * peak);
        EXPECT_GE(first, k0) << "onset " << onset;
        EXPECT_LE(first, k0 + 3) << "onset " << onset;
        // Near its peak within 0.05 ms.
        const int64_t soon = k0 + OnsetSample(5e-5, o.SampleRate) + 1;
        EXPECT_GE(MaxAbs(d, k0, soon), 0.6 * peak) << "onset " << onset;
    }
}

// Through the analyser's own high-pass, the unlock crosses the default threshold (5 % of full
// scale) on the first sample after the onset, whatever the onset's sub-sample phase; the drop
// click rises through 1/8 of its filtered peak there too, and passes half its peak on a rising
// pair of samples right after.
// The lever rule scans back from the envelope's maximum while the envelope stays above 1/8 of
// it: it must get back to within a few samples of the onset without two quiet samples in a row.
void ExpectNoQuietPairBeforePeak(const std::vector<double>& y, int64_t drop, int64_t ms,
                                 size_t beat) {
    const double peak = MaxAbs(y, drop, drop + ms);
    const int64_t top =
        std::find_if(y.begin() + drop, y.end(), [&](double v) { return std::abs(v) == peak; }) -
        y.begin();
    for (int64_t k = top; k > drop + 5; --k)
        EXPECT_FALSE(std::abs(y[k]) < peak / 8 && std::abs(y[k - 1]) < peak / 8)
            << "beat " << beat << " sample " << k - drop;
}

TEST_P(SynthClickShape, AnalyserHighPassSeesTheOnsetWithinTwoSamples) {
    SynthOptions o = Short(GetParam(), 4);
    o.RateSecondsPerDay = 7.1;
    o.BeatErrorMs = 0.3;
    const SynthResult r = Synthesize(o);
    const std::vector<double> y = AnalyserHighPass(Channel(r, o, 0));
    const int64_t ms = o.SampleRate / 1000;
    for (size_t i = 0; i < r.UnlockTimes.size(); ++i) {
        const int64_t unlock = OnsetSample(r.UnlockTimes[i], o.SampleRate);
        // The first sample after the onset carries the faint precursor of the impact, the second
        // the main step: a 5 % and a 15 % threshold are both crossed within those two samples.
        for (double level : {1638.0, 0.15 * kFullScale}) {
            const int64_t first = FirstAbove(y, unlock - ms, unlock + ms, level);
            EXPECT_TRUE(first == unlock || first == unlock + 1) << "beat " << i << " " << level;
        }
        const int64_t drop = OnsetSample(r.DropTimes[i], o.SampleRate);
        const double peak = MaxAbs(y, drop, drop + ms);
        const int64_t rise = FirstAbove(y, drop - ms / 2, drop + ms, peak / 8);
        EXPECT_TRUE(rise == drop || rise == drop + 1) << "beat " << i;
        ExpectNoQuietPairBeforePeak(y, drop, ms, i);
    }
}

TEST_P(SynthClickShape, CoaxialDropRisesThroughHalfOnARisingPair) {
    SynthOptions o = Short(GetParam(), 4);
    o.Kind = Movement::Coaxial;
    const SynthResult r = Synthesize(o);
    const std::vector<double> y = AnalyserHighPass(Channel(r, o, 0));
    const int64_t ms = o.SampleRate / 1000;
    for (size_t i = 0; i < r.DropTimes.size(); ++i) {
        const int64_t drop = OnsetSample(r.DropTimes[i], o.SampleRate);
        const double peak = MaxAbs(y, drop, drop + ms);
        EXPECT_GE(MaxAbs(y, drop, drop + 8), 0.8 * peak) << "beat " << i;
        EXPECT_EQ(FirstAbove(y, drop - ms / 2, drop + ms, peak / 8), drop) << "beat " << i;
        bool risingPair = false;
        for (int64_t j = drop + 1; j < drop + 6; ++j)
            risingPair = risingPair ||
                         (std::abs(y[j - 1]) >= peak / 2 && std::abs(y[j]) >= std::abs(y[j - 1]));
        EXPECT_TRUE(risingPair) << "beat " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(SampleRates, SynthClickShape, ::testing::Values(44100u, 48000u, 96000u));

TEST(SynthClicks, DropIsAboutTwiceAsLoudAsTheUnlock) {
    SynthOptions o = Short(96000);
    o.NoiseFraction = 0;
    const SynthResult r = Synthesize(o);
    for (size_t i = 0; i < r.UnlockTimes.size(); ++i) {
        const double unlock = PeakBetween(r, o, r.UnlockTimes[i], r.UnlockTimes[i] + 3e-3);
        const double drop = PeakBetween(r, o, r.DropTimes[i], r.DropTimes[i] + 3e-3);
        // Sampled peaks lie a little below the continuous peak of 0.25 and 0.5 of full scale.
        EXPECT_GT(unlock, 0.65 * 0.25 * kFullScale);
        EXPECT_LT(unlock, 1.04 * 0.25 * kFullScale);
        EXPECT_NEAR(drop / unlock, 2.0, 0.5);
    }
}

TEST(SynthClicks, OnsetsKeepTheirSubSamplePhase) {
    SynthOptions o = Short(48000, 1);
    o.NoiseFraction = 0;
    o.Variation = 0;
    auto render = [&](double samplesAfter) {
        o.StartOffset = 0.1 + samplesAfter / 48000;
        return Channel(Synthesize(o), o, 0);
    };
    const std::vector<double> a = render(0.25);
    const std::vector<double> later = render(1.25);
    const std::vector<double> between = render(0.75);
    // A whole sample later: the same samples, one place on (up to rounding).
    double shifted = 0;
    for (size_t k = 0; k + 1 < a.size(); ++k)
        shifted = std::max(shifted, std::abs(later[k + 1] - a[k]));
    EXPECT_LE(shifted, 1);
    // Half a sample later: different samples, not the same ones rounded to the grid.
    int differing = 0;
    for (size_t k = 0; k < a.size(); ++k)
        differing += std::abs(between[k] - a[k]) > 50;
    EXPECT_GT(differing, 100);
}

TEST(SynthClicks, EachPalletRepeatsItsOwnSound) {
    // 0.2 s beats are a whole number of samples: every click of a pallet starts at the same
    // sub-sample phase, so without variation its samples repeat exactly.
    SynthOptions o = Short(48000, 2);
    o.NoiseFraction = 0;
    o.Variation = 0;
    const SynthResult r = Synthesize(o);
    const std::vector<double> x = Channel(r, o, 0);
    auto click = [&](size_t beat) {
        const int64_t k0 = OnsetSample(r.UnlockTimes[beat], o.SampleRate);
        return std::vector<double>(x.begin() + k0, x.begin() + k0 + 100);
    };
    EXPECT_EQ(click(0), click(2));
    EXPECT_EQ(click(0), click(6));
    EXPECT_EQ(click(1), click(5));
    EXPECT_NE(click(0), click(1));

    // With the default variation, ticks of one pallet differ a little, level within +-3 %.
    o.Variation = 0.03;
    const SynthResult v = Synthesize(o);
    std::vector<double> peaks;
    for (size_t i = 0; i < v.UnlockTimes.size(); i += 2)
        peaks.push_back(PeakBetween(v, o, v.UnlockTimes[i], v.UnlockTimes[i] + 3e-3));
    const auto [lo, hi] = std::minmax_element(peaks.begin(), peaks.end());
    EXPECT_GT(*hi / *lo, 1.002);
    EXPECT_LT(*hi / *lo, 1.08);
}

// ---------------------------------------------------------------------------------------------
// Noise, determinism, layout, levels

TEST(SynthNoise, RmsIsTheRequestedFractionOfTheUnlockPeak) {
    for (auto [fraction, peak] : {std::pair{0.01, 0.25}, std::pair{0.05, 0.1}}) {
        SynthOptions o = Short(48000, 2);
        o.MissingProbability = 1; // noise only
        o.NoiseFraction = fraction;
        o.UnlockPeak = peak;
        const std::vector<double> x = Channel(Synthesize(o), o, 0);
        const double expected = fraction * peak * kFullScale;
        EXPECT_NEAR(Rms(x, 0, x.size()), expected, 0.02 * expected);
        double mean = 0;
        for (double v : x)
            mean += v / static_cast<double>(x.size());
        EXPECT_NEAR(mean, 0, 0.02 * expected);
    }
}

TEST(SynthDeterminism, TheSeedFixesTheRecording) {
    SynthOptions o = Short(44100, 2);
    o.Kind = Movement::Coaxial;
    o.MissingProbability = 0.1;
    const SynthResult a = Synthesize(o);
    const SynthResult b = Synthesize(o);
    EXPECT_EQ(a.Samples, b.Samples);
    EXPECT_EQ(a.UnlockTimes, b.UnlockTimes);
    EXPECT_EQ(a.BeatIndices, b.BeatIndices);
    o.Seed = 2;
    const SynthResult c = Synthesize(o);
    EXPECT_NE(a.Samples, c.Samples);
    EXPECT_NE(a.UnlockTimes.front(), c.UnlockTimes.front());
}

TEST(SynthLayout, StereoCarriesTheWatchOnEveryChannelWithItsOwnNoise) {
    SynthOptions o = Short(48000, 2);
    o.Channels = 2;
    const SynthResult r = Synthesize(o);
    ASSERT_EQ(r.Samples.size(), 2u * 96000u);
    const std::vector<double> left = Channel(r, o, 0);
    const std::vector<double> right = Channel(r, o, 1);
    const double noise = o.NoiseFraction * o.UnlockPeak * kFullScale;
    for (double t : r.DropTimes) {
        const int64_t k = OnsetSample(t, o.SampleRate) + 1;
        EXPECT_GT(std::abs(left[k]), 0.3 * o.DropGain * o.UnlockPeak * kFullScale);
        EXPECT_LT(std::abs(left[k] - right[k]), 8 * noise);
    }
    // Before the first tick there is only noise, independent between the channels.
    const auto quiet = static_cast<size_t>(OnsetSample(r.UnlockTimes[0], o.SampleRate));
    ASSERT_GT(quiet, 2000u);
    double cross = 0;
    for (size_t i = 0; i < quiet; ++i)
        cross += left[i] * right[i] / static_cast<double>(quiet);
    const double l = Rms(left, 0, quiet), rr = Rms(right, 0, quiet);
    EXPECT_NEAR(l, noise, 0.1 * noise);
    EXPECT_NEAR(rr, noise, 0.1 * noise);
    EXPECT_LT(std::abs(cross / (l * rr)), 0.1);
}

TEST(SynthLevels, LoudClicksStayInsideTheSixteenBitRange) {
    SynthOptions o = Short(96000, 2);
    o.UnlockPeak = 0.3;
    o.DropGain = 3.1;
    o.NoiseFraction = 0.02;
    const SynthResult r = Synthesize(o);
    EXPECT_EQ(r.ClippedSamples, 0u);
    const auto [lo, hi] = std::minmax_element(r.Samples.begin(), r.Samples.end());
    const double loudest = std::max(-static_cast<double>(*lo), static_cast<double>(*hi));
    EXPECT_GT(loudest, 0.75 * 0.93 * kFullScale);
    EXPECT_LT(loudest, kFullScale);
    EXPECT_GT(*lo, -32768);

    o.UnlockPeak = 0.5;
    o.DropGain = 2;
    EXPECT_NE(kv::synth::ValidateOptions(o).find("full scale"), std::string::npos);
    EXPECT_THROW(Synthesize(o), std::invalid_argument);
}

// ---------------------------------------------------------------------------------------------
// Other movements

TEST(SynthFork, FrequencyFollowsTheRate) {
    SynthOptions o = Short(48000, 10);
    o.Kind = Movement::TuningFork;
    o.ForkHz = 360;
    o.RateSecondsPerDay = 20;
    const SynthResult r = Synthesize(o);
    const double hz = 360 * (1 + 20.0 / 86400);
    EXPECT_NEAR(r.BeatPeriod, 1 / hz, 1e-15);
    EXPECT_TRUE(r.DropTimes.empty());
    const std::vector<double> x = Channel(r, o, 0);
    // Upward zero crossings (armed well below zero, so noise cannot double them), interpolated,
    // against the reported times.
    std::vector<double> crossings;
    bool armed = false;
    for (size_t k = 1; k < x.size(); ++k) {
        armed = armed || x[k] < -0.3 * o.UnlockPeak * kFullScale;
        if (armed && x[k - 1] < 0 && x[k] >= 0) {
            crossings.push_back((static_cast<double>(k) - x[k] / (x[k] - x[k - 1])) / 48000);
            armed = false;
        }
    }
    ASSERT_EQ(crossings.size(), r.UnlockTimes.size());
    for (size_t i = 0; i < crossings.size(); ++i)
        ASSERT_NEAR(crossings[i], r.UnlockTimes[i], 2e-5);
    // Least-squares period over all crossings.
    const double n = static_cast<double>(crossings.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < crossings.size(); ++i) {
        const double xi = static_cast<double>(i);
        sx += xi;
        sy += crossings[i];
        sxx += xi * xi;
        sxy += xi * crossings[i];
    }
    const double measured = (n * sxx - sx * sx) / (n * sxy - sx * sy);
    EXPECT_NEAR(measured / hz - 1, 0, 2e-7);
    EXPECT_NEAR(Rms(x, 0, x.size()), o.UnlockPeak * kFullScale / std::sqrt(2.0), 100);
}

TEST(SynthPendulum, BeatsOnceASecondWithAnOptionalSecondClick) {
    SynthOptions o = kv::synth::DefaultOptions(Movement::Pendulum);
    o.Seconds = 6;
    o.BeatErrorMs = 2;
    const SynthResult plain = Synthesize(o);
    EXPECT_DOUBLE_EQ(plain.BeatPeriod, 1.0);
    EXPECT_EQ(plain.LiftTime, 0);
    EXPECT_TRUE(plain.DropTimes.empty());
    ASSERT_GE(plain.UnlockTimes.size(), 5u);
    for (size_t i = 1; i < plain.UnlockTimes.size(); ++i)
        EXPECT_NEAR(plain.UnlockTimes[i] - plain.UnlockTimes[i - 1], i % 2 ? 1.002 : 0.998, 1e-12);
    o.SecondClick = true;
    const SynthResult second = Synthesize(o);
    EXPECT_EQ(second.UnlockTimes, plain.UnlockTimes);
    const double noise = o.NoiseFraction * o.UnlockPeak * kFullScale;
    for (double t : plain.UnlockTimes) {
        const double window = t + o.SecondClickDelay;
        EXPECT_LT(PeakBetween(plain, o, window, window + 1e-3), 6 * noise);
        const double level = PeakBetween(second, o, window, window + 1e-3);
        EXPECT_GT(level, 0.6 * o.SecondClickGain * o.UnlockPeak * kFullScale);
        EXPECT_LT(level, PeakBetween(second, o, t, t + 1e-3));
    }
}

// ---------------------------------------------------------------------------------------------
// Bad options

TEST(SynthOptionsCheck, BadOptionsAreRefusedWithAReason) {
    struct Case {
        void (*Change)(SynthOptions&);
        const char* Reason;
    };
    const Case cases[] = {
        {[](SynthOptions& o) { o.SampleRate = 0; }, "sample rate"},
        {[](SynthOptions& o) { o.Seconds = -1; }, "seconds"},
        {[](SynthOptions& o) { o.Seconds = std::nan(""); }, "seconds"},
        {[](SynthOptions& o) { o.Channels = 0; }, "channels"},
        {[](SynthOptions& o) { o.RateSecondsPerDay = INFINITY; }, "rate"},
        {[](SynthOptions& o) { o.AmplitudeDeg = 20; }, "amplitude"},
        {[](SynthOptions& o) { o.LiftAngleDeg = 0; }, "lift angle"},
        {[](SynthOptions& o) { o.BeatsPerHour = 0; }, "beats per hour"},
        {[](SynthOptions& o) { o.BeatErrorMs = 190; }, "fit"},
        {[](SynthOptions& o) { o.Variation = 0.5; }, "variation"},
        {[](SynthOptions& o) { o.MissingProbability = 1.5; }, "missing probability"},
        {[](SynthOptions& o) { o.NoiseFraction = -0.1; }, "noise"},
        {[](SynthOptions& o) { o.UnlockPeak = 0; }, "unlock peak"},
        {[](SynthOptions& o) { o.StartOffset = NAN; }, "start offset"},
        {[](SynthOptions& o) {
             o.SampleRate = 96000;
             o.Seconds = 3000;
             o.Channels = 2;
         },
         "too long"},
        {[](SynthOptions& o) {
             o.Kind = Movement::TuningFork;
             o.ForkHz = 30000;
         },
         "fork frequency"},
    };
    for (const Case& c : cases) {
        SynthOptions o = Short();
        ASSERT_EQ(kv::synth::ValidateOptions(o), "");
        c.Change(o);
        const std::string reason = kv::synth::ValidateOptions(o);
        EXPECT_NE(reason.find(c.Reason), std::string::npos) << c.Reason << ": " << reason;
        EXPECT_THROW(Synthesize(o), std::invalid_argument) << c.Reason;
    }
}

TEST(SynthOptionsCheck, MovementNamesAndDefaults) {
    EXPECT_EQ(kv::synth::ParseMovement("lever"), Movement::Lever);
    EXPECT_EQ(kv::synth::ParseMovement("coaxial"), Movement::Coaxial);
    EXPECT_EQ(kv::synth::ParseMovement("pendulum"), Movement::Pendulum);
    EXPECT_EQ(kv::synth::ParseMovement("fork"), Movement::TuningFork);
    EXPECT_FALSE(kv::synth::ParseMovement("Lever").has_value());
    EXPECT_FALSE(kv::synth::ParseMovement("").has_value());
    EXPECT_EQ(kv::synth::DefaultOptions(Movement::Pendulum).BeatsPerHour, 3600);
    EXPECT_EQ(kv::synth::DefaultOptions(Movement::Lever).BeatsPerHour, 18000);
}

// ---------------------------------------------------------------------------------------------
// The kestrovane-synth command

#ifdef KV_SYNTH_EXE

double JsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return std::numeric_limits<double>::quiet_NaN();
    return std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

TEST_F(SynthCommand, WritesTheRecordingAndPrintsTheTruth) {
    const std::string wav = Dir_ + "/coax.wav";
    ASSERT_EQ(Run("--movement coaxial --vph 21600 --rate 4.5 --beat-error 0.4 --amplitude 250 "
                  "--lift 50 --rate-hz 8000 --seconds 2 --noise 0.02 --unlock-peak 0.2 "
                  "--missing 2,5 --channels 2 --seed 9 " +
                  wav),
              0)
        << Read("err.txt");
    SynthOptions o;
    o.Kind = Movement::Coaxial;
    o.BeatsPerHour = 21600;
    o.RateSecondsPerDay = 4.5;
    o.BeatErrorMs = 0.4;
    o.AmplitudeDeg = 250;
    o.LiftAngleDeg = 50;
    o.SampleRate = 8000;
    o.Seconds = 2;
    o.NoiseFraction = 0.02;
    o.UnlockPeak = 0.2;
    o.MissingBeats = {2, 5};
    o.Channels = 2;
    o.Seed = 9;
    const SynthResult r = Synthesize(o);
    const std::string json = Read("out.txt");
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 1);
    EXPECT_NEAR(JsonNumber(json, "beat_period"), r.BeatPeriod, 1e-13);
    EXPECT_NEAR(JsonNumber(json, "lift_time"), r.LiftTime, 1e-13);
    EXPECT_EQ(JsonNumber(json, "rate_sd"), 4.5);
    EXPECT_EQ(JsonNumber(json, "beat_error_ms"), 0.4);
    EXPECT_EQ(JsonNumber(json, "amplitude_deg"), 250);
    EXPECT_EQ(JsonNumber(json, "ticks"), static_cast<double>(r.UnlockTimes.size()));

    const std::string file = Read("coax.wav");
    ASSERT_EQ(file.size(), 44 + 2 * r.Samples.size());
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    std::vector<int16_t> samples(r.Samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(file[44 + 2 * i]) |
                                          (static_cast<uint8_t>(file[45 + 2 * i]) << 8));
    EXPECT_EQ(samples, r.Samples);

    // Never overwrites.
    EXPECT_EQ(Run("--seconds 1 " + wav), 1);
    EXPECT_NE(Read("err.txt").find("coax.wav"), std::string::npos);
    EXPECT_EQ(Read("coax.wav"), file);
}

TEST_F(SynthCommand, PendulumDefaultsToOneBeatASecond) {
    ASSERT_EQ(Run("--movement pendulum --rate-hz 8000 --seconds 3 " + Dir_ + "/p.wav"), 0);
    EXPECT_EQ(JsonNumber(Read("out.txt"), "beat_period"), 1.0);
    ASSERT_EQ(Run("--movement fork --fork-hz 300 --rate-hz 8000 --seconds 1 " + Dir_ + "/f.wav"),
              0);
    EXPECT_NEAR(JsonNumber(Read("out.txt"), "beat_period"), 1.0 / 300, 1e-15);
}

TEST_F(SynthCommand, BadArgumentsGiveOneUsageLineAndExitTwo) {
    const std::string wav = " " + Dir_ + "/x.wav";
    for (const std::string& arguments :
         {std::string(""), "--vph abc" + wav, "--vph" + wav, "--movement clock" + wav,
          "--frobnicate 3" + wav, "--amplitude 20" + wav, "--channels -1" + wav,
          "--rate-hz 0" + wav, "--missing 1,,2" + wav, wav + wav}) {
        EXPECT_EQ(Run(arguments), 2) << arguments;
        const std::string err = Read("err.txt");
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << arguments;
        EXPECT_NE(err.find("usage: kestrovane-synth"), std::string::npos) << arguments;
        EXPECT_EQ(Read("out.txt"), "") << arguments;
    }
    EXPECT_FALSE(std::filesystem::exists(Dir_ + "/x.wav"));
}

#endif // KV_SYNTH_EXE

} // namespace
