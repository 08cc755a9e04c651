// SPDX-License-Identifier: GPL-3.0-or-later
// The tick refiner on clicks placed at known fractions of a sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "analysis/TickRefiner.h"

namespace kv {
namespace {

constexpr unsigned Rate = 48000;
constexpr double BeatSamples = 4800.37; // not a whole number: the onsets walk through the samples
constexpr int Beats = 120;

// A ringing click: three damped partials starting at `onset` (in samples, continuous).
double Click(double t, double onset) {
    const double s = (t - onset) / Rate;
    if (s < 0) return 0.0;
    constexpr double hz[] = {4100.0, 7300.0, 11900.0};
    constexpr double level[] = {1.0, 0.7, 0.5};
    double sum = 0.0;
    for (int k = 0; k < 3; ++k)
        sum += level[k] * std::exp(-s / 0.4e-3) * std::sin(2.0 * M_PI * hz[k] * s);
    return 8000.0 * sum;
}

struct Tick {
    double Onset;   // samples
    int64_t Unlock; // where a detector would see it
    bool Silent = false;
};

class Refining : public ::testing::Test {
protected:
    // Renders the ticks with a little noise, feeds the refiner sample by sample and refines each
    // tick as soon as its samples are in.
    std::vector<TickRefiner::Result> Run(const std::vector<Tick>& ticks) {
        refiner.Configure(Rate);
        const int64_t end = ticks.back().Unlock + refiner.SamplesAfterUnlock() + 1;
        std::mt19937 noise(5);
        std::normal_distribution<double> gaussian(0.0, 20.0);
        std::vector<TickRefiner::Result> results;
        size_t next = 0;
        for (int64_t i = 0; i < end && next < ticks.size(); ++i) {
            double y = gaussian(noise);
            const auto nearest = static_cast<size_t>(
                std::max(0.0, std::round((static_cast<double>(i) - 1000.0) / BeatSamples)));
            for (size_t k = nearest > 0 ? nearest - 1 : 0; k <= nearest + 1 && k < ticks.size();
                 ++k)
                if (!ticks[k].Silent) y += Click(static_cast<double>(i), ticks[k].Onset);
            refiner.Push(i, y);
            if (i == ticks[next].Unlock + refiner.SamplesAfterUnlock()) {
                results.push_back(refiner.Refine(ticks[next].Unlock, static_cast<int64_t>(next)));
                ++next;
            }
        }
        return results;
    }

    static std::vector<Tick> Steady() {
        std::vector<Tick> ticks;
        for (int k = 0; k < Beats; ++k) {
            const double onset = 1000.0 + k * BeatSamples;
            ticks.push_back({onset, static_cast<int64_t>(std::ceil(onset)) + 1});
        }
        return ticks;
    }

    TickRefiner refiner;
};

double Spread(const std::vector<double>& v) {
    double mean = 0.0;
    for (double x : v)
        mean += x / static_cast<double>(v.size());
    double sum = 0.0;
    for (double x : v)
        sum += (x - mean) * (x - mean);
    return std::sqrt(sum / static_cast<double>(v.size()));
}

TEST_F(Refining, RecoversTheFractionOfASampleAfterLearning) {
    const std::vector<Tick> ticks = Steady();
    const auto results = Run(ticks);
    ASSERT_EQ(results.size(), ticks.size());
    std::vector<double> detected, refined;
    for (size_t k = 0; k < ticks.size(); ++k) {
        if (k < 40) {
            // The first sixteen ticks of each pallet teach the template and keep their time.
            if (k < 32) {
                EXPECT_TRUE(results[k].Learning && !results[k].Refined) << k;
            }
            continue;
        }
        ASSERT_TRUE(results[k].Refined) << k;
        detected.push_back(static_cast<double>(ticks[k].Unlock) - ticks[k].Onset);
        refined.push_back(static_cast<double>(ticks[k].Unlock) + results[k].Shift - ticks[k].Onset);
    }
    EXPECT_GT(Spread(detected), 0.25); // whole samples: about 1/sqrt(12)
    EXPECT_LT(Spread(refined), 0.05);
    EXPECT_EQ(refiner.RefinedTicks() + refiner.FallbackTicks(), Beats);
}

TEST_F(Refining, WeakOrStrayTicksKeepTheirDetectedTime) {
    std::vector<Tick> ticks = Steady();
    ticks[60].Silent = true; // only noise where the tick should be
    // A tick heard a ringing period late (as a slipped match would be) disagrees with the
    // times its neighbours predict.
    ticks[71].Onset += 12.0;
    ticks[71].Unlock += 12;
    const auto results = Run(ticks);
    ASSERT_EQ(results.size(), ticks.size());
    EXPECT_FALSE(results[60].Refined);
    EXPECT_EQ(results[60].Shift, 0.0);
    EXPECT_FALSE(results[71].Refined);
    EXPECT_EQ(results[71].Shift, 0.0);
    // The ticks after them are refined again.
    EXPECT_TRUE(results[62].Refined);
    EXPECT_TRUE(results[75].Refined);
    EXPECT_EQ(refiner.FallbackTicks(), 32 + 2);
}

TEST_F(Refining, ResetStartsLearningAgain) {
    Run(Steady());
    refiner.Reset();
    std::vector<Tick> later = Steady();
    const auto results = Run(later);
    EXPECT_TRUE(results[0].Learning);
    EXPECT_TRUE(results[40].Refined);
}

} // namespace
} // namespace kv
