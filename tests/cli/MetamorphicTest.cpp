// SPDX-License-Identifier: GPL-3.0-or-later
// Invariances of the readings on realistic synthetic sound: what the watch does is read the same
// whatever the level, and what changes in the sound's timing is read as exactly that change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "OggFile.h"
#include "SynthPresets.h"
#include "audio/SoundFile.h"
#include "cli/AnalyzeSession.h"

namespace kv {
namespace {

constexpr double SecondsPerDay = 86400.0;
constexpr double RecordingSeconds = 50.0;

struct Final {
    std::optional<double> Accumulated, BeatError, Amplitude;
    bool Complete() const { return Accumulated && BeatError && Amplitude; }
};

std::string Describe(const Final& f) {
    auto text = [](const std::optional<double>& v) { return v ? std::to_string(*v) : "null"; };
    return "accumulated " + text(f.Accumulated) + " s/d, beat error " + text(f.BeatError) +
           " ms, amplitude " + text(f.Amplitude);
}

struct Recording {
    std::vector<int16_t> Samples;
    unsigned SampleRate = 0;
    std::string Train;
    double BeatErrorMs = 0.0;
};

Recording Make(const std::string& preset, double extraBeatErrorMs = 0.0) {
    synth::SynthPreset p = *synth::FindPreset(preset);
    p.Options.Seconds = RecordingSeconds;
    p.Options.BeatErrorMs += extraBeatErrorMs;
    Recording r;
    r.Samples = synth::SynthesizeRealistic(p.Options, p.Realism).Samples;
    r.SampleRate = p.Options.SampleRate;
    r.Train = std::to_string(static_cast<int>(p.Options.BeatsPerHour));
    r.BeatErrorMs = p.Options.BeatErrorMs;
    return r;
}

// `agc`: the command line's --agc 1; `threshold`: a fixed threshold in per cent, 0 for none.
Final Measure(const Recording& r, bool agc, double threshold = 0.0) {
    AnalyzeOptions a = CommandLineDefaults();
    a.Train = r.Train;
    a.Agc = agc ? 1 : 0;
    if (threshold > 0.0) {
        a.AutoThreshold = 0;
        a.ThresholdPercent = threshold;
    }
    AnalyzeSession session(a);
    Reading last;
    session.Run(r.Samples, r.SampleRate, [&](const Reading& reading) { last = reading; });
    Final f{last.AccumulatedRateSecondsPerDay, last.BeatErrorMs, last.AmplitudeDegrees};
    if (f.BeatError) f.BeatError = std::fabs(*f.BeatError);
    return f;
}

std::vector<int16_t> Scaled(const std::vector<int16_t>& in, double factor) {
    std::vector<int16_t> out(in.size());
    std::transform(in.begin(), in.end(), out.begin(), [factor](int16_t x) {
        return static_cast<int16_t>(std::clamp(std::lround(x * factor), -32768L, 32767L));
    });
    return out;
}

// The recording played `ppm` parts per million slower: band-limited (windowed-sinc) resampling.
std::vector<int16_t> Stretched(const std::vector<int16_t>& in, double ppm) {
    constexpr int HalfTaps = 16; // sinc lobes either side: interpolation error far below the noise
    const double step = 1.0 / (1.0 + ppm * 1e-6);
    const size_t n = static_cast<size_t>((static_cast<double>(in.size()) - HalfTaps) / step);
    std::vector<int16_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        const double at = static_cast<double>(i) * step;
        const int64_t centre = static_cast<int64_t>(std::floor(at));
        double sum = 0.0;
        for (int64_t k = centre - HalfTaps + 1; k <= centre + HalfTaps; ++k) {
            if (k < 0 || k >= static_cast<int64_t>(in.size())) continue;
            const double x = at - static_cast<double>(k);
            const double sinc = x == 0.0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
            const double window = 0.5 + 0.5 * std::cos(M_PI * x / HalfTaps);
            sum += in[static_cast<size_t>(k)] * sinc * window;
        }
        out[i] = static_cast<int16_t>(std::clamp(std::lround(sum), -32768L, 32767L));
    }
    return out;
}

struct PresetCase {
    const char* Preset;
    bool Agc;
};

std::string Name(const ::testing::TestParamInfo<PresetCase>& info) {
    std::string name = info.param.Preset;
    std::replace(name.begin(), name.end(), '-', '_');
    return name + (info.param.Agc ? "_Agc" : "_Default");
}

class Metamorphic : public ::testing::TestWithParam<PresetCase> {};

// x0.25 ... x8, the loud end clipping at 16 bits: the same watch, the same readings.
TEST_P(Metamorphic, TheLevelChangesNoReading) {
    const Recording r = Make(GetParam().Preset);
    const Final reference = Measure(r, GetParam().Agc);
    ASSERT_TRUE(reference.Complete()) << Describe(reference);
    for (double factor : {0.25, 0.5, 2.0, 4.0, 8.0}) {
        Recording scaled = r;
        scaled.Samples = Scaled(r.Samples, factor);
        const Final f = Measure(scaled, GetParam().Agc);
        ASSERT_TRUE(f.Complete()) << "x" << factor << ": " << Describe(f);
        EXPECT_NEAR(*f.Accumulated, *reference.Accumulated, 0.5) << "x" << factor;
        EXPECT_NEAR(*f.BeatError, *reference.BeatError, 0.1) << "x" << factor;
        EXPECT_NEAR(*f.Amplitude, *reference.Amplitude, 0.05 * *reference.Amplitude)
            << "x" << factor;
    }
}

// A watch 100 ppm slower or faster reads 8.64 s/d slower or faster.
TEST_P(Metamorphic, ATimeStretchMovesTheRateByItsAmount) {
    const Recording r = Make(GetParam().Preset);
    const Final reference = Measure(r, GetParam().Agc);
    ASSERT_TRUE(reference.Accumulated);
    for (double ppm : {-100.0, 100.0}) {
        Recording stretched = r;
        stretched.Samples = Stretched(r.Samples, ppm);
        const Final f = Measure(stretched, GetParam().Agc);
        ASSERT_TRUE(f.Accumulated) << ppm << " ppm";
        EXPECT_NEAR(*f.Accumulated - *reference.Accumulated, -ppm * 1e-6 * SecondsPerDay, 0.3)
            << ppm << " ppm";
    }
}

// Every other tick 0.3 ms later: the beat error grows by 0.3 ms.
TEST_P(Metamorphic, DelayingEveryOtherTickMovesTheBeatErrorByTheDelay) {
    const Final before = Measure(Make(GetParam().Preset), GetParam().Agc);
    const Final after = Measure(Make(GetParam().Preset, 0.3), GetParam().Agc);
    ASSERT_TRUE(before.BeatError && after.BeatError)
        << Describe(before) << " / " << Describe(after);
    EXPECT_NEAR(*after.BeatError - *before.BeatError, 0.3, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Presets, Metamorphic,
                         ::testing::Values(PresetCase{"laptop-mic", false},
                                           PresetCase{"laptop-mic", true},
                                           PresetCase{"contact-pickup", false},
                                           PresetCase{"contact-pickup", true},
                                           PresetCase{"phone", false}, PresetCase{"phone", true}),
                         Name);

// Precision timing times both pallets from the same part of their sound, so the beat error does
// not follow the fixed threshold that found the ticks: at every threshold it is the automatic
// threshold's. The quiet microphone is raised so that its ticks stand above every threshold tried
// and its noise below.
TEST(MetamorphicThreshold, BeatErrorHoldsAtEveryFixedThreshold) {
    struct Case {
        const char* Preset;
        double Level;
        std::vector<double> Thresholds;
    };
    for (const Case& c : {Case{"laptop-mic", 16.0, {10.0, 20.0, 40.0}},
                          Case{"contact-pickup", 1.0, {2.0, 5.0, 10.0, 20.0, 40.0}}}) {
        Recording r = Make(c.Preset);
        r.Samples = Scaled(r.Samples, c.Level);
        const Final automatic = Measure(r, false);
        ASSERT_TRUE(automatic.BeatError) << c.Preset;
        for (double threshold : c.Thresholds) {
            const Final f = Measure(r, false, threshold);
            ASSERT_TRUE(f.BeatError) << c.Preset << " at " << threshold << " %";
            EXPECT_NEAR(*f.BeatError, *automatic.BeatError, 0.1)
                << c.Preset << " at " << threshold << " %";
        }
    }
}

// Shared recordings often come through a low-rate lossy codec, which smears the ticks' ringing:
// the copy of the laptop microphone still gives every reading, and the watch's. (A 16 kHz phone
// recording at the same quality is not read correctly yet.)
TEST(MetamorphicCoding, ALowRateOggCopyReadsLikeTheOriginal) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kv-ogg-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    {
        const char* preset = "laptop-mic";
        const Recording r = Make(preset);
        const std::string path = (dir / (std::string(preset) + ".ogg")).string();
        std::string error;
        ASSERT_TRUE(synth::WriteOggVorbis(path, r.Samples, r.SampleRate, 1,
                                          synth::kDefaultOggQuality, &error))
            << error;
        Recording coded = r;
        unsigned rate = 0;
        int channels = 0;
        ASSERT_TRUE(ReadSoundFile(path, coded.Samples, rate, channels, error)) << error;
        const Final original = Measure(r, false);
        const Final f = Measure(coded, false);
        ASSERT_TRUE(f.Complete()) << preset << ": " << Describe(f);
        EXPECT_NEAR(*f.Accumulated, *original.Accumulated, 0.5) << preset;
        EXPECT_NEAR(*f.BeatError, *original.BeatError, 0.1) << preset;
        EXPECT_NEAR(*f.Amplitude, *original.Amplitude, 0.05 * *original.Amplitude) << preset;
    }
    std::filesystem::remove_all(dir);
}

// The knocks of the first 1.3 s leave the accumulated rate of the recording without them.
TEST(MetamorphicJunk, KnocksAtTheStartLeaveTheAccumulatedRate) {
    for (bool agc : {false, true}) {
        const Final knocked = Measure(Make("knocks"), agc);
        const Final quiet = Measure(Make("laptop-mic"), agc);
        ASSERT_TRUE(knocked.Accumulated && quiet.Accumulated) << "agc " << agc;
        EXPECT_NEAR(*knocked.Accumulated, *quiet.Accumulated, 0.3) << "agc " << agc;
    }
}

} // namespace
} // namespace kv
