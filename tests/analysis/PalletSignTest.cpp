// SPDX-License-Identifier: GPL-3.0-or-later
// The beat error's sign belongs to a pallet: starting a recording on the other tick, or Clear
// landing on the other tick, must not turn it, or the long-term graph draws a step the watch never
// made.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "CoreHarness.h"
#include "SynthPresets.h"

namespace kv::test {
namespace {

struct SignCase {
    const char* Name;
    const char* Preset;
    double StartBeats;        // where in the recording measuring starts
    double ClearAfterSeconds; // Clear once after this much audio; 0 for none
};

// Tick and tock of these recordings sound different, as a real watch's do.
const SignCase kCases[] = {
    {"laptop, from the start", "laptop-mic", 0.5, 0},
    {"laptop, one beat later", "laptop-mic", 1.5, 0},
    {"laptop, cleared on a tick", "laptop-mic", 0.5, 6.0},
    {"laptop, cleared one beat later", "laptop-mic", 0.5, 6.0 + 1.0 / 6},
    {"pickup, from the start", "contact-pickup", 0.5, 0},
    {"pickup, one beat later", "contact-pickup", 1.5, 0},
    {"pickup, cleared one beat later", "contact-pickup", 0.5, 6.25},
};

// The signed beat error in milliseconds after 14 s of measuring.
double SignedBeatErrorMs(const SignCase& c, double& truthMs) {
    constexpr double MeasuredSeconds = 14;
    synth::SynthPreset preset = *synth::FindPreset(c.Preset);
    preset.Options.Seconds = MeasuredSeconds + 2;
    truthMs = preset.Options.BeatErrorMs;
    const unsigned rate = preset.Options.SampleRate;
    const std::vector<int16_t> all = SynthesizeRealistic(preset.Options, preset.Realism).Samples;
    const double beat = 3600.0 / preset.Options.BeatsPerHour;
    const auto start = static_cast<size_t>(c.StartBeats * beat * rate);
    std::vector<int16_t> samples(all.begin() + static_cast<std::ptrdiff_t>(start), all.end());

    CoreHarness h;
    h.Core.Settings.AutoThreshold = 1;
    h.Start(rate, (std::to_string(static_cast<int>(preset.Options.BeatsPerHour)) + " vph").c_str());
    const auto clearAt = static_cast<size_t>(c.ClearAfterSeconds * rate);
    if (clearAt > 0) {
        h.Feed({samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(clearAt)});
        h.Core.ResetDetector();
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(clearAt));
    }
    h.Feed(samples);
    EXPECT_TRUE(h.Core.Measurement.BeatErrorStable) << c.Name;
    return h.Core.Measurement.BeatError * h.Core.Derived.BeatPeriod * 1000.0;
}

TEST(PalletSign, TheBeatErrorKeepsItsSignWhicheverTickComesFirst) {
    double signOf[2] = {0, 0}; // per preset: the first case's sign
    for (const SignCase& c : kCases) {
        double truth = 0;
        const double be = SignedBeatErrorMs(c, truth);
        EXPECT_NEAR(std::fabs(be), truth, 0.3 * truth) << c.Name;
        double& sign = signOf[c.Preset[0] == 'l' ? 0 : 1];
        if (sign == 0) sign = std::copysign(1.0, be);
        EXPECT_EQ(std::copysign(1.0, be), sign) << c.Name << ": " << be << " ms";
    }
}

} // namespace
} // namespace kv::test
