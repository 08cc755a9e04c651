// SPDX-License-Identifier: GPL-3.0-or-later
// Tests of the realistic synthesizer and its presets: exact timing truth under messy sound,
// the levels each recording situation promises, and the command line's presets.
#include "RealisticSound.h"
#include "SynthPresets.h"
#include "audio/SoundFile.h"
#include "text/NumberText.h"

#include <gtest/gtest.h>

#include "support/SynthCommand.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

using kv::synth::FindPreset;
using kv::synth::SynthesizeRealistic;
using kv::synth::SynthOptions;
using kv::synth::SynthPreset;
using kv::synth::SynthResult;

constexpr double kFullScale = 32767.0;

SynthPreset Preset(const char* name, double seconds) {
    std::optional<SynthPreset> p = FindPreset(name);
    EXPECT_TRUE(p.has_value()) << name;
    if (!p) return {};
    p->Options.Seconds = seconds;
    return *p;
}

double PeakBetween(const SynthResult& r, uint32_t fs, double from, double to) {
    const auto a = static_cast<size_t>(std::ceil(from * fs));
    const auto b = std::min(r.Samples.size(), static_cast<size_t>(std::ceil(to * fs)));
    double peak = 0;
    for (size_t k = a; k < b; ++k)
        peak = std::max(peak, std::abs(static_cast<double>(r.Samples[k])));
    return peak;
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

TEST(RealisticTiming, EveryPresetGivesExactTruthAndRepeatsWithItsSeed) {
    for (std::string_view name : kv::synth::PresetNames()) {
        SCOPED_TRACE(name);
        const SynthPreset p = Preset(std::string(name).c_str(), 4);
        const SynthOptions& o = p.Options;
        const SynthResult r = SynthesizeRealistic(o, p.Realism);
        const double period = 3600 / o.BeatsPerHour * (1 - o.RateSecondsPerDay / 86400);
        EXPECT_NEAR(r.BeatPeriod, period, 1e-15);
        EXPECT_NEAR(r.LiftTime, kv::synth::LiftTimeFor(period, o.AmplitudeDeg, o.LiftAngleDeg),
                    1e-15);
        ASSERT_GT(r.UnlockTimes.size(), 10u);
        ASSERT_EQ(r.DropTimes.size(), r.UnlockTimes.size());
        for (size_t i = 0; i < r.DropTimes.size(); ++i)
            EXPECT_NEAR(r.DropTimes[i] - r.UnlockTimes[i], r.LiftTime, 1e-12);
        // Tick to tock and tock to tick differ by twice the beat error, as in the plain clicks.
        for (size_t i = 1; i + 1 < r.UnlockTimes.size(); i += 2) {
            const double first = r.UnlockTimes[i] - r.UnlockTimes[i - 1];
            const double second = r.UnlockTimes[i + 1] - r.UnlockTimes[i];
            EXPECT_NEAR((first - second) / 2, o.BeatErrorMs / 1000, 1e-12);
            EXPECT_NEAR(first + second, 2 * period, 1e-12);
        }
        EXPECT_EQ(SynthesizeRealistic(o, p.Realism).Samples, r.Samples);
        SynthOptions other = o;
        other.Seed = o.Seed + 1;
        EXPECT_NE(SynthesizeRealistic(other, p.Realism).Samples, r.Samples);
    }
}

// The drop is the loudest event of its tick: nothing between the unlock and the drop (the
// impulse, the unlock's ringing and its tail) reaches its peak. The background is silenced so
// that only the watch is compared.
TEST(RealisticTiming, DropDominatesItsTickAndNothingSoundsBeforeTheUnlock) {
    for (const char* name : {"laptop-mic", "contact-pickup", "phone"}) {
        SCOPED_TRACE(name);
        SynthPreset p = Preset(name, 6);
        p.Realism.NoiseDb = p.Realism.HissDb = p.Realism.HumDb = -200;
        p.Realism.DcOffset = 0;
        const SynthResult r = SynthesizeRealistic(p.Options, p.Realism);
        const uint32_t fs = p.Options.SampleRate;
        for (size_t i = 0; i < r.UnlockTimes.size(); ++i) {
            const double drop = PeakBetween(r, fs, r.DropTimes[i], r.DropTimes[i] + 1e-3);
            EXPECT_LT(PeakBetween(r, fs, r.UnlockTimes[i], r.DropTimes[i]), 0.8 * drop) << i;
        }
        EXPECT_LE(PeakBetween(r, fs, 0, r.UnlockTimes[0]), 1);
    }
}

TEST(RealisticLevels, PresetsPutTheTicksWhereTheirSituationDoes) {
    struct Case {
        const char* Name;
        double LowestMedian, HighestMedian; // median drop peak, fraction of full scale
        double LeastSpreadDb;               // loudest / quietest drop peak over the minute
        bool Clips;
    };
    const Case cases[] = {
        {"laptop-mic", 0.01, 0.025, 6, false},
        {"contact-pickup", 0.5, 1.0, 3, true},
        {"phone", 0.06, 0.16, 6, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const SynthPreset p = Preset(c.Name, 60);
        const SynthResult r = SynthesizeRealistic(p.Options, p.Realism);
        std::vector<double> peaks;
        for (double drop : r.DropTimes)
            peaks.push_back(PeakBetween(r, p.Options.SampleRate, drop, drop + 1e-3) / kFullScale);
        EXPECT_GT(Median(peaks), c.LowestMedian);
        EXPECT_LT(Median(peaks), c.HighestMedian);
        const auto [quietest, loudest] = std::minmax_element(peaks.begin(), peaks.end());
        EXPECT_GT(20 * std::log10(*loudest / *quietest), c.LeastSpreadDb);
        EXPECT_EQ(r.ClippedSamples > 0, c.Clips);
        // Even when some beats clip, the quieter ones stay clear of full scale.
        EXPECT_LT(*quietest, 0.9);
    }
}

TEST(RealisticLevels, KnocksClipOnlyWhileTheWatchIsHandled) {
    const SynthPreset p = Preset("knocks", 5);
    const SynthResult r = SynthesizeRealistic(p.Options, p.Realism);
    const uint32_t fs = p.Options.SampleRate;
    EXPECT_GT(r.ClippedSamples, 0u);
    EXPECT_GE(PeakBetween(r, fs, 0, p.Realism.KnockSeconds), kFullScale);
    EXPECT_LT(PeakBetween(r, fs, p.Realism.KnockSeconds, 5), 0.5 * kFullScale);
}

TEST(RealisticOptions, UnusableOptionsAreRefusedWithAReason) {
    struct Case {
        const char* What;
        void (*Change)(SynthPreset&);
    };
    const Case cases[] = {
        {"coaxial", [](SynthPreset& p) { p.Options.Kind = kv::synth::Movement::Coaxial; }},
        {"stereo", [](SynthPreset& p) { p.Options.Channels = 2; }},
        {"loud impulse", [](SynthPreset& p) { p.Realism.ImpulseDb = 3; }},
        {"loud tock unlock", [](SynthPreset& p) { p.Realism.TockUnlockDb = 8; }},
        {"ticks overlap", [](SynthPreset& p) { p.Options.BeatsPerHour = 300000; }},
        {"low-pass above Nyquist", [](SynthPreset& p) { p.Realism.LowPassHz = 9000; }},
    };
    for (const Case& c : cases) {
        SynthPreset p = Preset("phone", 2);
        ASSERT_EQ(kv::synth::ValidateRealism(p.Options, p.Realism), "");
        c.Change(p);
        EXPECT_NE(kv::synth::ValidateRealism(p.Options, p.Realism), "") << c.What;
        EXPECT_THROW(SynthesizeRealistic(p.Options, p.Realism), std::invalid_argument) << c.What;
    }
    EXPECT_FALSE(FindPreset("studio").has_value());
}

#ifdef KV_SYNTH_EXE

using PresetCommand = SynthCommand;

// The options given beside a preset win, wherever they stand on the line.
TEST_F(PresetCommand, OptionsGivenOverrideThePreset) {
    struct Case {
        const char* Preset;
        std::string Before, After; // options before and after --preset
        void (*Change)(SynthPreset&);
    };
    const Case cases[] = {
        {"phone", "", "", [](SynthPreset&) {}},
        {"phone", "--vph 21600", "--beat-error 1.2 --seed 4",
         [](SynthPreset& p) {
             p.Options.BeatsPerHour = 21600;
             p.Options.BeatErrorMs = 1.2;
             p.Options.Seed = 4;
         }},
        {"contact-pickup", "", "--rate-hz 48000 --amplitude 300 --tick-peak 0.3",
         [](SynthPreset& p) {
             p.Options.SampleRate = 48000;
             p.Options.AmplitudeDeg = 300;
             p.Realism.TickPeak = 0.3;
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string wav = Dir_ + "/" + std::to_string(n++) + ".wav";
        const std::string arguments =
            c.Before + " --preset " + c.Preset + " " + c.After + " --seconds 2 " + wav;
        ASSERT_EQ(Run(arguments), 0) << Read("err.txt");
        SynthPreset p = Preset(c.Preset, 2);
        c.Change(p);
        const SynthResult r = SynthesizeRealistic(p.Options, p.Realism);
        const std::string json = Read("out.txt");
        EXPECT_NE(json.find("\"preset\":\"" + std::string(p.Name) + "\""), std::string::npos);
        const std::string beatError =
            "\"beat_error_ms\":" + kv::FormatC("%.15g", p.Options.BeatErrorMs);
        EXPECT_NE(json.find(beatError), std::string::npos) << json;
        std::vector<int16_t> samples;
        unsigned rate = 0;
        int channels = 0;
        std::string error;
        ASSERT_TRUE(kv::ReadSoundFile(wav, samples, rate, channels, error)) << error;
        EXPECT_EQ(rate, p.Options.SampleRate) << arguments;
        EXPECT_EQ(samples, r.Samples) << arguments;
    }
}

TEST_F(PresetCommand, OggOutputIsALossyCopyOfTheSameSound) {
    ASSERT_EQ(Run("--preset laptop-mic --seconds 2 " + Dir_ + "/t.ogg"), 0) << Read("err.txt");
    SynthPreset p = Preset("laptop-mic", 2);
    const SynthResult r = SynthesizeRealistic(p.Options, p.Realism);
    std::vector<int16_t> decoded;
    unsigned rate = 0;
    int channels = 0;
    std::string error;
    ASSERT_TRUE(kv::ReadSoundFile(Dir_ + "/t.ogg", decoded, rate, channels, error)) << error;
    EXPECT_EQ(Read("t.ogg").substr(0, 4), "OggS");
    EXPECT_EQ(rate, 48000u);
    ASSERT_EQ(decoded.size(), r.Samples.size());
    EXPECT_NE(decoded, r.Samples);
    double signal = 0, difference = 0;
    for (size_t k = 0; k < decoded.size(); ++k) {
        signal += double(r.Samples[k]) * r.Samples[k];
        difference += std::pow(double(decoded[k]) - r.Samples[k], 2);
    }
    EXPECT_LT(difference, 0.25 * signal);
}

TEST_F(PresetCommand, BadPresetArgumentsExitTwo) {
    const std::string wav = " " + Dir_ + "/x.wav";
    for (const std::string& arguments :
         {"--preset studio" + wav, "--preset phone --noise 0.1" + wav,
          "--preset phone --movement lever" + wav, "--tick-peak 0.2" + wav,
          "--preset phone --rate-hz 8000" + wav, "--ogg-quality 2" + wav}) {
        EXPECT_EQ(Run(arguments), 2) << arguments;
        EXPECT_NE(Read("err.txt").find("usage: kestrovane-synth"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(Dir_ + "/x.wav"));
}

#endif // KV_SYNTH_EXE

} // namespace
