// SPDX-License-Identifier: GPL-3.0-or-later
// The bundled sample recording loops without a seam: played over and over it reads as one steady
// watch, which is what a newcomer sees on the first start.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/WaveFile.h"
#include "cli/AnalyzeSession.h"

namespace kv {
namespace {

// The sample's beat is 9599.5 samples at 48 kHz: 86400 / 19199 s/d fast.
constexpr double SampleRateSecondsPerDay = 86400.0 / 19199.0;
constexpr int DoubleBeatSamples = 19199;
constexpr int Loops = 3;
// One sample of timing (21 us) over the 8 s rate window is 0.23 s/d; a seam splice reads seconds
// off.
constexpr double RateTolerance = 0.25;

TEST(SampleRecording, IsAWholeNumberOfDoubleBeats) {
    const WaveReadResult sample = ReadWaveFile(KV_SAMPLE_WAV);
    ASSERT_TRUE(sample.Ok) << sample.Error;
    EXPECT_EQ(sample.Data.SampleRate, 48000u);
    EXPECT_EQ(sample.Data.Samples.size() % DoubleBeatSamples, 0u) << sample.Data.Samples.size();
}

TEST(SampleRecording, ReadsSteadyAcrossEveryLoopSeam) {
    const WaveReadResult sample = ReadWaveFile(KV_SAMPLE_WAV);
    ASSERT_TRUE(sample.Ok) << sample.Error;
    std::vector<int16_t> looped;
    for (int i = 0; i < Loops; ++i)
        looped.insert(looped.end(), sample.Data.Samples.begin(), sample.Data.Samples.end());

    AnalyzeOptions options;
    options.Every = 1.0;
    AnalyzeSession session(options);
    int fullWindows = 0;
    double firstDeviation = NAN;
    session.Run(looped, sample.Data.SampleRate, [&](const Reading& r) {
        if (!r.RateWindowFull || !r.RateSecondsPerDay) return;
        ++fullWindows;
        EXPECT_NEAR(*r.RateSecondsPerDay, SampleRateSecondsPerDay, RateTolerance)
            << "at " << r.Seconds;
        EXPECT_NEAR(r.AccumulatedRateSecondsPerDay.value_or(NAN), SampleRateSecondsPerDay,
                    RateTolerance)
            << "at " << r.Seconds;
        // The deviation grows by the rate alone: no jump where the recording starts again.
        const double offset =
            r.DeviationSeconds.value_or(NAN) - r.Seconds * SampleRateSecondsPerDay / 86400.0;
        if (std::isnan(firstDeviation)) firstDeviation = offset;
        EXPECT_NEAR(offset, firstDeviation, 0.0005) << "at " << r.Seconds;
    });
    EXPECT_GT(fullWindows, 150);
}

} // namespace
} // namespace kv
