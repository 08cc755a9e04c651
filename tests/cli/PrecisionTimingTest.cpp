// SPDX-License-Identifier: GPL-3.0-or-later
// Precision timing: synthetic watches measured with and without it against their known truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "TickSynthesizer.h"
#include "cli/AnalyzeSession.h"

namespace kv {
namespace {

constexpr double SecondsPerDay = 86400.0;
// Precision timing measures from the first ticks after its templates are learnt, so the amplitude's
// smoothing, whose weight follows the measuring history's span, starts a few seconds later.
constexpr double AmplitudeSmoothingSlackDeg = 0.5;
constexpr int64_t LearningTicks = 32;
constexpr double BeatErrorBoundMs = 0.03;

struct WatchCase {
    double Vph;
    unsigned SampleRate;
    double RateSd;
    double BeatErrorMs;
    double Amplitude;
    uint64_t Seed;
};

void PrintTo(const WatchCase& c, std::ostream* os) {
    *os << c.Vph << " vph " << c.SampleRate << " Hz rate " << c.RateSd << " BE " << c.BeatErrorMs
        << " amp " << c.Amplitude << " seed " << c.Seed;
}

synth::SynthResult Record(const WatchCase& c) {
    synth::SynthOptions o;
    o.BeatsPerHour = c.Vph;
    o.SampleRate = c.SampleRate;
    o.RateSecondsPerDay = c.RateSd;
    o.BeatErrorMs = c.BeatErrorMs;
    o.AmplitudeDeg = c.Amplitude;
    o.Seconds = 60;
    o.Seed = c.Seed;
    return synth::Synthesize(o);
}

// Every reading of a run, one a second.
std::vector<Reading> Measure(const WatchCase& c, const synth::SynthResult& s, int precise) {
    AnalyzeOptions a;
    a.Train = std::to_string(static_cast<int>(c.Vph));
    a.Every = 1.0;
    a.Precise = precise;
    AnalyzeSession session(a);
    std::vector<Reading> readings;
    session.Run(s.Samples, c.SampleRate, [&](const Reading& r) { readings.push_back(r); });
    return readings;
}

// The worst rate of any full measuring window against the truth.
double WorstWindowError(const std::vector<Reading>& readings, double truth) {
    double worst = 0.0;
    int windows = 0;
    for (const Reading& r : readings) {
        if (!r.RateWindowFull || !r.RateSecondsPerDay) continue;
        worst = std::max(worst, std::fabs(*r.RateSecondsPerDay - truth));
        ++windows;
    }
    EXPECT_GT(windows, 40);
    return worst;
}

class PrecisionAccuracy : public ::testing::TestWithParam<WatchCase> {};

TEST_P(PrecisionAccuracy, RateWithinBoundsAndBeatErrorAndAmplitudeNoWorse) {
    const WatchCase& c = GetParam();
    const synth::SynthResult s = Record(c);
    // The rate the analyser defines: nominal over actual beat period.
    const double truth = (3600.0 / c.Vph / s.BeatPeriod - 1.0) * SecondsPerDay;
    const std::vector<Reading> standard = Measure(c, s, 0);
    const std::vector<Reading> precise = Measure(c, s, 1);
    ASSERT_FALSE(standard.empty());
    ASSERT_FALSE(precise.empty());

    const double windowBound = c.SampleRate > 72000 ? 0.03 : 0.06;
    EXPECT_LE(WorstWindowError(precise, truth), windowBound);
    EXPECT_NEAR(precise.back().AccumulatedRateSecondsPerDay.value_or(NAN), truth, 0.01);

    const Reading& p = precise.back();
    const Reading& q = standard.back();
    ASSERT_TRUE(p.BeatErrorMs && q.BeatErrorMs && p.AmplitudeDegrees && q.AmplitudeDegrees);
    // The beat error is timed from the clicks' onsets, not the threshold's sample: within the
    // instrument's bound at every sample rate.
    EXPECT_NEAR(std::fabs(*p.BeatErrorMs), c.BeatErrorMs, BeatErrorBoundMs);
    EXPECT_LE(std::fabs(*p.AmplitudeDegrees - c.Amplitude),
              std::fabs(*q.AmplitudeDegrees - c.Amplitude) + AmplitudeSmoothingSlackDeg);
    // Nearly every tick is refined once the templates are learnt from the first sixteen ticks of
    // each pallet.
    ASSERT_TRUE(p.RefinedTicks && p.FallbackTicks);
    EXPECT_LE(*p.FallbackTicks, LearningTicks + p.Ticks / 50);
    EXPECT_EQ(*p.RefinedTicks + *p.FallbackTicks, p.Ticks);
}

INSTANTIATE_TEST_SUITE_P(LeverWatches, PrecisionAccuracy,
                         ::testing::Values(WatchCase{18000, 44100, 14.0, 1.3, 310, 1},
                                           WatchCase{21600, 44100, -7.5, 0.4, 230, 2},
                                           WatchCase{28800, 48000, 3.2, 0.8, 290, 3},
                                           WatchCase{36000, 44100, 0.0, 0.0, 200, 4},
                                           WatchCase{28800, 96000, -7.5, 0.4, 290, 5},
                                           WatchCase{18000, 96000, 14.0, 1.3, 230, 6}));

// Precision timing moves tick times only: what the detector finds and the beat error it measures
// stay exactly as without it, the amplitude within its smoothing's start; the rate at 44.1 kHz
// gets closer.
TEST(PrecisionTiming, ChangesTickTimesOnly) {
    const WatchCase c{28800, 44100, 5.0, 0.6, 280, 11};
    const synth::SynthResult s = Record(c);
    const double truth = (3600.0 / c.Vph / s.BeatPeriod - 1.0) * SecondsPerDay;
    const std::vector<Reading> standard = Measure(c, s, 0);
    const std::vector<Reading> precise = Measure(c, s, 1);
    ASSERT_EQ(standard.size(), precise.size());
    for (size_t i = 0; i < standard.size(); ++i) {
        EXPECT_EQ(precise[i].Ticks, standard[i].Ticks);
        EXPECT_EQ(precise[i].BeatCount, standard[i].BeatCount);
        // The beat error comes from the ticks' onsets: the same within the bound.
        ASSERT_EQ(precise[i].BeatErrorMs.has_value(), standard[i].BeatErrorMs.has_value());
        if (precise[i].BeatErrorMs) {
            EXPECT_NEAR(*precise[i].BeatErrorMs, *standard[i].BeatErrorMs, BeatErrorBoundMs);
        }
        ASSERT_EQ(precise[i].AmplitudeDegrees.has_value(),
                  standard[i].AmplitudeDegrees.has_value());
        if (standard[i].AmplitudeDegrees) {
            EXPECT_NEAR(*precise[i].AmplitudeDegrees, *standard[i].AmplitudeDegrees,
                        AmplitudeSmoothingSlackDeg);
        }
        EXPECT_EQ(precise[i].SignalNoiseDb, standard[i].SignalNoiseDb);
    }
    EXPECT_FALSE(standard.back().RefinedTicks);
    EXPECT_LT(WorstWindowError(precise, truth), 0.5 * WorstWindowError(standard, truth));
}

// The tape's phases of a run, in samples, after the templates are learnt.
std::vector<double> TapePhases(const WatchCase& c, const synth::SynthResult& s, int precise) {
    AnalyzeOptions a;
    a.Train = std::to_string(static_cast<int>(c.Vph));
    a.Precise = precise;
    AnalyzeSession session(a);
    session.Run(s.Samples, c.SampleRate, [](const Reading&) {});
    const AnalysisCore& core = session.Core();
    std::vector<double> phases;
    const auto& entries = core.Tape.Entries;
    const auto end = std::min(entries.size(), static_cast<size_t>(core.Tape.TapeWriteIndex) + 1);
    constexpr size_t SkippedEntries = 40; // the templates' learning
    for (size_t i = SkippedEntries; i < end; ++i)
        if (entries[i].Time != 0) phases.push_back(entries[i].Phase * core.Derived.SamplesPerBeat);
    return phases;
}

// RMS of the phases about their straight line: the watch's rate is steady, so the rest is timing
// noise.
double ScatterAboutLine(const std::vector<double>& y) {
    const double n = static_cast<double>(y.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < y.size(); ++i) {
        const double x = static_cast<double>(i);
        sx += x;
        sy += y[i];
        sxx += x * x;
        sxy += x * y[i];
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double intercept = (sy - slope * sx) / n;
    double sum = 0;
    for (size_t i = 0; i < y.size(); ++i) {
        const double r = y[i] - (intercept + slope * static_cast<double>(i));
        sum += r * r;
    }
    return std::sqrt(sum / n);
}

// The paper tape's dots follow the refined times: a steady watch draws a straighter line.
TEST(PrecisionTiming, TapeDotsFollowTheRefinedTimes) {
    const WatchCase c{18000, 44100, 6.0, 0.0, 280, 12};
    const synth::SynthResult s = Record(c);
    const std::vector<double> standard = TapePhases(c, s, 0);
    const std::vector<double> precise = TapePhases(c, s, 1);
    ASSERT_GT(standard.size(), 100u);
    ASSERT_GT(precise.size(), 100u);
    EXPECT_LT(ScatterAboutLine(precise), 0.5 * ScatterAboutLine(standard));
}

TEST(PrecisionTiming, CommandLineSwitch) {
    std::string error;
    auto on = ParseAnalyzeArguments({"--precise", "1", "x.wav"}, error);
    ASSERT_TRUE(on) << error;
    EXPECT_EQ(on->Precise, 1);
    EXPECT_EQ(ParseAnalyzeArguments({"x.wav"}, error)->Precise, 1); // the command line's default
    auto off = ParseAnalyzeArguments({"--precise", "0", "x.wav"}, error);
    ASSERT_TRUE(off);
    EXPECT_EQ(off->Precise, 0);
    EXPECT_FALSE(ParseAnalyzeArguments({"--precise", "2", "x.wav"}, error));
    EXPECT_FALSE(ParseAnalyzeArguments({"x.wav", "--precise"}, error));
}

} // namespace
} // namespace kv
